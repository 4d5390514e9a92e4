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
                     "               [--print-file JOB --job FIELDS]\n";

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

} // namespace

int runVatnode(int argc, char *argv[])
{
    // Options come first: the working folder decides where the log goes.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
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
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    ClientOptions options;
    bool ok = false;
    const double timeScale = parser.value(QStringLiteral("time-scale")).toDouble(&ok);
    if (!ok || !(timeScale > 0.0))
        return usageError(QStringLiteral("--time-scale takes a number above 0"));
    options.discoveryPort = parser.value(QStringLiteral("discovery-port")).toInt(&ok);
    if (!ok || options.discoveryPort < 1 || options.discoveryPort > 65535)
        return usageError(QStringLiteral("--discovery-port takes a port number"));
    if (parser.isSet(QStringLiteral("print-file")) != parser.isSet(QStringLiteral("job")))
        return usageError(QStringLiteral("--print-file and --job go together"));
    options.jobFields = parser.value(QStringLiteral("job"));
    const QString jobLine = QLatin1String(Message::kSendingPrintJob) + QLatin1Char(',') + options.jobFields;
    if (parser.isSet(QStringLiteral("job")) && !PrintJob::isCompleteLine(jobLine))
        return usageError(
            QStringLiteral("--job takes the ten fields of a job line, such as 5,30,8,100,100,100,Clear,1,1,1"));
    // COMMAND=FILE, split at the last "=": a command may hold "=" itself.
    QList<QPair<QString, QString>> simulatedOutputs;
    for (const QString &value : parser.values(QStringLiteral("simulate-output"))) {
        const int split = int(value.lastIndexOf(QLatin1Char('=')));
        if (split <= 0 || split == value.size() - 1)
            return usageError(QStringLiteral("--simulate-output takes COMMAND=FILE"));
        simulatedOutputs.append({value.left(split), value.mid(split + 1)});
    }

    if (parser.isSet(QStringLiteral("job"))) {
        const QString problem = PrintJob::lineProblem(jobLine);
        if (!problem.isEmpty())
            return failure(QStringLiteral("cannot print this job: %1").arg(problem));
    }

    // Paths are taken relative to where vatnode was started.
    const auto absolute
        = [](const QString &path) { return path.isEmpty() ? path : QDir::current().absoluteFilePath(path); };
    QList<QPair<QString, QString>> outputTexts;
    for (const auto &commandAndFile : qAsConst(simulatedOutputs)) {
        QFile file(absolute(commandAndFile.second));
        if (!file.open(QIODevice::ReadOnly))
            return failure(QStringLiteral("cannot read %1: %2").arg(commandAndFile.second, file.errorString()));
        outputTexts.append({commandAndFile.first, QString::fromUtf8(file.readAll())});
    }
    options.serialPort = absolute(parser.value(QStringLiteral("serial-port")));
    options.framesDir = absolute(parser.value(QStringLiteral("frames-dir")));
    options.printFile = absolute(parser.value(QStringLiteral("print-file")));
    options.systemRoot = absolute(parser.value(QStringLiteral("system-root")));
    options.liveSystem = parser.isSet(QStringLiteral("live-system"));
    options.allowNetworkUpdate = parser.isSet(QStringLiteral("allow-network-update"));

    const QString workdir = parser.value(QStringLiteral("workdir"));
    if (!workdir.isEmpty() && (!QDir().mkpath(workdir) || !QDir::setCurrent(workdir)))
        return failure(QStringLiteral("cannot work in %1").arg(workdir));
    if (!options.framesDir.isEmpty() && !QDir().mkpath(options.framesDir))
        return failure(QStringLiteral("cannot create %1").arg(options.framesDir));
    TimeScale::setFactor(timeScale);
    // System files and commands are simulated unless this is the printer itself.
    SystemActions::configure(options.liveSystem,
        options.systemRoot.isEmpty() ? QDir::current().absoluteFilePath(QStringLiteral("system-root"))
                                     : options.systemRoot);
    for (const auto &commandAndOutput : qAsConst(outputTexts))
        SystemActions::setSimulatedOutput(commandAndOutput.first, commandAndOutput.second);

    BasicLogging logging;
    logging.setupBasicLogging();

    QGuiApplication app(argc, argv);
    Q_INIT_RESOURCE(vatnode); // the scene lives in a static library
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));

    // A job that does not load whole is never printed; it is read once.
    if (!options.printFile.isEmpty()) {
        auto job = std::make_unique<CrushedPrintJob>();
        QFile file(options.printFile);
        if (!job->loadCPJ(&file))
            return failure(QStringLiteral("cannot print %1: %2").arg(options.printFile, job->errorString()));
        SSJ::adopt(std::move(job));
    }
    Client::setOptions(options);

    view = new QQuickView;
    imageProvider = new ImageProvider;
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    qmlRegisterType<Client>("MyClient", 1, 0, "ImageClient");
    view->engine()->addImageProvider(QStringLiteral("colors"), imageProvider);
    view->setSource(QUrl(QStringLiteral("qrc:/main.qml")));
    if (view->status() != QQuickView::Ready && !options.printFile.isEmpty())
        return failure(QStringLiteral("the projection scene did not load"));

    // Without a window manager (a bare X server) full screen alone keeps the
    // view at its own size: give it the screen's geometry too.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        view->setGeometry(screen->geometry());
    view->showFullScreen();

    const int result = app.exec();
    delete view; // the scene, the session and the provider with it
    view = nullptr;
    imageProvider = nullptr;
    SSJ::releaseCPJ();
    return result;
}
