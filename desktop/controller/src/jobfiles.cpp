#include "jobfiles.h"

#include <QFileInfo>
#include <QUrl>

namespace JobFiles {

namespace {

bool fileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// The local path named by a "file:" or "qrc:" URL; empty for anything else.
QString pathOfUrl(const QString &text)
{
    const QUrl url(text);
    if (!url.isValid())
        return {};
    if (url.isLocalFile())
        return url.toLocalFile();
    if (url.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + url.path();
    return {};
}

} // namespace

QString normalisedPath(const QString &path)
{
    if (fileExists(path))
        return path;
    QString fromUrl = pathOfUrl(path);
    if (fileExists(fromUrl))
        return fromUrl;
    // A URL that QUrl does not take as a local file (an unencoded "%", say): strip "file:"
    // and then "///" by hand. Only URLs: cutting any other path could land on a wrong file.
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        QString cutOnce = path.mid(5);
        if (fileExists(cutOnce))
            return cutOnce;
        QString cutTwice = cutOnce.mid(3);
        if (fileExists(cutTwice))
            return cutTwice;
    }
    return fromUrl.isEmpty() ? path : fromUrl;
}

QString ssjSaveName(const QString &chosenName)
{
    if (chosenName.isEmpty() || chosenName.endsWith(QLatin1String(".ssj"))
        || chosenName.endsWith(QLatin1String(".SSJ")))
        return chosenName;
    return chosenName + QLatin1String(".ssj");
}

} // namespace JobFiles
