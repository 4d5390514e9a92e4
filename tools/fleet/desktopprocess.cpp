#include "desktopprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <unistd.h>

namespace {

// Standard error kept from the desktop: enough for a sanitizer report.
constexpr int kMaxStderrBytes = 4 * 1024 * 1024;

qint64 statusValueKb(const QByteArray &status, const QByteArray &key)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

DesktopProcess::DesktopProcess()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] { readOutput(); });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray bytes = m_process.readAllStandardError();
        if (m_stderr.size() < kMaxStderrBytes)
            m_stderr.append(bytes.left(kMaxStderrBytes - m_stderr.size()));
    });
}

DesktopProcess::~DesktopProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DesktopProcess::start(const QString &program, const QStringList &arguments)
{
    if (!QFileInfo(program).isExecutable()) {
        m_error = QStringLiteral("no desktop program at %1").arg(program);
        return false;
    }
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        return false;
    }
    return true;
}

qint64 DesktopProcess::pid() const
{
    return m_process.processId();
}

void DesktopProcess::command(const QStringList &fields)
{
    m_process.write(fields.join(QLatin1Char('\t')).toUtf8() + '\n');
}

void DesktopProcess::readOutput()
{
    m_stdout.append(m_process.readAllStandardOutput());
    for (int end = m_stdout.indexOf('\n'); end >= 0; end = m_stdout.indexOf('\n')) {
        const QString line = QString::fromUtf8(m_stdout.left(end));
        m_stdout.remove(0, end + 1);
        if (!line.isEmpty())
            handle(line.split(QLatin1Char('\t')));
    }
}

void DesktopProcess::handle(const QStringList &fields)
{
    const QString &name = fields.at(0);
    m_said << name;
    if (name == QLatin1String("listening")) {
        listeningPort = fields.value(1).toInt();
    } else if (name == QLatin1String("connected")) {
        connectedOrder << fields.value(1);
        connections[fields.value(1)] << Connection {fields.value(2), fields.value(3)};
        presence << QLatin1Char('+') + fields.value(1);
    } else if (name == QLatin1String("disconnected")) {
        disconnected << fields.value(1);
        presence << QLatin1Char('-') + fields.value(1);
    } else if (name == QLatin1String("timeout")) {
        timeouts << fields.value(1);
    } else if (name == QLatin1String("progress")) {
        Progress p;
        p.count = fields.value(2).toLongLong();
        p.wrongName = fields.value(3).toLongLong();
        p.outOfOrder = fields.value(4).toLongLong();
        p.lastLayer = fields.value(5).toInt();
        m_reportProgress.insert(fields.value(1), p);
    } else if (name == QLatin1String("device")) {
        m_reportDevices << Device {fields.value(1), fields.value(2) == QLatin1String("1"), fields.value(3)};
    } else if (name == QLatin1String("end-report")) {
        m_reportDone = true;
    } else if (name == QLatin1String("warning")) {
        warnings << fields.mid(1).join(QLatin1Char(' '));
    } else if (name == QLatin1String("gui")) {
        guiMessages << fields.mid(1).join(QLatin1Char(' '));
    } else if (name == QLatin1String("bye")) {
        // The end of the process follows.
    } else {
        serialEvents[name] << fields.value(1);
    }
}

bool DesktopProcess::report(QMap<QString, Progress> *progress, QList<Device> *devices, int timeoutMs)
{
    m_reportDone = false;
    m_reportProgress.clear();
    m_reportDevices.clear();
    command({QStringLiteral("report")});
    if (!QTest::qWaitFor([this] { return m_reportDone || !isRunning(); }, timeoutMs) || !m_reportDone)
        return false;
    if (progress)
        *progress = m_reportProgress;
    if (devices)
        *devices = m_reportDevices;
    return true;
}

DesktopProcess::Figures DesktopProcess::figures() const
{
    Figures figures;
    const qint64 id = pid();
    if (id <= 0 || !isRunning())
        return figures;
    const QString proc = QStringLiteral("/proc/%1/").arg(id);
    QFile statFile(proc + QStringLiteral("stat"));
    QFile statusFile(proc + QStringLiteral("status"));
    if (!statFile.open(QIODevice::ReadOnly) || !statusFile.open(QIODevice::ReadOnly))
        return figures;
    // The fields after the command name, which is in parentheses and may hold spaces:
    // state is field 3, utime 14, stime 15.
    const QByteArray stat = statFile.readAll();
    const QList<QByteArray> after = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    figures.cpuSeconds = (after.value(11).toLongLong() + after.value(12).toLongLong()) / ticks;
    const QByteArray status = statusFile.readAll();
    figures.vmHwmKb = statusValueKb(status, "VmHWM:");
    figures.vmRssKb = statusValueKb(status, "VmRSS:");
    figures.threads = static_cast<int>(statusValueKb(status, "Threads:"));
    const QDir fds(proc + QStringLiteral("fd"));
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    figures.descriptors = entries.size();
    for (const QString &entry : entries) {
        if (QFile::symLinkTarget(fds.filePath(entry)).contains(QLatin1String("socket:")))
            ++figures.sockets;
    }
    figures.valid = true;
    return figures;
}

bool DesktopProcess::quit(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    command({QStringLiteral("quit")});
    m_process.closeWriteChannel();
    if (QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs))
        return true;
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}
