#pragma once

// The real programs on loopback, for faults that strike in the middle of a
// print: an X server of the test's own, vatnode-boardsim, vatnode and
// tessora-cli. Every process is started here and stopped here, by its own
// process id (so none of these classes can be copied). LinkCutter sits between
// printer and desktop and can break their connection in the middle of a job
// stream.

#include "printjob.h"
#include "waiting.h"

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <memory>

class Server;

// Fails the test with `text` unless it is empty (a transcript, a sanitizer's report).
#define FAULTS_VERIFY_NONE(text)                                                                                       \
    do {                                                                                                               \
        const QString found_ = (text);                                                                                 \
        QVERIFY2(found_.isEmpty(), qPrintable(found_));                                                                \
    } while (false)

namespace Faults {

// Every timer of every program runs at this factor: a second of the real
// printer (its layer cycle, its board, its heartbeat) lasts 50 ms here. A test
// may change it before it starts its programs. A slow machine (an emulator, whose
// programs answer the board late at this speed) sets TESSORA_TEST_TIME_SCALE.
inline double kTimeScale = qEnvironmentVariableIsSet("TESSORA_TEST_TIME_SCALE")
    ? qEnvironmentVariable("TESSORA_TEST_TIME_SCALE").toDouble()
    : 0.05;
QString timeScaleText();

// A UDP port nobody listens on, and a TCP base port whose first port is free.
quint16 freeUdpPort();
int freeTcpBasePort();

// Job files made with the real tools: the sample part's layers packed by
// tessora-cli (described as `description`, its name unless given); or layers
// of grey noise, which pack to about 1 MB a layer. Empty on failure, with the
// reason in *error.
QString makeSampleJob(
    const QString &dir, const QString &name, int layers, QString *error, const QString &description = {});
QString makeNoiseJob(const QString &dir, const QString &name, int layers, QString *error);

// The job line of a quick print of `layers` layers: one adhesion layer of 4 s, then 2 s a
// layer, 50 microns.
PrintJob quickJob(int layers, const QString &resinName = QStringLiteral("Clear"));

// Files beside `path` whose names begin with its name (temporary files of a
// write that did not finish), the file itself excepted.
QStringList leftoversBeside(const QString &path);

// The line of `text` holding `needle` first, empty when none.
QString lineWith(const QString &text, const QString &needle);

class XServer;
// The start of every scenario: its folder (kept, and its path printed, with
// TESSORA_FAULTS_KEEP set), the desktop link's debug log off (it speaks its
// mind on every message), and the X server the printer projects on.
bool prepare(QTemporaryDir &dir, XServer &x, QString *error);

// One line per scenario, read by tools/faults.sh.
void outcome(const QString &scenario, const QString &text);

// Xvfb on a display number it chooses itself, 1280 x 800 like the projector; with
// `screens` X screens of that size (each one screen for Qt).
class XServer
{
public:
    ~XServer();

    bool start(QString *error, int screens = 1);
    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

// vatnode-boardsim on DIR/board, logging every received line to DIR/board.log.
class Board
{
public:
    explicit Board(const QString &dir)
        : m_dir(dir)
    {
    }
    ~Board();

    bool start();
    // A control line on the board's standard input: unplug, plug, ...
    void control(const QByteArray &line);
    QString linkPath() const { return m_dir + QStringLiteral("/board"); }
    // Lines the board received, in order, without their time stamps.
    QStringList received() const;
    QString output();

private:
    QString m_dir;
    QProcess m_process;
    QByteArray m_output;
};

// vatnode in its own working folder, on the board's link, under the X server.
class Printer
{
public:
    Printer(const QString &workdir, const QString &serialPort, quint16 discoveryPort, const QString &display);
    ~Printer();

    // More options for vatnode (such as --simulate-output) at the next start.
    void setExtraArguments(const QStringList &arguments) { m_extraArguments = arguments; }

    bool start();
    // Waits until the session is built and listens for announcements.
    bool waitUntilListening(int timeoutMs);
    void kill(); // SIGKILL, as a power cut or the kernel would
    void stop(); // SIGTERM, then SIGKILL if it lingers
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

    QString path(const QString &name) const { return m_workdir + QLatin1Char('/') + name; }
    quint16 discoveryPort() const { return m_discoveryPort; }
    QString log() const;
    int logCount(const QString &text) const { return int(log().count(text)); }
    bool waitForLog(const QString &text, int count, int timeoutMs);
    // Everything the program wrote on standard output and error, over all its runs.
    QString output() const;

private:
    QString m_workdir;
    QString m_serialPort;
    quint16 m_discoveryPort;
    QString m_display;
    QStringList m_extraArguments;
    QProcess m_process;
    int m_runs = 0;
};

// One run of tessora-cli.
class Cli
{
public:
    explicit Cli(const QStringList &arguments)
        : m_arguments(arguments)
    {
    }
    ~Cli();

    // --discovery-target 127.0.0.1 and the ports, and the tests' time scale.
    static QStringList network(quint16 discoveryPort, int basePort);

    bool start();
    // A line on the command's standard input (an interactive command).
    void writeLine(const QByteArray &line);
    bool waitForError(const QString &text, int timeoutMs);
    bool waitForFinished(int timeoutMs);
    void kill();
    int exitCode() const { return m_process.exitCode(); }
    QString out();
    QString err();
    // The command and what it said, for failure messages.
    QString transcript();

private:
    void collect();

    QStringList m_arguments;
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

// Plays the network between printer and desktop. It listens for the
// desktop's announcement on tapPort(), announces itself to the printer in the
// desktop's place, and relays the one connection byte for byte. Once the
// printer has asked for the job file, it relays `bytes` bytes of the stream
// and then breaks the link: Close ends the connection on both sides (as a
// router that resets it), Silence relays nothing more in either direction and
// keeps both connections open (as a cable pulled out).
class LinkCutter
{
public:
    enum class Cut { Close, Silence };

    explicit LinkCutter(quint16 printerDiscoveryPort)
        : m_printerDiscoveryPort(printerDiscoveryPort)
    {
    }
    ~LinkCutter();

    bool start();
    quint16 tapPort() const { return m_tap.localPort(); }
    void cutStreamAfter(qint64 bytes, Cut how);
    bool hasCut() const { return m_cut; }
    qint64 streamBytesRelayed() const { return m_streamRelayed; }

private:
    void readAnnouncements();
    void acceptPrinter();
    void fromPrinter();
    void fromDesktop();
    void cut();

    quint16 m_printerDiscoveryPort;
    QUdpSocket m_tap;
    QTcpServer m_listener;
    quint16 m_desktopPort = 0;
    QPointer<QTcpSocket> m_printer;
    QPointer<QTcpSocket> m_desktop;
    QByteArray m_printerTail;
    bool m_streamStarted = false;
    qint64 m_cutAfter = -1;
    Cut m_how = Cut::Close;
    qint64 m_streamRelayed = 0;
    bool m_cut = false;
};

// A desktop in this process: the desktop program's printer link (Server and
// its device sessions), announcing itself to one printer on loopback. For
// what tessora-cli has no command for: a print it did not start, renames.
class DesktopLink
{
public:
    explicit DesktopLink(quint16 printerDiscoveryPort);
    ~DesktopLink();

    // Announces every 2 s until a printer completed its handshake.
    bool waitForPrinter(int timeoutMs);
    // Drops the printer and waits until it connects afresh (its handshake then
    // says what it is doing).
    bool reconnect(int timeoutMs);
    Server &server() { return *m_server; }
    // The printer's serial and the status it reported at the handshake.
    QString serial;
    QString status;

private:
    std::unique_ptr<Server> m_server;
};

// The board and the printer of one scenario, in a folder of their own, with
// ports of their own.
class Rig
{
public:
    Rig(const QString &dir, const QString &display);

    // Starts the board, then the printer, and waits until the printer listens.
    bool start(QString *error);
    // Starts the printer again and waits until it listens.
    bool restartPrinter();
    // A TCP base port not given before: each desktop of the scenario its own.
    int nextBasePort() { return freeTcpBasePort(); }
    // `tessora-cli print JOB --resin Clear`, announced to the printer directly,
    // or to `discoveryPort` when given (a LinkCutter's).
    QStringList printArguments(const QString &job, int waitSeconds, quint16 discoveryPort = 0);
    // Prints the job with tessora-cli to its end: empty when it printed, the
    // command's transcript otherwise.
    QString printToEnd(const QString &job);
    // The printer's settings file and the job it holds.
    QString settingsFile() const { return printer.path(QStringLiteral("Tessora_Client_Config")); }
    QString storedJob() const { return printer.path(QStringLiteral("MySSJFile.ssj")); }
    // Sanitizer reports and crashes in the programs' output, empty when none.
    QString problems();

    QString dir;
    Board board;
    Printer printer;
};

} // namespace Faults
