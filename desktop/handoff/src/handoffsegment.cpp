#include "handoffsegment.h"

namespace HandOffSegment {

QString defaultKey()
{
    return QStringLiteral("TessoraSharedMemory");
}

bool isMarkedAsRead(const QByteArray &content)
{
    for (const char byte : content) {
        if (byte != readMark)
            return false;
    }
    return true;
}

bool isUnwritten(const QByteArray &content)
{
    if (content.isEmpty())
        return false;
    for (const char byte : content) {
        if (byte != '\0')
            return false;
    }
    return true;
}

QString pathOf(const QByteArray &content)
{
    const int end = content.indexOf('\0');
    return QString::fromLatin1(end < 0 ? content : content.left(end));
}

} // namespace HandOffSegment
