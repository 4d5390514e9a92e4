#include "testpaths.h"

#include <QDir>

namespace TestPaths {
QString sourceDir()
{
    return QStringLiteral(TESSORA_SOURCE_DIR);
}
QString executable(const QString &name)
{
    return QDir(QStringLiteral(TESSORA_BIN_DIR)).filePath(name);
}
} // namespace TestPaths
