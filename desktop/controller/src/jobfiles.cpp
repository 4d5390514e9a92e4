#include "jobfiles.h"

#include "basiclogging.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace JobFiles {

namespace {

const QString kPrintFolderPrefix = QStringLiteral("tessora-print-");
const QString kLastJobFolderKey = QStringLiteral("lastJobFolder");

QDir temporaryFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation));
}

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

QString proposedJobFileName(const QStringList &modelPaths)
{
    QStringList names;
    for (const QString &path : modelPaths) {
        const QString name = QFileInfo(path).completeBaseName();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names.isEmpty() ? QString() : names.join(QLatin1Char('+')) + QLatin1String(".ssj");
}

QString jobFolder(const QSettings &settings)
{
    const QString last = settings.value(kLastJobFolderKey).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void rememberJobFolder(QSettings &settings, const QString &jobPath)
{
    if (jobPath.isEmpty())
        return;
    settings.setValue(kLastJobFolderKey, QFileInfo(jobPath).absolutePath());
}

bool isInPrintFolder(const QString &jobPath)
{
    const QFileInfo folder(QFileInfo(jobPath).absolutePath());
    return folder.fileName().startsWith(kPrintFolderPrefix)
        && folder.absolutePath() == temporaryFolder().absolutePath();
}

QString newScratchJobPath(const QString &fileName)
{
    QTemporaryDir folder(temporaryFolder().absoluteFilePath(kPrintFolderPrefix + QStringLiteral("XXXXXX")));
    if (!folder.isValid()) {
        logLine(QStringLiteral("ERROR. JobFiles::newScratchJobPath. No folder for the job: ") + folder.errorString());
        return {};
    }
    folder.setAutoRemove(false);
    return folder.filePath(fileName.isEmpty() ? QStringLiteral("job.ssj") : fileName);
}

bool moveScratchJob(const QString &jobPath, const QString &destination)
{
    if (!QFileInfo(jobPath).isFile()) {
        logLine(QStringLiteral("ERROR. JobFiles::moveScratchJob. No job at ") + jobPath);
        return false;
    }
    // The save dialog has asked before replacing a file.
    if (QFileInfo::exists(destination))
        QFile::remove(destination);
    QFile job(jobPath);
    if (!job.rename(destination)) {
        logLine(QStringLiteral("ERROR. JobFiles::moveScratchJob. Could not move ") + jobPath + QStringLiteral(" to ")
            + destination + QStringLiteral(": ") + job.errorString());
        return false;
    }
    removePrintFolderOf(jobPath);
    return true;
}

void removePrintFolderOf(const QString &jobPath)
{
    if (isInPrintFolder(jobPath))
        QDir(QFileInfo(jobPath).absolutePath()).removeRecursively();
}

void removePrintFolders(int olderThanSeconds)
{
    const QDir temporary = temporaryFolder();
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-olderThanSeconds);
    const QFileInfoList folders
        = temporary.entryInfoList({kPrintFolderPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &folder : folders) {
        if (folder.lastModified().toUTC() < before)
            QDir(folder.absoluteFilePath()).removeRecursively();
    }
}

} // namespace JobFiles
