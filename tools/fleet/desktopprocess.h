#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// The desktop of a fleet run, fleet-desktop, as a child process: commands go to its
// standard input, its events are read from its standard output (see fleet_desktop.cpp for
// both), and its processor time, memory and sockets are read from /proc.
class DesktopProcess : public QObject
{
public:
    struct Progress {
        qint64 count = 0;
        qint64 wrongName = 0;
        qint64 outOfOrder = 0;
        int lastLayer = 0;
    };
    struct Device {
        QString serial;
        bool handshakeCompleted = false;
        QString status;
    };
    struct Connection {
        QString nickname;
        QString status;
    };
    // Figures of the process from /proc; valid is false once it has ended.
    struct Figures {
        bool valid = false;
        double cpuSeconds = 0.0; // user and system time
        qint64 vmHwmKb = 0; // peak resident memory
        qint64 vmRssKb = 0;
        int threads = 0;
        int sockets = 0; // open file descriptors that are sockets
        int descriptors = 0;
    };

    DesktopProcess();
    ~DesktopProcess() override;

    bool start(const QString &program, const QStringList &arguments);
    QString errorString() const { return m_error; }
    qint64 pid() const;
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    void command(const QStringList &fields);

    // Asks for a report and waits for it; false if none came within the time.
    bool report(QMap<QString, Progress> *progress, QList<Device> *devices, int timeoutMs = 10000);
    Figures figures() const;

    // Asks the desktop to end and waits; false if it had to be killed.
    bool quit(int timeoutMs = 20000);
    int exitCode() const { return m_process.exitCode(); }
    bool crashed() const { return m_process.exitStatus() == QProcess::CrashExit; }
    QString standardError() const { return QString::fromLocal8Bit(m_stderr); }

    // Events seen so far.
    int listeningPort = 0;
    QStringList connectedOrder; // serials in order of their handshakes
    QMap<QString, QList<Connection>> connections;
    QStringList disconnected; // in order
    // What the user interface was told, in order: "+serial" connected, "-serial" gone.
    QStringList presence;
    // Whether the last word to the user interface about the serial was "connected".
    bool shownConnected(const QString &serial) const
    {
        for (int i = presence.size() - 1; i >= 0; --i) {
            if (presence.at(i).mid(1) == serial)
                return presence.at(i).startsWith(QLatin1Char('+'));
        }
        return false;
    }
    QStringList timeouts; // serials dropped by a heartbeat time-out, in order
    // Events addressed to a serial: name ("pause-done", "print-done", ...) -> serials.
    QMap<QString, QStringList> serialEvents;
    QStringList warnings;
    QStringList guiMessages;
    bool said(const QString &name) const { return m_said.contains(name); }

private:
    void readOutput();
    void handle(const QStringList &fields);

    QProcess m_process;
    QString m_error;
    QByteArray m_stdout;
    QByteArray m_stderr;
    QStringList m_said;
    bool m_reportDone = false;
    QMap<QString, Progress> m_reportProgress;
    QList<Device> m_reportDevices;
};
