#include "printercommands.h"

#include "clicommands.h"
#include "clientdevice.h"
#include "printerstate.h"
#include "printjob.h"
#include "printrule.h"
#include "progress.h"
#include "resincatalogue.h"
#include "server.h"
#include "timescale.h"

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
    const double timeScale = parser.value(QStringLiteral("time-scale")).toDouble(&ok);
    if (!ok || !(timeScale > 0.0) || timeScale > 1000.0) {
        usageError(err, QStringLiteral("--time-scale takes a number above 0"), commandUsage);
        return false;
    }
    TimeScale::setFactor(timeScale);
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
    addNetworkOptions(parser);
    parser.addOptions({
        {QStringLiteral("resin"), QStringLiteral("Resin profile of the printer."), QStringLiteral("NAME")},
        {QStringLiteral("printer"), QStringLiteral("Serial of the printer."), QStringLiteral("SERIAL")},
        {QStringLiteral("interactive"), QStringLiteral("Read pause, resume and cancel on standard input.")},
        {QStringLiteral("allow-update"),
            QStringLiteral("Install printer software over SSH when the printer asks for it.")},
    });
    if (!parser.parse(QStringList {QStringLiteral("tessora-cli print")} + arguments))
        return usageError(err, parser.errorText(), printUsage());
    if (parser.positionalArguments().size() != 1)
        return usageError(err, QStringLiteral("print takes one job file"), printUsage());
    if (!parser.isSet(QStringLiteral("resin")))
        return usageError(err, QStringLiteral("print needs --resin NAME"), printUsage());
    double wait = 0;
    if (!parseWait(parser, 60.0, &wait))
        return usageError(err, QStringLiteral("--wait takes seconds"), printUsage());

    const QString jobPath = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    PrintRule::JobFacts job;
    QString unreadable;
    if (!PrintRule::readJob(jobPath, &job, &unreadable))
        return failure(err, unreadable);
    const QString resinName = parser.value(QStringLiteral("resin"));
    const QString wantedSerial = parser.value(QStringLiteral("printer"));
    const bool updatesAllowed = parser.isSet(QStringLiteral("allow-update"));

    Server server;
    if (!configureServer(parser, server, err, printUsage()))
        return ExitUsage;
    server.setUpdatesAllowed(updatesAllowed);
    server.broadcastIP();
    if (server.currentPort() <= 0)
        return failure(err, QStringLiteral("no free TCP port from %1 on").arg(server.basePort() + 1));

    QEventLoop loop;
    int exitCode = ExitFailure;
    QString serial;
    const bool terminal = Progress::stderrIsTerminal();
    std::unique_ptr<Progress> transfer;
    std::unique_ptr<Progress> layers;
    const auto finish = [&](int code, const QString &line) {
        transfer.reset();
        layers.reset();
        exitCode = code;
        if (code == ExitSuccess)
            out << line << "\n";
        else
            err << "error: " << line << "\n";
        loop.quit();
    };

    QTimer announce;
    QObject::connect(&announce, &QTimer::timeout, &server, &Server::broadcastIP);
    announce.start(kAnnounceEveryMs);
    QTimer waiting;
    waiting.setSingleShot(true);
    QObject::connect(&waiting, &QTimer::timeout, &loop, [&] {
        finish(ExitFailure,
            wantedSerial.isEmpty()
                ? QStringLiteral("no printer connected within %1 s").arg(wait)
                : QStringLiteral("printer %1 did not connect within %2 s").arg(wantedSerial).arg(wait));
    });
    waiting.start(int(wait * 1000));

    QObject::connect(
        &server, &Server::printerConnected, &loop,
        [&](const QString &connected, const QString &, const QString &) {
            if (!serial.isEmpty() || (!wantedSerial.isEmpty() && connected != wantedSerial))
                return;
            ClientDevice *device = server.getDeviceFromSerial(connected);
            if (!device)
                return;
            if (device->isPrinting()) {
                err << "printer " << connected << " is busy (" << device->statusName() << ")\n";
                if (!wantedSerial.isEmpty())
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
                = PrintRule::jobForPrint(ResinCatalogue::builtIn(), printer, job, resinName);
            if (!decision.accepted()) {
                finish(ExitFailure, decision.refusal);
                return;
            }
            serial = connected;
            waiting.stop();
            announce.stop();
            const PrintJob &record = decision.job;
            err << "printer " << serial << " (" << device->nickname() << "): sending " << jobPath << ", "
                << record.numImages << " layers, " << resinName << " at " << record.layerThickness << " microns, about "
                << record.desktopEstimateMinutes() << " min\n";
            err.flush();
            server.sendPrintJob(serial, jobPath, record);
        },
        Qt::QueuedConnection);
    QElapsedTimer transferClock;
    QObject::connect(&server, &Server::sendUpdateBytesWritten, &loop, [&](qint64 written, qint64 total) {
        if (!transfer) {
            transfer = std::make_unique<Progress>(err, QStringLiteral("sending job"), total, terminal);
            transferClock.start();
        }
        transfer->update(written);
        if (written >= total) {
            transfer.reset();
            const double seconds = qMax<qint64>(1, transferClock.elapsed()) / 1000.0;
            err << "sent " << QString::number(total / 1e6, 'f', 1) << " MB in " << QString::number(seconds, 'f', 2)
                << " s (" << QString::number(total / 1e6 / seconds, 'f', 1) << " MB/s)\n";
            err.flush();
        }
    });
    QObject::connect(&server, &Server::updatePrintProgress, &loop,
        [&](const QString &from, int, int percent, int timeLeft, const QString &, const QString &, int) {
            if (from != serial)
                return;
            transfer.reset();
            if (!layers)
                layers = std::make_unique<Progress>(err, QStringLiteral("printing"), 100, terminal);
            layers->update(percent);
            Q_UNUSED(timeLeft)
        });
    bool cancelled = false;
    QObject::connect(&server, &Server::printCancelled, &loop, [&](const QString &from) {
        if (from == serial)
            cancelled = true; // with the printer's button
    });
    QObject::connect(&server, &Server::updatePrintDone, &loop, [&](const QString &from) {
        if (from == serial)
            finish(ExitSuccess, cancelled ? QStringLiteral("print cancelled") : QStringLiteral("print done"));
    });
    QObject::connect(&server, &Server::transmitPrinterError, &loop, [&](const QString &from, int number) {
        if (from == serial)
            finish(
                ExitFailure, QStringLiteral("printing error %1: %2").arg(number).arg(ClientDevice::errorText(number)));
    });
    QObject::connect(&server, &Server::printerDisconnected, &loop, [&](const QString &from) {
        if (from == serial)
            finish(ExitFailure, QStringLiteral("connection lost"));
    });
    // What the desktop would show in a window: update notices and SSH failures among them.
    QObject::connect(&server, &Server::sendMessageToGUI, &loop, [&](const QString &message) {
        err << "note: " << message << "\n";
        err.flush();
    });
    QObject::connect(&server, &Server::updateRequested, &loop, [&](const QString &from) {
        if (updatesAllowed) {
            err << "printer " << from << " needs a software update: installing it over SSH\n";
            err.flush();
        } else if (serial.isEmpty() && (wantedSerial.isEmpty() || from == wantedSerial)) {
            // Nothing is installed on a printer without the user's word.
            finish(ExitFailure,
                QStringLiteral("printer %1 needs a software update; run again with --allow-update to install it")
                    .arg(from));
        }
    });

    std::unique_ptr<QSocketNotifier> input;
    if (parser.isSet(QStringLiteral("interactive"))) {
        input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(input.get(), &QSocketNotifier::activated, &loop, [&] {
            char buffer[256];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                input->setEnabled(false);
                return;
            }
            for (const QByteArray &line : QByteArray(buffer, int(got)).split('\n')) {
                const QByteArray command = line.trimmed();
                if (serial.isEmpty() || command.isEmpty())
                    continue;
                if (command == "pause")
                    server.pauseJob(serial);
                else if (command == "resume")
                    server.resumeJob(serial);
                else if (command == "cancel") {
                    cancelled = true;
                    server.cancelJob(serial);
                } else
                    err << "unknown command '" << command << "' (pause, resume, cancel)\n";
                err.flush();
            }
        });
    }

    loop.exec();
    return exitCode;
}

} // namespace PrinterCommands
