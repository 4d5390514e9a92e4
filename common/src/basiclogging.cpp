#include "basiclogging.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTime>

#include <cstdio>
#include <cstdlib>

namespace {

// Guards the path and the file writes. Messages arrive from the GUI thread,
// the printing thread and the watchdog thread at the same time.
QBasicMutex logMutex;

// Function-local so that it is initialised before its first use, even when a
// static initialiser of another file logs.
QString &logFilePathStorage()
{
    static QString path = QStringLiteral("LogFile_Vatnode");
    return path;
}

// Set while this thread writes to the log file. A message raised by the file
// code itself (QFile warns, for example, about an empty file name) then goes
// to stderr only, instead of recursing into the file write and its lock.
thread_local bool writingLogFile = false;

} // namespace

BasicLogging::BasicLogging(const QString &path)
{
    setLogFilePath(path);
}

void BasicLogging::setupBasicLogging()
{
    qInstallMessageHandler(messageHandlerPointer);
    clearLogFileIfTooBig();
}

void BasicLogging::clearLogFileIfTooBig()
{
    const QString path = logFilePath();
    const QFileInfo info(path);
    if (info.exists() && static_cast<double>(info.size()) > maxLogSize)
        QFile::remove(path);
}

void BasicLogging::messageHandlerPointer(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)
    const QByteArray localMessage = message.toLocal8Bit();
    // One fprintf per line: stdio locks the stream for the call, so stderr
    // lines from different threads stay whole.
    switch (type) {
    case QtDebugMsg:
        fprintf(stderr, "Debug: %s\n", localMessage.constData());
        writeMessageToLogFile(QStringLiteral("QDebug"), message);
        return;
    case QtWarningMsg:
        fprintf(stderr, "Warning: %s\n", localMessage.constData());
        writeMessageToLogFile(QStringLiteral("QWarning"), message);
        return;
    case QtCriticalMsg:
        fprintf(stderr, "Critical: %s\n", localMessage.constData());
        writeMessageToLogFile(QStringLiteral("QCritical"), message);
        return;
    case QtFatalMsg:
        fprintf(stderr, "Fatal: %s\n", localMessage.constData());
        writeMessageToLogFile(QStringLiteral("QFatal"), message);
        abort();
    default:
        return;
    }
}

void BasicLogging::writeMessageToLogFile(const QString &label, const QString &message)
{
    if (writingLogFile)
        return;
    writingLogFile = true;

    // The whole line, line feed included, is built first and handed to the
    // file in a single unbuffered write on a file opened for appending. Several
    // threads log at once; writing the parts separately (or through a buffered
    // stream that may flush in pieces) would let their lines interleave inside
    // a line. The lock also serialises the writers on systems where opening
    // for append only seeks to the end once instead of appending atomically.
    const QString line = QStringLiteral("%1 %2: %3\n")
                             .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")), label, message);
    const QByteArray bytes = line.toUtf8();
    {
        QMutexLocker locker(&logMutex);
        const QString &path = logFilePathStorage();
        if (!path.isEmpty()) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
                file.write(bytes);
                file.close();
            }
        }
    }

    writingLogFile = false;
}

QString BasicLogging::logFilePath()
{
    QMutexLocker locker(&logMutex);
    return logFilePathStorage();
}

void BasicLogging::setLogFilePath(const QString &path)
{
    QMutexLocker locker(&logMutex);
    logFilePathStorage() = path;
}

void logLine(const QString &line)
{
    qDebug().noquote() << line;
}
