#include "faultharness.h"

#include "server.h"
#include "testpaths.h"
#include "timescale.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

namespace Faults {

namespace {

constexpr int kToolTimeoutMs = 120000;

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Leaks are the unit tests' business; a killed program cannot free anything.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    return env;
}

bool runTool(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess tool;
    tool.setProcessEnvironment(childEnvironment());
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(TestPaths::executable(program), arguments);
    if (!tool.waitForFinished(kToolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(tool.readAll());
        return false;
    }
    return true;
}

QString pack(
    const QString &dir, const QString &name, const QStringList &images, const QStringList &options, QString *error)
{
    const QString job = QDir(dir).filePath(name);
    QStringList arguments {QStringLiteral("ssj"), QStringLiteral("pack")};
    arguments << images << QStringLiteral("-o") << job << options;
    return runTool(QStringLiteral("tessora-cli"), arguments, error) ? job : QString();
}

QString readFile(const QString &path)
{
    return QString::fromUtf8(fileBytes(path));
}

// SIGTERM, then SIGKILL if it lingers; or SIGKILL at once.
void stopProcess(QProcess &process, int timeoutMs, bool terminate = true)
{
    if (process.state() == QProcess::NotRunning)
        return;
    if (terminate) {
        process.terminate();
        if (process.waitForFinished(timeoutMs))
            return;
    }
    process.kill();
    process.waitForFinished(timeoutMs);
}

void writeLine(QProcess &process, const QByteArray &line)
{
    process.write(line + '\n');
    process.waitForBytesWritten(5000);
}

QString sanitizerReport(const QString &output)
{
    static const QRegularExpression report(
        QStringLiteral("^.*(ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer|Segmentation fault).*$"),
        QRegularExpression::MultilineOption);
    return report.match(output).captured(0);
}

// The UTF-16 big-endian bytes of a message name, as they stand inside a frame.
QByteArray wireText(const char *text)
{
    QByteArray bytes;
    for (const char *c = text; *c; ++c) {
        bytes.append('\0');
        bytes.append(*c);
    }
    return bytes;
}

} // namespace

QString timeScaleText()
{
    return QString::number(kTimeScale);
}

quint16 freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    return socket.localPort();
}

int freeTcpBasePort()
{
    QTcpServer server;
    server.listen(QHostAddress::Any, 0);
    return int(server.serverPort()) - 1;
}

QString makeSampleJob(const QString &dir, const QString &name, int layers, QString *error, const QString &description)
{
    const QString layerDir = QDir(dir).filePath(name + QStringLiteral(".layers"));
    if (!runTool(
            QStringLiteral("ssj-sample-layers"), {layerDir, QStringLiteral("--count"), QString::number(layers)}, error))
        return QString();
    QStringList images;
    for (const QString &file : QDir(layerDir).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name))
        images << QDir(layerDir).filePath(file);
    return pack(
        dir, name, images, {QStringLiteral("--description"), description.isEmpty() ? name : description}, error);
}

QString makeNoiseJob(const QString &dir, const QString &name, int layers, QString *error)
{
    const QString layerDir = QDir(dir).filePath(name + QStringLiteral(".layers"));
    QDir().mkpath(layerDir);
    QRandomGenerator random(20240611);
    QStringList images;
    for (int i = 0; i < layers; ++i) {
        QImage image(1280, 800, QImage::Format_Grayscale8);
        for (int y = 0; y < image.height(); ++y) {
            uchar *line = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x)
                line[x] = uchar(random.bounded(256));
        }
        const QString file = QDir(layerDir).filePath(QStringLiteral("layer_%1.png").arg(i, 5, 10, QLatin1Char('0')));
        if (!image.save(file, "PNG")) {
            *error = QStringLiteral("cannot write ") + file;
            return QString();
        }
        images << file;
    }
    return pack(dir, name, images, {QStringLiteral("--anti-aliased")}, error);
}

PrintJob quickJob(int layers, const QString &resinName)
{
    PrintJob job;
    job.numAdhesionLayers = 1;
    job.adhesionLayerCureTime = 4;
    job.cureTime = 2;
    job.layerThickness = 50;
    job.adhesionThickness = 50;
    job.numImages = layers;
    job.resinName = resinName;
    return job;
}

QStringList leftoversBeside(const QString &path)
{
    const QFileInfo info(path);
    QStringList found;
    for (const QString &name : info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name != info.fileName() && name.contains(info.fileName()))
            found << name;
    }
    return found;
}

QString lineWith(const QString &text, const QString &needle)
{
    const QRegularExpression line(QStringLiteral("^.*") + QRegularExpression::escape(needle) + QStringLiteral(".*$"),
        QRegularExpression::MultilineOption);
    return line.match(text).captured(0);
}

bool prepare(QTemporaryDir &dir, XServer &x, QString *error)
{
    if (!dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!qEnvironmentVariableIsEmpty("TESSORA_FAULTS_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("KEPT %s\n", qPrintable(dir.path()));
        std::fflush(stdout);
    }
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    return x.start(error);
}

void outcome(const QString &scenario, const QString &text)
{
    std::printf("OUTCOME %s: %s\n", qPrintable(scenario), qPrintable(text));
    std::fflush(stdout);
}

// ---- XServer -----------------------------------------------------------------

bool XServer::start(QString *error, int screens)
{
    // The server picks a free display number and writes it on the descriptor
    // given: its standard output here.
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QStringList arguments {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
        QStringLiteral("tcp")};
    for (int screen = 0; screen < screens; ++screen)
        arguments << QStringLiteral("-screen") << QString::number(screen) << QStringLiteral("1280x800x24");
    m_process.start(QStringLiteral("Xvfb"), arguments);
    if (!m_process.waitForStarted(10000)) {
        *error = QStringLiteral("Xvfb does not start: ") + m_process.errorString();
        return false;
    }
    QByteArray number;
    waitFor(
        [&] {
            number += m_process.readAllStandardOutput();
            return number.contains('\n') || m_process.state() != QProcess::Running;
        },
        20000);
    bool ok = false;
    const int display = number.trimmed().toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("Xvfb named no display: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
        return false;
    }
    m_display = QStringLiteral(":%1").arg(display);
    return true;
}

XServer::~XServer()
{
    stopProcess(m_process, 5000);
}

// ---- Board -------------------------------------------------------------------

Board::~Board()
{
    stopProcess(m_process, 5000);
}

bool Board::start()
{
    m_process.setProcessEnvironment(childEnvironment());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(TestPaths::executable(QStringLiteral("vatnode-boardsim")),
        {QStringLiteral("--link"), linkPath(), QStringLiteral("--speed"), timeScaleText(), QStringLiteral("--log"),
            m_dir + QStringLiteral("/board.log")});
    return m_process.waitForStarted(10000)
        && waitFor([this] { return output().contains(QStringLiteral("board on ")); }, 20000);
}

void Board::control(const QByteArray &line)
{
    writeLine(m_process, line);
}

QStringList Board::received() const
{
    QStringList lines;
    for (const QString &line : readFile(m_dir + QStringLiteral("/board.log")).split(QLatin1Char('\n'))) {
        const int space = line.indexOf(QLatin1Char(' '));
        if (space > 0)
            lines << line.mid(space + 1);
    }
    return lines;
}

QString Board::output()
{
    m_output += m_process.readAll();
    return QString::fromLocal8Bit(m_output);
}

// ---- Printer -----------------------------------------------------------------

Printer::Printer(const QString &workdir, const QString &serialPort, quint16 discoveryPort, const QString &display)
    : m_workdir(workdir)
    , m_serialPort(serialPort)
    , m_discoveryPort(discoveryPort)
    , m_display(display)
{
    QDir().mkpath(workdir);
}

Printer::~Printer()
{
    stop();
}

bool Printer::start()
{
    ++m_runs;
    QProcessEnvironment env = childEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(path(QStringLiteral("vatnode.out")), QIODevice::Append);

    const QStringList arguments = QStringList {QStringLiteral("--workdir"), m_workdir, QStringLiteral("--serial-port"),
                                      m_serialPort, QStringLiteral("--time-scale"), timeScaleText(),
                                      QStringLiteral("--discovery-port"), QString::number(m_discoveryPort)}
        + m_extraArguments;
    m_process.start(TestPaths::executable(QStringLiteral("vatnode")), arguments);
    return m_process.waitForStarted(10000);
}

bool Printer::waitUntilListening(int timeoutMs)
{
    // The last words of the session's construction; announcements are read from then on.
    return waitForLog(QStringLiteral("Network List:"), m_runs, timeoutMs);
}

void Printer::kill()
{
    stopProcess(m_process, 10000, false);
}

void Printer::stop()
{
    stopProcess(m_process, 10000);
}

QString Printer::log() const
{
    return readFile(path(QStringLiteral("LogFile_Vatnode")));
}

bool Printer::waitForLog(const QString &text, int count, int timeoutMs)
{
    return waitFor([&] { return logCount(text) >= count; }, timeoutMs);
}

QString Printer::output() const
{
    return readFile(path(QStringLiteral("vatnode.out")));
}

// ---- Cli ---------------------------------------------------------------------

Cli::~Cli()
{
    kill();
}

QStringList Cli::network(quint16 discoveryPort, int basePort)
{
    return {QStringLiteral("--discovery-target"), QStringLiteral("127.0.0.1"), QStringLiteral("--discovery-port"),
        QString::number(discoveryPort), QStringLiteral("--base-port"), QString::number(basePort),
        QStringLiteral("--time-scale"), timeScaleText()};
}

bool Cli::start()
{
    m_process.setProcessEnvironment(childEnvironment());
    m_process.start(TestPaths::executable(QStringLiteral("tessora-cli")), m_arguments);
    return m_process.waitForStarted(10000);
}

void Cli::writeLine(const QByteArray &line)
{
    Faults::writeLine(m_process, line);
}

void Cli::collect()
{
    m_out += m_process.readAllStandardOutput();
    m_err += m_process.readAllStandardError();
}

bool Cli::waitForError(const QString &text, int timeoutMs)
{
    return waitFor([&] { return err().contains(text) || m_process.state() == QProcess::NotRunning; }, timeoutMs)
        && err().contains(text);
}

bool Cli::waitForFinished(int timeoutMs)
{
    const bool finished = waitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    collect();
    return finished;
}

void Cli::kill()
{
    stopProcess(m_process, 10000, false);
    collect();
}

QString Cli::out()
{
    collect();
    return QString::fromLocal8Bit(m_out);
}

QString Cli::err()
{
    collect();
    return QString::fromLocal8Bit(m_err);
}

QString Cli::transcript()
{
    return QStringLiteral("tessora-cli %1\n--- stdout:\n%2--- stderr:\n%3")
        .arg(m_arguments.join(QLatin1Char(' ')), out(), err());
}

// ---- LinkCutter --------------------------------------------------------------

LinkCutter::~LinkCutter()
{
    for (QTcpSocket *socket : {m_printer.data(), m_desktop.data()}) {
        if (socket) {
            socket->disconnect();
            socket->abort();
            delete socket;
        }
    }
}

bool LinkCutter::start()
{
    if (!m_tap.bind(QHostAddress(QHostAddress::LocalHost), 0) || !m_listener.listen(QHostAddress::LocalHost, 0))
        return false;
    QObject::connect(&m_tap, &QUdpSocket::readyRead, [this] { readAnnouncements(); });
    QObject::connect(&m_listener, &QTcpServer::newConnection, [this] { acceptPrinter(); });
    return true;
}

void LinkCutter::cutStreamAfter(qint64 bytes, Cut how)
{
    m_cutAfter = bytes;
    m_how = how;
}

void LinkCutter::readAnnouncements()
{
    static const QRegularExpression announcement(QStringLiteral("^ip:(.+)port:(\\d+)$"));
    while (m_tap.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_tap.receiveDatagram();
        const QRegularExpressionMatch match = announcement.match(QString::fromLatin1(datagram.data()));
        if (!match.hasMatch())
            continue;
        m_desktopPort = quint16(match.captured(2).toUInt());
        // The printer is told of this relay instead of the desktop.
        const QByteArray relayed = QStringLiteral("ip:127.0.0.1port:%1").arg(m_listener.serverPort()).toLatin1();
        m_tap.writeDatagram(relayed, QHostAddress::LocalHost, m_printerDiscoveryPort);
    }
}

void LinkCutter::acceptPrinter()
{
    while (QTcpSocket *incoming = m_listener.nextPendingConnection()) {
        if (m_printer || m_desktopPort == 0) {
            // One connection is relayed; a second one is refused.
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        auto *desktop = new QTcpSocket;
        desktop->connectToHost(QHostAddress::LocalHost, m_desktopPort);
        if (!desktop->waitForConnected(2000)) {
            delete desktop;
            incoming->abort();
            incoming->deleteLater();
            continue;
        }
        m_printer = incoming;
        m_desktop = desktop;
        QObject::connect(m_printer, &QTcpSocket::readyRead, [this] { fromPrinter(); });
        QObject::connect(m_desktop, &QTcpSocket::readyRead, [this] { fromDesktop(); });
        // Before the cut, an end on one side is the end of the other.
        QObject::connect(m_printer, &QTcpSocket::disconnected, [this] {
            if (!m_cut && m_desktop)
                m_desktop->disconnectFromHost();
        });
        QObject::connect(m_desktop, &QTcpSocket::disconnected, [this] {
            if (!m_cut && m_printer)
                m_printer->disconnectFromHost();
        });
        if (m_printer->bytesAvailable() > 0)
            fromPrinter();
    }
}

void LinkCutter::fromPrinter()
{
    if (!m_printer || !m_desktop)
        return;
    if (m_cut) {
        if (m_how == Cut::Close)
            m_printer->readAll(); // gone with the link
        return;
    }
    const QByteArray data = m_printer->readAll();
    if (!m_streamStarted) {
        // The request may arrive split over two reads: look at the seam too.
        static const QByteArray request = wireText("Client_Request_FileTransfer");
        m_printerTail += data;
        if (m_printerTail.contains(request))
            m_streamStarted = true;
        m_printerTail = m_printerTail.right(request.size());
    }
    m_desktop->write(data);
}

void LinkCutter::fromDesktop()
{
    if (!m_printer || !m_desktop)
        return;
    if (m_cut) {
        // A pulled cable reads nothing more: the desktop's writes back up.
        if (m_how == Cut::Close)
            m_desktop->readAll();
        return;
    }
    QByteArray data = m_desktop->readAll();
    if (m_streamStarted && m_cutAfter >= 0) {
        const qint64 room = m_cutAfter - m_streamRelayed;
        if (data.size() >= room) {
            m_printer->write(data.left(int(room)));
            m_streamRelayed += room;
            cut();
            return;
        }
        m_streamRelayed += data.size();
    }
    m_printer->write(data);
}

void LinkCutter::cut()
{
    m_cut = true;
    if (m_how == Cut::Silence)
        return;
    if (m_printer)
        m_printer->flush();
    // Let the printer take in what was relayed, then end both connections.
    QTimer::singleShot(300, [printer = m_printer, desktop = m_desktop] {
        if (printer)
            printer->abort();
        if (desktop)
            desktop->abort();
    });
}

// ---- DesktopLink -------------------------------------------------------------

DesktopLink::DesktopLink(quint16 printerDiscoveryPort)
    : m_server(std::make_unique<Server>())
{
    TimeScale::setFactor(kTimeScale);
    m_server->setDiscoveryTarget(QHostAddress(QHostAddress::LocalHost));
    m_server->setDiscoveryPort(printerDiscoveryPort);
    m_server->setBasePort(freeTcpBasePort());
    QObject::connect(m_server.get(), &Server::printerConnected,
        [this](const QString &connected, const QString &, const QString &reported) {
            serial = connected;
            status = reported;
        });
}

DesktopLink::~DesktopLink() = default;

bool DesktopLink::reconnect(int timeoutMs)
{
    const QString dropped = serial;
    serial.clear();
    status.clear();
    m_server->manuallyDisconnectPrinter(dropped);
    return waitForPrinter(timeoutMs) && serial == dropped;
}

bool DesktopLink::waitForPrinter(int timeoutMs)
{
    QTimer announce;
    QObject::connect(&announce, &QTimer::timeout, m_server.get(), &Server::broadcastIP);
    m_server->broadcastIP();
    announce.start(2000);
    return waitFor([this] { return !serial.isEmpty(); }, timeoutMs);
}

// ---- Rig ---------------------------------------------------------------------

Rig::Rig(const QString &folder, const QString &display)
    : dir(folder)
    , board(folder)
    , printer(folder + QStringLiteral("/printer"), folder + QStringLiteral("/board"), freeUdpPort(), display)
{
}

bool Rig::start(QString *error)
{
    if (!board.start()) {
        *error = QStringLiteral("the board does not start: ") + board.output();
        return false;
    }
    if (!restartPrinter()) {
        *error = QStringLiteral("the printer does not start: ") + printer.output();
        return false;
    }
    return true;
}

bool Rig::restartPrinter()
{
    return printer.start() && printer.waitUntilListening(60000);
}

QStringList Rig::printArguments(const QString &job, int waitSeconds, quint16 discoveryPort)
{
    return QStringList {QStringLiteral("print"), job, QStringLiteral("--resin"), QStringLiteral("Clear"),
               QStringLiteral("--wait"), QString::number(waitSeconds)}
    + Cli::network(discoveryPort ? discoveryPort : printer.discoveryPort(), nextBasePort());
}

QString Rig::printToEnd(const QString &job)
{
    Cli print(printArguments(job, 60));
    const bool printed = print.start() && print.waitForFinished(90000) && print.exitCode() == 0
        && print.out() == QLatin1String("print done\n");
    return printed ? QString() : print.transcript();
}

QString Rig::problems()
{
    const QString found = sanitizerReport(printer.output());
    return found.isEmpty() ? sanitizerReport(board.output()) : found;
}

} // namespace Faults
