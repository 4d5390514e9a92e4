// The desktop side of a fleet run: one real Server on a thread of its own, as the desktop
// program has it, reached from the main thread only through queued calls and signals. It
// runs in a process of its own so that its processor time and memory can be read from
// /proc, and is driven by commands on standard input.
//
// Commands, one per line, fields separated by tabs:
//   announce                           listen if needed and announce to 127.0.0.1
//   print <serial> <job file> <job line>   send that job (the record as PrintJob::toString)
//   pause <serial> | resume <serial> | cancel <serial>
//   report                             progress counts per serial, then the device list
//   quit                               destroy the Server on its thread and end
// End of input counts as quit.
//
// Events on standard output, one per line, fields separated by tabs:
//   listening <port>
//   connected <serial> <nickname> <status>      disconnected <serial>
//   timeout <serial>                   a heartbeat time-out dropped that printer
//   pause-done | resume-done | print-done | pause-started | resume-started | cancelled <serial>
//   error <serial> <number>            gui <text>        warning <text>
//   progress <serial> <count> <wrong name> <out of order> <last layer>
//   device <serial> <handshake completed 0|1> <status>
//   end-report                         bye
//
// A progress report has the wrong name when its job file name is not the one the fleet
// gives that serial ("fleet-<serial>.ssj"): a report relayed under another printer's serial.
#include "basiclogging.h"
#include "clientdevice.h"
#include "messages.h"
#include "printjob.h"
#include "protocol.h"
#include "server.h"
#include "timescale.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {

QMutex s_outputMutex;
bool s_logToFile = false;

void say(const QStringList &fields)
{
    const QByteArray line = fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    QMutexLocker locker(&s_outputMutex);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

// The desktop's log lines go to its log file as in the program (when one was given); the
// line of a heartbeat drop also becomes an event. Called on any thread.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static const QString dropLine = QStringLiteral("Server::socketAliveTimedOut");
    if (message.startsWith(dropLine)) {
        const int first = message.indexOf(QLatin1Char('"'));
        const int last = message.lastIndexOf(QLatin1Char('"'));
        say({QStringLiteral("timeout"),
            first >= 0 && last > first ? message.mid(first + 1, last - first - 1) : message});
    }
    QString label;
    switch (type) {
    case QtDebugMsg:
        label = QStringLiteral("QDebug");
        break;
    case QtInfoMsg:
        return;
    case QtWarningMsg:
        label = QStringLiteral("QWarning");
        break;
    case QtCriticalMsg:
        label = QStringLiteral("QCritical");
        break;
    case QtFatalMsg:
        label = QStringLiteral("QFatal");
        break;
    }
    if (s_logToFile)
        BasicLogging::writeMessageToLogFile(label, message);
    if (type != QtDebugMsg) {
        say({QStringLiteral("warning"), QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '))});
        std::fprintf(stderr, "%s: %s\n", qPrintable(label), qPrintable(message));
    }
    if (type == QtFatalMsg)
        std::abort();
}

struct Tally {
    qint64 count = 0;
    qint64 wrongName = 0;
    qint64 outOfOrder = 0;
    int lastLayer = 0;
};

class Desktop : public QObject
{
public:
    Desktop(Server *server, QThread *thread)
        : m_server(server)
        , m_thread(thread)
        , m_stdin(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&m_stdin, &QSocketNotifier::activated, this, [this] { readInput(); });
        // Every signal of the Server arrives here queued, as at the desktop's controller.
        connect(server, &Server::printerConnected, this,
            [](const QString &serial, const QString &nickname, const QString &status) {
                say({QStringLiteral("connected"), serial, nickname, status});
            });
        connect(server, &Server::printerDisconnected, this, [](const QString &serial) {
            say({QStringLiteral("disconnected"), serial});
        });
        connect(server, &Server::updatePrintProgress, this,
            [this](const QString &serial, int layer, int, int, const QString &ssjName, const QString &, int) {
                Tally &tally = m_tallies[serial];
                if (ssjName != QStringLiteral("fleet-%1.ssj").arg(serial))
                    ++tally.wrongName;
                if (tally.count > 0 && layer < tally.lastLayer)
                    ++tally.outOfOrder;
                ++tally.count;
                tally.lastLayer = layer;
            });
        const auto relay = [this](void (Server::*signal)(const QString &), const QString &name) {
            connect(m_server, signal, this, [name](const QString &serial) { say({name, serial}); });
        };
        relay(&Server::pauseCompleted, QStringLiteral("pause-done"));
        relay(&Server::resumeCompleted, QStringLiteral("resume-done"));
        relay(&Server::updatePrintDone, QStringLiteral("print-done"));
        relay(&Server::pauseStarted, QStringLiteral("pause-started"));
        relay(&Server::resumeStarted, QStringLiteral("resume-started"));
        relay(&Server::printCancelled, QStringLiteral("cancelled"));
        connect(server, &Server::transmitPrinterError, this, [](const QString &serial, int number) {
            say({QStringLiteral("error"), serial, QString::number(number)});
        });
        connect(server, &Server::sendMessageToGUI, this, [](const QString &text) {
            say({QStringLiteral("gui"), QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))});
        });
    }

private:
    void readInput()
    {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            quit();
            return;
        }
        m_input.append(buffer, static_cast<int>(count));
        for (int end = m_input.indexOf('\n'); end >= 0; end = m_input.indexOf('\n')) {
            const QString line = QString::fromUtf8(m_input.left(end)).trimmed();
            m_input.remove(0, end + 1);
            if (!line.isEmpty())
                command(line.split(QLatin1Char('\t')));
        }
    }

    void command(const QStringList &fields)
    {
        const QString &name = fields.at(0);
        Server *server = m_server;
        if (name == QLatin1String("announce")) {
            QMetaObject::invokeMethod(server, [server] {
                server->broadcastIP();
                say({QStringLiteral("listening"), QString::number(server->currentPort())});
            });
        } else if (name == QLatin1String("print") && fields.size() == 4) {
            const QString serial = fields.at(1);
            const QString path = fields.at(2);
            PrintJob job;
            job.setFromString(QLatin1String(Message::kSendingPrintJob) + QLatin1Char(',') + fields.at(3));
            // The record, path and serial are handed over in the same call as the send, so
            // that prints to several printers in a row cannot overwrite each other.
            QMetaObject::invokeMethod(server, [server, serial, path, job] {
                server->setPrintJobToSend(serial, path, job);
                server->sendPrint();
            });
        } else if (name == QLatin1String("pause") && fields.size() == 2) {
            QMetaObject::invokeMethod(server, "pauseJob", Q_ARG(QString, fields.at(1)));
        } else if (name == QLatin1String("resume") && fields.size() == 2) {
            QMetaObject::invokeMethod(server, "resumeJob", Q_ARG(QString, fields.at(1)));
        } else if (name == QLatin1String("cancel") && fields.size() == 2) {
            QMetaObject::invokeMethod(server, "cancelJob", Q_ARG(QString, fields.at(1)));
        } else if (name == QLatin1String("report")) {
            report();
        } else if (name == QLatin1String("quit")) {
            quit();
        } else {
            say({QStringLiteral("warning"), QStringLiteral("unknown command: ") + fields.join(QLatin1Char(' '))});
        }
    }

    void report()
    {
        for (auto it = m_tallies.cbegin(); it != m_tallies.cend(); ++it) {
            say({QStringLiteral("progress"), it.key(), QString::number(it->count), QString::number(it->wrongName),
                QString::number(it->outOfOrder), QString::number(it->lastLayer)});
        }
        QList<QStringList> devices;
        Server *server = m_server;
        QMetaObject::invokeMethod(
            server,
            [server, &devices] {
                const QList<ClientDevice *> list = server->devices();
                for (const ClientDevice *device : list) {
                    devices << QStringList {QStringLiteral("device"), device->serial(),
                        device->isHandshakeCompleted() ? QStringLiteral("1") : QStringLiteral("0"),
                        device->statusName()};
                }
            },
            Qt::BlockingQueuedConnection);
        for (const QStringList &device : qAsConst(devices))
            say(device);
        say({QStringLiteral("end-report")});
    }

    void quit()
    {
        if (m_quitting)
            return;
        m_quitting = true;
        m_stdin.setEnabled(false);
        Server *server = m_server;
        m_server = nullptr;
        server->disconnect(this);
        // The Server and its devices are destroyed on their own thread.
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
        say({QStringLiteral("bye")});
        QCoreApplication::quit();
    }

    Server *m_server;
    QThread *m_thread;
    QSocketNotifier m_stdin;
    QByteArray m_input;
    QMap<QString, Tally> m_tallies;
    bool m_quitting = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The desktop's printer server for a fleet run, driven by commands on standard input."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("base-port"), QStringLiteral("TCP ports tried are BASE+1 .. BASE+50."),
        QStringLiteral("BASE"), QString::number(Protocol::kBasePort)});
    parser.addOption({QStringLiteral("discovery-port"), QStringLiteral("UDP port of the announcement on 127.0.0.1."),
        QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("time-scale"), QStringLiteral("Factor on the heartbeat timings (default 1)."),
        QStringLiteral("FACTOR"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("log"), QStringLiteral("The desktop's log file (none when not given)."),
        QStringLiteral("FILE")});
    parser.process(app);

    bool ok = false;
    const int basePort = parser.value(QStringLiteral("base-port")).toInt(&ok);
    if (!ok || basePort < 1 || basePort > 65535 - 50) {
        std::fprintf(stderr, "error: --base-port takes a port from 1 to 65485\n");
        return 2;
    }
    const int discoveryPort = parser.value(QStringLiteral("discovery-port")).toInt(&ok);
    if (!ok || discoveryPort < 1 || discoveryPort > 65535) {
        std::fprintf(stderr, "error: --discovery-port takes a port from 1 to 65535\n");
        return 2;
    }
    const double timeScale = parser.value(QStringLiteral("time-scale")).toDouble(&ok);
    if (!ok || timeScale <= 0.0 || timeScale > 10.0) {
        std::fprintf(stderr, "error: --time-scale takes a factor above 0 and at most 10\n");
        return 2;
    }
    if (parser.isSet(QStringLiteral("log"))) {
        BasicLogging::setLogFilePath(parser.value(QStringLiteral("log")));
        s_logToFile = true;
    }
    qInstallMessageHandler(messageHandler);
    TimeScale::setFactor(timeScale);

    // As in the desktop program: the Server on a thread of its own. The announcement goes
    // to loopback only, never to a broadcast address.
    QThread thread;
    thread.setObjectName(QStringLiteral("server"));
    auto *server = new Server;
    server->setBasePort(basePort);
    server->setDiscoveryPort(discoveryPort);
    server->setDiscoveryTarget(QHostAddress(QHostAddress::LocalHost));
    server->moveToThread(&thread);
    thread.start();

    Desktop desktop(server, &thread);
    return app.exec();
}
