#include "testpaths.h"

#include <QDir>

namespace TestPaths {
QString sourceDir()
{
    return QStringLiteral(TESSORA_SOURCE_DIR);
}
QString binDir()
{
    return QStringLiteral(TESSORA_BIN_DIR);
}
QString executable(const QString &name)
{
    return QDir(binDir()).filePath(name);
}
} // namespace TestPaths
