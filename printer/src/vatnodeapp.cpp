#include "vatnodeapp.h"

#include "basiclogging.h"
#include "client.h"
#include "crushedprintjob.h"
#include "imageprovider.h"
#include "messages.h"
#include "printjob.h"
#include "ssj.h"
#include "systemactions.h"
#include "timescale.h"

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>

#include <cstdio>
#include <memory>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char *kUsage = "usage: vatnode [--workdir DIR] [--serial-port PATH] [--time-scale F] [--frames-dir DIR]\n"
                     "               [--discovery-port N] [--system-root DIR] [--live-system]\n"
                     "               [--allow-network-update] [--simulate-output COMMAND=FILE]...\n"
                     "               [--print-file JOB --job FIELDS]\n"
                     "       vatnode --version\n";

int usageError(const QString &message)
{
    std::fprintf(stderr, "vatnode: %s\n\n%s", qPrintable(message), kUsage);
    return kExitUsage;
}

int failure(const QString &message)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(message));
    return kExitFailure;
}

// What the command line decides before anything starts.
struct VatnodeSettings {
    ClientOptions options;
    double timeScale = 1.0;
    QString workdir;
    QList<QPair<QString, QString>> simulatedOutputs; // the command, and its output's file, then text
};

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("workdir"), QStringLiteral("Settings, log, jobs."), QStringLiteral("DIR")},
        {QStringLiteral("serial-port"), QStringLiteral("The board's port."), QStringLiteral("PATH")},
        {QStringLiteral("time-scale"), QStringLiteral("Timer factor."), QStringLiteral("F"), QStringLiteral("1.0")},
        {QStringLiteral("frames-dir"), QStringLiteral("Save projected frames."), QStringLiteral("DIR")},
        {QStringLiteral("discovery-port"), QStringLiteral("UDP port."), QStringLiteral("N"), QStringLiteral("49958")},
        {QStringLiteral("system-root"), QStringLiteral("Simulated system files."), QStringLiteral("DIR")},
        {QStringLiteral("live-system"), QStringLiteral("Real system files and commands.")},
        {QStringLiteral("allow-network-update"), QStringLiteral("Accept a program sent over the desktop connection.")},
        {QStringLiteral("print-file"), QStringLiteral("Print a job from disk."), QStringLiteral("JOB")},
        {QStringLiteral("job"), QStringLiteral("The job line's ten fields."), QStringLiteral("FIELDS")},
        {QStringLiteral("simulate-output"), QStringLiteral("In simulation, the output of COMMAND is FILE's content."),
            QStringLiteral("COMMAND=FILE")},
        {QStringLiteral("help"), QStringLiteral("This text.")},
    });
}

// Paths are taken relative to where vatnode was started.
QString absolute(const QString &path)
{
    return path.isEmpty() ? path : QDir::current().absoluteFilePath(path);
}

// The values of the options that take numbers and the job line; false with the exit
// status when one is wrong.
bool readValues(const QCommandLineParser &parser, VatnodeSettings *settings, int *status)
{
    ClientOptions &options = settings->options;
    bool ok = false;
    settings->timeScale = parser.value(QStringLiteral("time-scale")).toDouble(&ok);
    if (!ok || !(settings->timeScale > 0.0)) {
        *status = usageError(QStringLiteral("--time-scale takes a number above 0"));
        return false;
    }
    options.discoveryPort = parser.value(QStringLiteral("discovery-port")).toInt(&ok);
    if (!ok || options.discoveryPort < 1 || options.discoveryPort > 65535) {
        *status = usageError(QStringLiteral("--discovery-port takes a port number"));
        return false;
    }
    if (parser.isSet(QStringLiteral("print-file")) != parser.isSet(QStringLiteral("job"))) {
        *status = usageError(QStringLiteral("--print-file and --job go together"));
        return false;
    }
    options.jobFields = parser.value(QStringLiteral("job"));
    const QString jobLine = QLatin1String(Message::kSendingPrintJob) + QLatin1Char(',') + options.jobFields;
    if (parser.isSet(QStringLiteral("job")) && !PrintJob::isCompleteLine(jobLine)) {
        *status = usageError(
            QStringLiteral("--job takes the ten fields of a job line, such as 5,30,8,100,100,100,Clear,1,1,1"));
        return false;
    }
    return true;
}

// The --simulate-output pairs, COMMAND=FILE split at the last "=" (a command may hold
// "=" itself); false with the exit status for a malformed one.
bool splitSimulatedOutputs(const QCommandLineParser &parser, VatnodeSettings *settings, int *status)
{
    for (const QString &value : parser.values(QStringLiteral("simulate-output"))) {
        const int split = int(value.lastIndexOf(QLatin1Char('=')));
        if (split <= 0 || split == value.size() - 1) {
            *status = usageError(QStringLiteral("--simulate-output takes COMMAND=FILE"));
            return false;
        }
        settings->simulatedOutputs.append({value.left(split), value.mid(split + 1)});
    }
    return true;
}

// A job line that is complete but cannot be printed stops the program before it starts.
bool checkJobLine(const QCommandLineParser &parser, const ClientOptions &options, int *status)
{
    if (!parser.isSet(QStringLiteral("job")))
        return true;
    const QString problem
        = PrintJob::lineProblem(QLatin1String(Message::kSendingPrintJob) + QLatin1Char(',') + options.jobFields);
    if (problem.isEmpty())
        return true;
    *status = failure(QStringLiteral("cannot print this job: %1").arg(problem));
    return false;
}

// Replaces the file of every simulated output with its text; false with the exit status
// for a file that cannot be read.
bool readSimulatedOutputs(VatnodeSettings *settings, int *status)
{
    for (auto &commandAndFile : settings->simulatedOutputs) {
        QFile file(absolute(commandAndFile.second));
        if (!file.open(QIODevice::ReadOnly)) {
            *status = failure(QStringLiteral("cannot read %1: %2").arg(commandAndFile.second, file.errorString()));
            return false;
        }
        commandAndFile.second = QString::fromUtf8(file.readAll());
    }
    return true;
}

// Reads the command line; false with the exit status when the program stops there
// (a wrong option, --help).
bool parseOptions(int argc, char *argv[], VatnodeSettings *settings, int *status)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        *status = usageError(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(kUsage, stdout);
        *status = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *status = usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
        return false;
    }
    if (!readValues(parser, settings, status) || !splitSimulatedOutputs(parser, settings, status)
        || !checkJobLine(parser, settings->options, status) || !readSimulatedOutputs(settings, status))
        return false;
    ClientOptions &options = settings->options;
    options.serialPort = absolute(parser.value(QStringLiteral("serial-port")));
    options.framesDir = absolute(parser.value(QStringLiteral("frames-dir")));
    options.printFile = absolute(parser.value(QStringLiteral("print-file")));
    options.systemRoot = absolute(parser.value(QStringLiteral("system-root")));
    options.liveSystem = parser.isSet(QStringLiteral("live-system"));
    options.allowNetworkUpdate = parser.isSet(QStringLiteral("allow-network-update"));
    settings->workdir = parser.value(QStringLiteral("workdir"));
    return true;
}

// The working folder, the frames folder, the time scale and the system actions; false
// with the exit status when a folder cannot be made.
bool setUpSystem(const VatnodeSettings &settings, int *status)
{
    const ClientOptions &options = settings.options;
    const QString &workdir = settings.workdir;
    if (!workdir.isEmpty() && (!QDir().mkpath(workdir) || !QDir::setCurrent(workdir))) {
        *status = failure(QStringLiteral("cannot work in %1").arg(workdir));
        return false;
    }
    if (!options.framesDir.isEmpty() && !QDir().mkpath(options.framesDir)) {
        *status = failure(QStringLiteral("cannot create %1").arg(options.framesDir));
        return false;
    }
    TimeScale::setFactor(settings.timeScale);
    // System files and commands are simulated unless this is the printer itself.
    SystemActions::configure(options.liveSystem,
        options.systemRoot.isEmpty() ? QDir::current().absoluteFilePath(QStringLiteral("system-root"))
                                     : options.systemRoot);
    for (const auto &commandAndOutput : settings.simulatedOutputs)
        SystemActions::setSimulatedOutput(commandAndOutput.first, commandAndOutput.second);
    return true;
}

// A job that does not load whole is never printed; it is read once.
bool loadPrintFile(const QString &path, int *status)
{
    if (path.isEmpty())
        return true;
    auto job = std::make_unique<CrushedPrintJob>();
    QFile file(path);
    if (!job->loadCPJ(&file)) {
        *status = failure(QStringLiteral("cannot print %1: %2").arg(path, job->errorString()));
        return false;
    }
    SSJ::adopt(std::move(job));
    return true;
}

// The full-screen projection scene, which creates the session; false when it did not
// load and a job from disk waits for it.
bool showProjection(const ClientOptions &options, int *status)
{
    Client::setOptions(options);
    view = new QQuickView;
    imageProvider = new ImageProvider;
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    qmlRegisterType<Client>("MyClient", 1, 0, "ImageClient");
    view->engine()->addImageProvider(QStringLiteral("colors"), imageProvider);
    view->setSource(QUrl(QStringLiteral("qrc:/main.qml")));
    if (view->status() != QQuickView::Ready && !options.printFile.isEmpty()) {
        *status = failure(QStringLiteral("the projection scene did not load"));
        return false;
    }
    // Without a window manager (a bare X server) full screen alone keeps the
    // view at its own size: give it the screen's geometry too.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        view->setGeometry(screen->geometry());
    view->showFullScreen();
    return true;
}

} // namespace

int runVatnode(int argc, char *argv[])
{
    // Options come first: the working folder decides where the log goes.
    VatnodeSettings settings;
    int status = 0;
    if (!parseOptions(argc, argv, &settings, &status) || !setUpSystem(settings, &status))
        return status;

    BasicLogging logging;
    logging.setupBasicLogging();

    QGuiApplication app(argc, argv);
    ProjectionPage::initResources();
    Q_INIT_RESOURCE(vatnode); // the scene lives in a static library
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    if (!loadPrintFile(settings.options.printFile, &status) || !showProjection(settings.options, &status))
        return status;

    const int result = app.exec();
    delete view; // the scene, the session and the provider with it
    view = nullptr;
    imageProvider = nullptr;
    SSJ::releaseCPJ();
    return result;
}
