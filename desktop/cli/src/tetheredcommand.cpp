#include "tetheredcommand.h"

#include "clicommands.h"
#include "printtime.h"
#include "progress.h"
#include "standardinput.h"
#include "projectionwindow.h"
#include "tetheredprinter.h"
#include "timescale.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <memory>
#include <unistd.h>

namespace TetheredCommand {

namespace {

using TessoraCli::ExitFailure;
using TessoraCli::ExitSuccess;
using TessoraCli::ExitUsage;
using TessoraCli::failure;

// Interrupts (Ctrl-C, SIGTERM) reach the event loop through this pipe.
int g_interruptPipe[2] = {-1, -1};

void interrupted(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_interruptPipe[1], &byte, 1);
}

// What print-tethered was asked to do.
struct TetheredRequest {
    QString jobPath; // absolute
    QString resinName;
    QString serialPort; // empty: find the board as the printer does
    QString framesDir;
    int screen = 1;
    bool pixels75 = false;
    bool interactive = false;
};

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("resin"), QStringLiteral("Resin of the desktop's catalogue."), QStringLiteral("NAME")},
        {QStringLiteral("serial-port"), QStringLiteral("The board's port."), QStringLiteral("PATH")},
        {QStringLiteral("screen"), QStringLiteral("The projector's screen."), QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("time-scale"), QStringLiteral("Timer factor."), QStringLiteral("F"), QStringLiteral("1.0")},
        {QStringLiteral("frames-dir"), QStringLiteral("Save projected frames."), QStringLiteral("DIR")},
        {QStringLiteral("printer-75"), QStringLiteral("The printer has 75-micron pixels.")},
        {QStringLiteral("interactive"), QStringLiteral("Read pause, resume and cancel on standard input.")},
    });
}

// Parses the arguments; false with the exit status of a bad usage in `status`.
bool readRequest(const QStringList &arguments, QTextStream &err, TetheredRequest *request, int *status)
{
    QCommandLineParser parser;
    addOptions(parser);
    const auto refuse = [&](const QString &message) {
        *status = TessoraCli::usageError(err, QStringLiteral("tessora-cli"), message, usage());
        return false;
    };
    if (!parser.parse(QStringList {QStringLiteral("tessora-cli print-tethered")} + arguments))
        return refuse(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return refuse(QStringLiteral("print-tethered takes one job file"));
    if (!parser.isSet(QStringLiteral("resin")))
        return refuse(QStringLiteral("print-tethered needs --resin NAME"));
    bool ok = false;
    request->screen = parser.value(QStringLiteral("screen")).toInt(&ok);
    if (!ok || request->screen < 0)
        return refuse(QStringLiteral("--screen takes a screen number, 0 for the first"));
    if (!TessoraCli::applyTimeScale(parser))
        return refuse(QStringLiteral("--time-scale takes a number above 0"));
    request->jobPath = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    request->resinName = parser.value(QStringLiteral("resin"));
    request->serialPort = parser.value(QStringLiteral("serial-port"));
    request->framesDir = parser.value(QStringLiteral("frames-dir"));
    request->pixels75 = parser.isSet(QStringLiteral("printer-75"));
    request->interactive = parser.isSet(QStringLiteral("interactive"));
    return true;
}

// One tethered print on its own event loop: the runner, the projection window, progress on
// standard error, and the exit status when the print ends.
class TetheredSession
{
public:
    TetheredSession(TetheredPrinter &printer, ProjectionWindow &window, const TetheredRequest &request,
        QTextStream &out, QTextStream &err)
        : m_printer(printer)
        , m_window(window)
        , m_request(request)
        , m_out(out)
        , m_err(err)
        , m_terminal(Progress::stderrIsTerminal())
    {
    }

    int run()
    {
        follow();
        waitForBoard();
        catchInterrupts();
        if (m_request.interactive)
            readCommands();
        m_loop.exec();
        return m_exitCode;
    }

private:
    void follow()
    {
        QObject::connect(&m_printer, &TetheredPrinter::frame, &m_window, &ProjectionWindow::show);
        QObject::connect(&m_printer, &TetheredPrinter::progress, &m_loop, [this](int, int percent, int) {
            if (!m_layers)
                m_layers = std::make_unique<Progress>(m_err, QStringLiteral("printing"), 100, m_terminal);
            m_layers->update(percent);
        });
        QObject::connect(&m_printer, &TetheredPrinter::stateChanged, &m_loop, [this](TetheredPrinter::State state) {
            if (state == TetheredPrinter::Paused)
                note(QStringLiteral("print paused"));
            else if (state == TetheredPrinter::Printing && m_wasResuming)
                note(QStringLiteral("print resumed"));
            m_wasResuming = state == TetheredPrinter::ResumingWhileMoving;
        });
        QObject::connect(&m_printer, &TetheredPrinter::finished, &m_loop, [this](bool cancelled) {
            finish(ExitSuccess, cancelled ? QStringLiteral("print cancelled") : QStringLiteral("print done"));
        });
        QObject::connect(&m_printer, &TetheredPrinter::failed, &m_loop,
            [this](const QString &message) { finish(ExitFailure, QStringLiteral("printing error: ") + message); });
    }

    // A board that never appears ends the command, as the printer's print from disk ends.
    void waitForBoard()
    {
        QTimer::singleShot(std::max(5000, TimeScale::ms(60000)), &m_loop, [this] {
            if (!m_printer.boardReady() && m_printer.state() == TetheredPrinter::WaitingForBoard)
                finish(ExitFailure,
                    QStringLiteral("no motor board answered on %1")
                        .arg(
                            m_request.serialPort.isEmpty() ? QStringLiteral("any serial port") : m_request.serialPort));
        });
    }

    // The first interrupt cancels the print, which ends with the lamp off and the platform
    // raised; a second one stops at once (the lamp still goes off).
    void catchInterrupts()
    {
        if (g_interruptPipe[0] < 0 && ::pipe(g_interruptPipe) != 0)
            return;
        struct sigaction action {
        };
        action.sa_handler = interrupted;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        m_interrupts = std::make_unique<QSocketNotifier>(g_interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(m_interrupts.get(), &QSocketNotifier::activated, &m_loop, [this] {
            char byte = 0;
            if (::read(g_interruptPipe[0], &byte, 1) != 1)
                return;
            if (m_interruptions++ > 0 || m_printer.state() == TetheredPrinter::Idle)
                finish(ExitFailure, QStringLiteral("interrupted"));
            else {
                note(QStringLiteral("cancelling the print (interrupt again to stop at once)"));
                m_printer.cancel();
            }
        });
    }

    void readCommands()
    {
        m_input = readStandardInputLines(&m_loop, [this](const QByteArray &line) { command(line); });
    }

    void command(const QByteArray &command)
    {
        if (command == "pause")
            m_printer.pause();
        else if (command == "resume")
            m_printer.resume();
        else if (command == "cancel")
            m_printer.cancel();
        else if (!command.isEmpty())
            note(QStringLiteral("unknown command '%1' (pause, resume, cancel)").arg(QString::fromLocal8Bit(command)));
    }

    void note(const QString &line)
    {
        if (m_layers && m_terminal)
            m_err << "\n";
        m_err << line << "\n";
        m_err.flush();
    }

    void finish(int code, const QString &line)
    {
        m_layers.reset();
        m_exitCode = code;
        if (code == ExitSuccess)
            m_out << line << "\n";
        else
            failure(m_err, line);
        m_loop.quit();
    }

    TetheredPrinter &m_printer;
    ProjectionWindow &m_window;
    const TetheredRequest &m_request;
    QTextStream &m_out;
    QTextStream &m_err;
    const bool m_terminal;
    QEventLoop m_loop;
    std::unique_ptr<Progress> m_layers;
    std::unique_ptr<QSocketNotifier> m_input;
    std::unique_ptr<QSocketNotifier> m_interrupts;
    int m_interruptions = 0;
    bool m_wasResuming = false;
    int m_exitCode = ExitFailure;
};

} // namespace

QString usage()
{
    return QStringLiteral("  tessora-cli print-tethered JOB --resin NAME [--serial-port PATH] [--screen N] "
                          "[--time-scale F] [--frames-dir DIR] [--printer-75] [--interactive]\n");
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    TetheredRequest request;
    int status = ExitUsage;
    if (!readRequest(arguments, err, &request, &status))
        return status;

    TetheredPrinter printer;
    printer.setPixels75(request.pixels75);
    if (!request.serialPort.isEmpty())
        printer.setSerialPort(request.serialPort);
    QString problem;
    if (!printer.start(request.jobPath, request.resinName, &problem))
        return failure(err, problem);
    ProjectionWindow window;
    if (!request.framesDir.isEmpty())
        window.setFramesDir(request.framesDir);
    if (!window.setScreen(request.screen, &problem))
        return failure(err, QStringLiteral("no screen %1 for the projector: %2").arg(request.screen).arg(problem));

    const PrintJob &job = printer.job();
    err << "tethered printer on "
        << (request.serialPort.isEmpty() ? QStringLiteral("its USB port") : request.serialPort) << ", screen "
        << request.screen << ": printing " << request.jobPath << ", " << job.numImages << " layers, "
        << request.resinName << " at " << job.layerThickness << " microns, printer time about "
        << PrintTimeEstimate::of(job).text() << "\n";
    err.flush();
    TetheredSession session(printer, window, request, out, err);
    return session.run();
}

} // namespace TetheredCommand
