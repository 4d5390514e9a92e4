#include "systemactions.h"

#include "atomicfile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

namespace {

struct State {
    bool live = false;
    QString sandboxRoot; // empty: the current folder + "/system-root"
    QStringList commands;
    QHash<QString, QString> outputs;
};

QMutex &stateMutex()
{
    static QMutex mutex;
    return mutex;
}

State &state()
{
    static State s;
    return s;
}

QString sandboxRootLocked()
{
    const QString &root = state().sandboxRoot;
    return root.isEmpty() ? QDir::currentPath() + QStringLiteral("/system-root") : root;
}

// "." and ".." resolved, with ".." above the root dropped, so that no system path leaves
// the sandbox ("/../x" is "/x").
QString normalisedSystemPath(const QString &systemPath)
{
    QStringList kept;
    const QStringList parts = systemPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(part);
    }
    return QLatin1Char('/') + kept.join(QLatin1Char('/'));
}

void recordSimulated(const QString &what)
{
    qDebug().noquote() << QStringLiteral("SIMULATED: ") + what;
    QMutexLocker lock(&stateMutex());
    state().commands.append(what);
}

} // namespace

void SystemActions::configure(bool live, const QString &sandboxRoot)
{
    QMutexLocker lock(&stateMutex());
    state().live = live;
    state().sandboxRoot = sandboxRoot.isEmpty() ? QString() : QDir::cleanPath(QDir(sandboxRoot).absolutePath());
}

bool SystemActions::isLive()
{
    QMutexLocker lock(&stateMutex());
    return state().live;
}

QString SystemActions::sandboxRoot()
{
    QMutexLocker lock(&stateMutex());
    return sandboxRootLocked();
}

QString SystemActions::path(const QString &systemPath)
{
    if (QDir::isRelativePath(systemPath) || isLive())
        return systemPath;

    const QString result = sandboxRoot() + normalisedSystemPath(systemPath);
    QDir().mkpath(QFileInfo(result).absolutePath());
    return result;
}

bool SystemActions::exists(const QString &systemPath)
{
    return QFileInfo::exists(path(systemPath));
}

bool SystemActions::writeFile(const QString &systemPath, const QString &text)
{
    // Replaced only once everything is written; where the folder does not allow a temporary
    // file beside it (/etc on a printer whose files were made writable one by one), written
    // in place.
    const QString target = path(systemPath);
    QString error;
    if (AtomicFile::write(target, text.toUtf8(), &error, AtomicFile::InPlace::IfFolderLocked))
        return true;
    qDebug().noquote() << QStringLiteral("ERROR. SystemActions::writeFile. Could not write %1: %2").arg(target, error);
    return false;
}

QString SystemActions::run(const QString &command)
{
    if (!isLive()) {
        recordSimulated(command);
        QMutexLocker lock(&stateMutex());
        return state().outputs.value(command);
    }

    QProcess process;
    process.start(QStringLiteral("sh"), QStringList());
    if (!process.waitForStarted(commandTimeoutMs)) {
        qDebug().noquote() << QStringLiteral("ERROR. SystemActions::run. Could not start sh for: ") + command;
        return QString();
    }
    process.write(command.toUtf8());
    process.closeWriteChannel();
    process.waitForFinished(commandTimeoutMs);
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    process.close();
    return output;
}

bool SystemActions::startDetached(const QString &scriptSystemPath)
{
    if (!isLive()) {
        recordSimulated(scriptSystemPath);
        return true;
    }
    // Through "sh": the scripts are plain command lists without an interpreter line.
    return QProcess::startDetached(QStringLiteral("sh"), QStringList {path(scriptSystemPath)});
}

void SystemActions::setSimulatedOutput(const QString &command, const QString &output)
{
    QMutexLocker lock(&stateMutex());
    state().outputs.insert(command, output);
}

QStringList SystemActions::simulatedCommands()
{
    QMutexLocker lock(&stateMutex());
    return state().commands;
}

void SystemActions::clearSimulated()
{
    QMutexLocker lock(&stateMutex());
    state().commands.clear();
    state().outputs.clear();
}
