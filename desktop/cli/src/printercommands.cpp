#include "printercommands.h"

#include "clicommands.h"
#include "clientdevice.h"
#include "printerstate.h"
#include "printjob.h"
#include "printrule.h"
#include "printtime.h"
#include "progress.h"
#include "standardinput.h"
#include "resincatalogue.h"
#include "server.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace PrinterCommands {

namespace {

using TessoraCli::ExitFailure;
using TessoraCli::ExitSuccess;
using TessoraCli::ExitUsage;

constexpr int kAnnounceEveryMs = 2000;

QString printersUsage()
{
    return QStringLiteral("  tessora-cli printers [--wait SECONDS] [--json] [NETWORK OPTIONS]\n");
}

QString printUsage()
{
    return QStringLiteral("  tessora-cli print JOB --resin NAME [--printer SERIAL] [--wait SECONDS] [--interactive] "
                          "[--allow-update] [NETWORK OPTIONS]\n"
                          "  network options: --discovery-target ADDR --discovery-port N --base-port N "
                          "[--time-scale F]\n");
}

int usageError(QTextStream &err, const QString &message, const QString &commandUsage)
{
    return TessoraCli::usageError(err, QStringLiteral("tessora-cli"), message, commandUsage);
}

using TessoraCli::failure;

void addNetworkOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("discovery-target"), QStringLiteral("Send the announcement to this address only."),
            QStringLiteral("ADDR")},
        {QStringLiteral("discovery-port"), QStringLiteral("UDP port of the announcement."), QStringLiteral("N"),
            QStringLiteral("49958")},
        {QStringLiteral("base-port"), QStringLiteral("TCP base port."), QStringLiteral("N"), QStringLiteral("50500")},
        {QStringLiteral("wait"), QStringLiteral("Seconds to wait for printers."), QStringLiteral("SECONDS")},
        {QStringLiteral("time-scale"),
            QStringLiteral("Heartbeat timer factor, to match a printer started with the same --time-scale."),
            QStringLiteral("F"), QStringLiteral("1.0")},
    });
}

// Applies the network options to the server; false (with the usage text) on bad values.
bool configureServer(QCommandLineParser &parser, Server &server, QTextStream &err, const QString &commandUsage)
{
    bool ok = false;
    const int discoveryPort = parser.value(QStringLiteral("discovery-port")).toInt(&ok);
    if (!ok || discoveryPort < 1 || discoveryPort > 65535) {
        usageError(err, QStringLiteral("--discovery-port takes a port number"), commandUsage);
        return false;
    }
    const int basePort = parser.value(QStringLiteral("base-port")).toInt(&ok);
    if (!ok || basePort < 1 || basePort > 65535 - 50) {
        usageError(err, QStringLiteral("--base-port takes a port number"), commandUsage);
        return false;
    }
    if (!TessoraCli::applyTimeScale(parser)) {
        usageError(err, QStringLiteral("--time-scale takes a number above 0"), commandUsage);
        return false;
    }
    server.setDiscoveryPort(discoveryPort);
    server.setBasePort(basePort);
    if (parser.isSet(QStringLiteral("discovery-target"))) {
        const QHostAddress target(parser.value(QStringLiteral("discovery-target")));
        if (target.isNull()) {
            usageError(err, QStringLiteral("--discovery-target takes an IP address"), commandUsage);
            return false;
        }
        server.setDiscoveryTarget(target);
    }
    return true;
}

bool parseWait(QCommandLineParser &parser, double fallback, double *seconds)
{
    if (!parser.isSet(QStringLiteral("wait"))) {
        *seconds = fallback;
        return true;
    }
    bool ok = false;
    *seconds = parser.value(QStringLiteral("wait")).toDouble(&ok);
    return ok && *seconds > 0 && *seconds < 1e6;
}

// What `print` was asked to do.
struct PrintRequest {
    QString jobPath; // absolute
    PrintRule::JobFacts job;
    QString resinName;
    QString wantedSerial; // empty: the first printer that connects
    bool updatesAllowed = false;
    bool interactive = false;
    double waitSeconds = 60.0;
};

void addPrintOptions(QCommandLineParser &parser)
{
    addNetworkOptions(parser);
    parser.addOptions({
        {QStringLiteral("resin"), QStringLiteral("Resin profile of the printer."), QStringLiteral("NAME")},
        {QStringLiteral("printer"), QStringLiteral("Serial of the printer."), QStringLiteral("SERIAL")},
        {QStringLiteral("interactive"), QStringLiteral("Read pause, resume and cancel on standard input.")},
        {QStringLiteral("allow-update"),
            QStringLiteral("Install printer software over SSH when the printer asks for it.")},
    });
}

// Parses the print command's arguments and reads the job; false with the exit status
// (bad usage, or an unreadable job) in `status`.
bool readPrintRequest(
    QCommandLineParser &parser, const QStringList &arguments, QTextStream &err, PrintRequest *request, int *status)
{
    const auto refuse = [&](const QString &message) {
        *status = usageError(err, message, printUsage());
        return false;
    };
    if (!parser.parse(QStringList {QStringLiteral("tessora-cli print")} + arguments))
        return refuse(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return refuse(QStringLiteral("print takes one job file"));
    if (!parser.isSet(QStringLiteral("resin")))
        return refuse(QStringLiteral("print needs --resin NAME"));
    if (!parseWait(parser, 60.0, &request->waitSeconds))
        return refuse(QStringLiteral("--wait takes seconds"));

    request->jobPath = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    QString unreadable;
    if (!PrintRule::readJob(request->jobPath, &request->job, &unreadable)) {
        *status = failure(err, unreadable);
        return false;
    }
    request->resinName = parser.value(QStringLiteral("resin"));
    request->wantedSerial = parser.value(QStringLiteral("printer"));
    request->updatesAllowed = parser.isSet(QStringLiteral("allow-update"));
    request->interactive = parser.isSet(QStringLiteral("interactive"));
    return true;
}

// One print from the command line, on its own event loop: announce and wait for the
// printer, send it the job, follow the transfer and the layers, and finish with the
// exit status when the printer reports the end, an error, or goes.
class PrintSession
{
public:
    PrintSession(Server &server, const PrintRequest &request, QTextStream &out, QTextStream &err)
        : m_server(server)
        , m_request(request)
        , m_out(out)
        , m_err(err)
        , m_terminal(Progress::stderrIsTerminal())
    {
    }

    // Runs the session to its end; the exit status.
    int run()
    {
        waitForPrinter();
        connectToServer();
        if (m_request.interactive)
            readCommands();
        m_loop.exec();
        return m_exitCode;
    }

private:
    // Announces this desktop until a printer is chosen, and gives up after the wait.
    void waitForPrinter()
    {
        QObject::connect(&m_announce, &QTimer::timeout, &m_server, &Server::broadcastIP);
        m_announce.start(kAnnounceEveryMs);
        m_waiting.setSingleShot(true);
        QObject::connect(&m_waiting, &QTimer::timeout, &m_loop, [this] {
            const double wait = m_request.waitSeconds;
            finish(ExitFailure,
                m_request.wantedSerial.isEmpty()
                    ? QStringLiteral("no printer connected within %1 s").arg(wait)
                    : QStringLiteral("printer %1 did not connect within %2 s").arg(m_request.wantedSerial).arg(wait));
        });
        m_waiting.start(int(m_request.waitSeconds * 1000));
    }

    void connectToServer()
    {
        QObject::connect(
            &m_server, &Server::printerConnected, &m_loop,
            [this](const QString &connected, const QString &, const QString &) { printerConnected(connected); },
            Qt::QueuedConnection);
        QObject::connect(&m_server, &Server::sendUpdateBytesWritten, &m_loop,
            [this](qint64 written, qint64 total) { followTransfer(written, total); });
        QObject::connect(&m_server, &Server::updatePrintProgress, &m_loop,
            [this](const QString &from, int, int percent, int, const QString &, const QString &, int) {
                followLayers(from, percent);
            });
        QObject::connect(&m_server, &Server::printCancelled, &m_loop, [this](const QString &from) {
            if (from == m_serial)
                m_cancelled = true; // with the printer's button
        });
        QObject::connect(&m_server, &Server::updatePrintDone, &m_loop, [this](const QString &from) {
            if (from == m_serial)
                finish(ExitSuccess, m_cancelled ? QStringLiteral("print cancelled") : QStringLiteral("print done"));
        });
        QObject::connect(&m_server, &Server::transmitPrinterError, &m_loop, [this](const QString &from, int number) {
            if (from == m_serial)
                finish(ExitFailure,
                    QStringLiteral("printing error %1: %2").arg(number).arg(ClientDevice::errorText(number)));
        });
        QObject::connect(&m_server, &Server::printerDisconnected, &m_loop, [this](const QString &from) {
            if (from == m_serial)
                finish(ExitFailure, QStringLiteral("connection lost"));
        });
        // What the desktop would show in a window: update notices and SSH failures among them.
        QObject::connect(&m_server, &Server::sendMessageToGUI, &m_loop, [this](const QString &message) {
            m_err << "note: " << message << "\n";
            m_err.flush();
        });
        QObject::connect(
            &m_server, &Server::updateRequested, &m_loop, [this](const QString &from) { updateRequested(from); });
    }

    // The first printer (or the wanted one) that is free and takes the job gets it.
    void printerConnected(const QString &connected)
    {
        const QString &wanted = m_request.wantedSerial;
        if (!m_serial.isEmpty() || (!wanted.isEmpty() && connected != wanted))
            return;
        ClientDevice *device = m_server.getDeviceFromSerial(connected);
        if (!device)
            return;
        if (device->isPrinting()) {
            m_err << "printer " << connected << " is busy (" << device->statusName() << ")\n";
            if (!wanted.isEmpty())
                finish(ExitFailure, QStringLiteral("printer %1 is busy").arg(connected));
            return;
        }
        // The window's rule: exposure from the desktop's catalogue for the printer's
        // model, calibration from the printer's own profile of the resin.
        PrinterState printer;
        printer.serial = device->serial();
        printer.nickname = device->nickname();
        printer.model = device->model();
        printer.resins = device->resins();
        const PrintRule::Decision decision
            = PrintRule::jobForPrint(ResinCatalogue::builtIn(), printer, m_request.job, m_request.resinName);
        if (!decision.accepted()) {
            finish(ExitFailure, decision.refusal);
            return;
        }
        send(connected, *device, decision.job);
    }

    void send(const QString &serial, const ClientDevice &device, const PrintJob &record)
    {
        m_serial = serial;
        m_waiting.stop();
        m_announce.stop();
        m_err << "printer " << m_serial << " (" << device.nickname() << "): sending " << m_request.jobPath << ", "
              << record.numImages << " layers, " << m_request.resinName << " at " << record.layerThickness
              << " microns, printer time about " << PrintTimeEstimate::of(record).text() << "\n";
        m_err.flush();
        m_server.sendPrintJob(m_serial, m_request.jobPath, record);
    }

    void followTransfer(qint64 written, qint64 total)
    {
        if (!m_transfer) {
            m_transfer = std::make_unique<Progress>(m_err, QStringLiteral("sending job"), total, m_terminal);
            m_transferClock.start();
        }
        m_transfer->update(written);
        if (written >= total) {
            m_transfer.reset();
            const double seconds = qMax<qint64>(1, m_transferClock.elapsed()) / 1000.0;
            m_err << "sent " << QString::number(total / 1e6, 'f', 1) << " MB in " << QString::number(seconds, 'f', 2)
                  << " s (" << QString::number(total / 1e6 / seconds, 'f', 1) << " MB/s)\n";
            m_err.flush();
        }
    }

    void followLayers(const QString &from, int percent)
    {
        if (from != m_serial)
            return;
        m_transfer.reset();
        if (!m_layers)
            m_layers = std::make_unique<Progress>(m_err, QStringLiteral("printing"), 100, m_terminal);
        m_layers->update(percent);
    }

    void updateRequested(const QString &from)
    {
        if (m_request.updatesAllowed) {
            m_err << "printer " << from << " needs a software update: installing it over SSH\n";
            m_err.flush();
        } else if (m_serial.isEmpty() && (m_request.wantedSerial.isEmpty() || from == m_request.wantedSerial)) {
            // Nothing is installed on a printer without the user's word.
            finish(ExitFailure,
                QStringLiteral("printer %1 needs a software update; run again with --allow-update to install it")
                    .arg(from));
        }
    }

    // pause, resume and cancel on standard input go to the printer once it has the job.
    void readCommands()
    {
        m_input = readStandardInputLines(&m_loop, [this](const QByteArray &line) { command(line); });
    }

    void command(const QByteArray &command)
    {
        if (m_serial.isEmpty() || command.isEmpty())
            return;
        if (command == "pause")
            m_server.pauseJob(m_serial);
        else if (command == "resume")
            m_server.resumeJob(m_serial);
        else if (command == "cancel") {
            m_cancelled = true;
            m_server.cancelJob(m_serial);
        } else
            m_err << "unknown command '" << command << "' (pause, resume, cancel)\n";
        m_err.flush();
    }

    void finish(int code, const QString &line)
    {
        m_transfer.reset();
        m_layers.reset();
        m_exitCode = code;
        if (code == ExitSuccess)
            m_out << line << "\n";
        else
            m_err << "error: " << line << "\n";
        m_loop.quit();
    }

    Server &m_server;
    const PrintRequest &m_request;
    QTextStream &m_out;
    QTextStream &m_err;
    const bool m_terminal;
    QEventLoop m_loop;
    QTimer m_announce;
    QTimer m_waiting;
    QElapsedTimer m_transferClock;
    std::unique_ptr<Progress> m_transfer;
    std::unique_ptr<Progress> m_layers;
    std::unique_ptr<QSocketNotifier> m_input;
    QString m_serial; // the printer that has the job
    bool m_cancelled = false;
    int m_exitCode = ExitFailure;
};

} // namespace

QString usage()
{
    return printersUsage() + printUsage();
}

int printers(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    addNetworkOptions(parser);
    parser.addOption({QStringLiteral("json"), QStringLiteral("One JSON array.")});
    if (!parser.parse(QStringList {QStringLiteral("tessora-cli printers")} + arguments))
        return usageError(err, parser.errorText(), printersUsage());
    if (!parser.positionalArguments().isEmpty())
        return usageError(err, QStringLiteral("printers takes no arguments"), printersUsage());
    double wait = 0;
    if (!parseWait(parser, 10.0, &wait))
        return usageError(err, QStringLiteral("--wait takes seconds"), printersUsage());

    Server server;
    if (!configureServer(parser, server, err, printersUsage()))
        return ExitUsage;
    server.broadcastIP();
    if (server.currentPort() <= 0)
        return failure(err, QStringLiteral("no free TCP port from %1 on").arg(server.basePort() + 1));
    QTimer announce;
    QObject::connect(&announce, &QTimer::timeout, &server, &Server::broadcastIP);
    announce.start(kAnnounceEveryMs);
    QEventLoop loop;
    QTimer::singleShot(int(wait * 1000), &loop, &QEventLoop::quit);
    loop.exec();

    QJsonArray list;
    for (ClientDevice *device : server.devices()) {
        if (!device->isHandshakeCompleted())
            continue;
        QJsonObject printer;
        printer.insert(QStringLiteral("serial"), device->serial());
        printer.insert(QStringLiteral("nickname"), device->nickname());
        printer.insert(QStringLiteral("model"), device->model());
        printer.insert(QStringLiteral("version"), device->version());
        printer.insert(QStringLiteral("status"), device->statusName());
        list.append(printer);
    }
    if (parser.isSet(QStringLiteral("json"))) {
        out << QJsonDocument(list).toJson(QJsonDocument::Compact) << "\n";
    } else if (list.isEmpty()) {
        out << "no printer answered\n";
    } else {
        for (const QJsonValue &value : list) {
            const QJsonObject printer = value.toObject();
            out << printer.value(QStringLiteral("serial")).toString() << "  "
                << printer.value(QStringLiteral("nickname")).toString() << "  "
                << printer.value(QStringLiteral("model")).toString() << "  "
                << printer.value(QStringLiteral("version")).toDouble() << "  "
                << printer.value(QStringLiteral("status")).toString() << "\n";
        }
    }
    return ExitSuccess;
}

int print(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    addPrintOptions(parser);
    PrintRequest request;
    int status = ExitUsage;
    if (!readPrintRequest(parser, arguments, err, &request, &status))
        return status;

    Server server;
    if (!configureServer(parser, server, err, printUsage()))
        return ExitUsage;
    server.setUpdatesAllowed(request.updatesAllowed);
    server.broadcastIP();
    if (server.currentPort() <= 0)
        return failure(err, QStringLiteral("no free TCP port from %1 on").arg(server.basePort() + 1));
    PrintSession session(server, request, out, err);
    return session.run();
}

} // namespace PrinterCommands
