#include "boardsimapp.h"

#include "boardsim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>

#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop does the rest.
void onTerminationSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

bool installSignalPipe()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        return false;
    struct sigaction action {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(signalNumber, &action, nullptr) < 0)
            return false;
    }
    // A closed standard output must not kill the board before it removes its link.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Started with a standard descriptor closed, the pseudo-terminal could take its
// number and be read as control input: keep 0, 1 and 2 taken.
void occupyStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
}

void say(const QString &text)
{
    std::fprintf(stdout, "vatnode-boardsim: %s\n", qPrintable(text));
    std::fflush(stdout);
}

void complain(const QString &text)
{
    std::fprintf(stderr, "vatnode-boardsim: %s\n", qPrintable(text));
    std::fflush(stderr);
}

QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        if (c == '\r')
            text += QLatin1String("\\r");
        else if (c == '\n')
            text += QLatin1String("\\n");
        else
            text += QLatin1Char(c);
    }
    return text;
}

const char *const controlHelp = "control lines:\n"
                                "  press        the front button is pressed (BP)\n"
                                "  release      the front button is released (BR)\n"
                                "  self-reset   the board resets by itself (WSNSD, then Z0 after homing)\n"
                                "  unplug       the USB link goes (the link disappears, the client gets an error)\n"
                                "  plug         the USB link comes back on a new pseudo-terminal\n"
                                "  lamp-silent  the lamp stops confirming it is on (no P1 until P0 and P1 again)\n"
                                "  lamp-off     the board reports the lamp off (P0)\n"
                                "  stall        moves (N..., f) are no longer answered\n"
                                "  unstall      moves are answered again\n"
                                "  help         this list\n";

// Reads control lines from standard input; at its end the board keeps running.
class ControlInput : public QObject
{
public:
    explicit ControlInput(BoardSimulator &board)
        : m_board(board)
        , m_notifier(STDIN_FILENO, QSocketNotifier::Read, this)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &ControlInput::readInput);
    }

private:
    void readInput()
    {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            m_notifier.setEnabled(false);
            return;
        }
        m_pending.append(buffer, int(n));
        for (int end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            const QString line = QString::fromLocal8Bit(m_pending.left(end)).trimmed();
            m_pending.remove(0, end + 1);
            if (!line.isEmpty())
                control(line);
        }
    }

    void control(const QString &line)
    {
        const bool listening = m_board.clientCount() != 0;
        const QString lost = listening ? QString() : QStringLiteral(" (nobody has the port open)");
        if (line == QLatin1String("help")) {
            std::fputs(controlHelp, stdout);
            std::fflush(stdout);
        } else if (line == QLatin1String("press")) {
            m_board.press();
            say(QStringLiteral("button pressed (BP)") + lost);
        } else if (line == QLatin1String("release")) {
            m_board.release();
            say(QStringLiteral("button released (BR)") + lost);
        } else if (line == QLatin1String("self-reset")) {
            m_board.selfReset();
            say(QStringLiteral("board reset by itself (WSNSD, then Z0 after homing)") + lost);
        } else if (line == QLatin1String("unplug")) {
            if (!m_board.isPlugged()) {
                complain(QStringLiteral("already unplugged"));
                return;
            }
            m_board.unplug();
            say(QStringLiteral("unplugged, %1 removed").arg(m_board.linkPath()));
        } else if (line == QLatin1String("plug")) {
            if (m_board.isPlugged()) {
                complain(QStringLiteral("already plugged in"));
                return;
            }
            if (m_board.plug())
                say(QStringLiteral("board on %1 -> %2").arg(m_board.linkPath(), m_board.devicePath()));
            else
                complain(QStringLiteral("cannot plug in: %1").arg(m_board.errorString()));
        } else if (line == QLatin1String("lamp-silent")) {
            m_board.lampSilent();
            say(QStringLiteral("lamp silent: no P1 until the lamp is switched off and on again"));
        } else if (line == QLatin1String("lamp-off")) {
            m_board.lampOff();
            say(QStringLiteral("lamp reported off (P0)") + lost);
        } else if (line == QLatin1String("stall")) {
            m_board.stall();
            say(QStringLiteral("stalled: moves are not answered"));
        } else if (line == QLatin1String("unstall")) {
            m_board.unstall();
            say(QStringLiteral("moves are answered again"));
        } else {
            complain(QStringLiteral("unknown control line '%1' (type help)").arg(line));
        }
    }

    BoardSimulator &m_board;
    QSocketNotifier m_notifier;
    QByteArray m_pending;
};

// What the command line asks for.
struct BoardOptions {
    QString linkPath;
    double speed = 1.0;
    QString logPath;
    bool verbose = false;
};

// Reads the command line; false with the exit status when the program stops there (a
// wrong option). --help prints the help text and ends the process.
bool parseOptions(QCommandLineParser &parser, BoardOptions *options, int *status)
{
    parser.setApplicationDescription(
        QStringLiteral("Simulated motor and projector board on a pseudo-terminal. Control lines on standard\n"
                       "input play the hardware: press, release, self-reset, unplug, plug, lamp-silent,\n"
                       "lamp-off, stall, unstall, help."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Make PATH a symbolic link to the board's pseudo-terminal."), QStringLiteral("PATH"));
    const QCommandLineOption speedOption(QStringLiteral("speed"),
        QStringLiteral("Multiply every board delay by F (default 1.0)."), QStringLiteral("F"), QStringLiteral("1"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Append every line received, with a time stamp, to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Show every line received and every answer sent on standard error."));
    parser.addOptions({linkOption, speedOption, logOption, verboseOption});

    const auto badUsage = [&parser, status](const QString &why) {
        std::fprintf(stderr, "vatnode-boardsim: %s\n\n%s", qPrintable(why), qPrintable(parser.helpText()));
        *status = 2;
        return false;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return badUsage(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return badUsage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    if (!parser.isSet(linkOption) || parser.value(linkOption).isEmpty())
        return badUsage(QStringLiteral("--link PATH is required"));
    bool speedOk = false;
    options->speed = parser.value(speedOption).toDouble(&speedOk);
    if (!speedOk || !(options->speed > 0) || !qIsFinite(options->speed))
        return badUsage(QStringLiteral("--speed needs a positive number, not '%1'").arg(parser.value(speedOption)));
    options->linkPath = parser.value(linkOption);
    options->logPath = parser.value(logOption);
    options->verbose = parser.isSet(verboseOption);
    return true;
}

// A termination signal ends the event loop, so that the board removes its link.
void quitOnSignal(QSocketNotifier &signalNotifier)
{
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) { }
        QCoreApplication::quit();
    });
}

// Every line received and every answer sent, on standard error.
void showTraffic(BoardSimulator &board)
{
    QObject *app = QCoreApplication::instance();
    QObject::connect(&board, &BoardSimulator::lineReceived, app,
        [](const QString &line) { complain(QStringLiteral("<- %1").arg(line)); });
    QObject::connect(&board, &BoardSimulator::answerSent, app,
        [](const QByteArray &answer) { complain(QStringLiteral("-> %1").arg(printable(answer))); });
    QObject::connect(
        &board, &BoardSimulator::clientOpened, app, [] { complain(QStringLiteral("a client opened the port")); });
    QObject::connect(
        &board, &BoardSimulator::clientClosed, app, [] { complain(QStringLiteral("a client closed the port")); });
}

} // namespace

int runBoardSimulator(int argc, char *argv[])
{
    occupyStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vatnode-boardsim"));

    QCommandLineParser parser;
    BoardOptions options;
    int status = 0;
    if (!parseOptions(parser, &options, &status))
        return status;
    if (!installSignalPipe()) {
        std::fprintf(stderr, "error: cannot install the signal handlers\n");
        return 1;
    }
    // Destroyed before the application; its destructor removes the link.
    BoardSimulator board;
    if (!board.start(options.linkPath, options.speed, options.logPath)) {
        std::fprintf(stderr, "error: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    quitOnSignal(signalNotifier);
    if (options.verbose)
        showTraffic(board);

    ControlInput input(board);
    say(QStringLiteral("board on %1 -> %2 (speed %3)")
            .arg(board.linkPath(), board.devicePath(), QString::number(options.speed)));
    return app.exec();
}
