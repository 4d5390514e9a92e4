// Plays a fleet of printers against one desktop Server (fleet-desktop, started here as a
// process of its own) on loopback, and prints what the desktop made of it: connections,
// progress counts per serial, heartbeat time-outs, its processor time and memory, and how
// it copes when a tenth of the printers die abruptly. Exit status 0 when every check held.
#include "fleetrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

bool intValue(const QCommandLineParser &parser, const QString &name, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int v = parser.value(name).toInt(&ok);
    if (!ok || v < minimum || v > maximum) {
        std::fprintf(stderr, "error: --%s takes a number from %d to %d\n", qPrintable(name), minimum, maximum);
        return false;
    }
    *value = v;
    return true;
}

// The printers' own debug lines (job stream receiving) would drown the figures.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QList<QCommandLineOption> commandLineOptions()
{
    return {
        {QStringLiteral("printers"), QStringLiteral("Printers in the fleet (default 100)."), QStringLiteral("N"),
            QStringLiteral("100")},
        {QStringLiteral("job-printers"), QStringLiteral("Printers that receive a job (default 10)."),
            QStringLiteral("N"), QStringLiteral("10")},
        {QStringLiteral("job-layers"), QStringLiteral("Layers of the job file (default 100)."), QStringLiteral("N"),
            QStringLiteral("100")},
        {QStringLiteral("layer-ms"), QStringLiteral("Milliseconds between two progress reports (default 50)."),
            QStringLiteral("MS"), QStringLiteral("50")},
        {QStringLiteral("load-seconds"), QStringLiteral("Length of the load phase (default 30)."), QStringLiteral("S"),
            QStringLiteral("30")},
        {QStringLiteral("after-kill-seconds"),
            QStringLiteral("Reporting after every killed printer was dropped (default 5)."), QStringLiteral("S"),
            QStringLiteral("5")},
        {QStringLiteral("rejoiners"),
            QStringLiteral("Printers that restart and rejoin before their old connection timed out (default: one in "
                           "fifty, at least one)."),
            QStringLiteral("N"), QStringLiteral("-1")},
        {QStringLiteral("time-scale"), QStringLiteral("Factor on the heartbeat timings of both sides (default 1)."),
            QStringLiteral("FACTOR"), QStringLiteral("1")},
        {QStringLiteral("base-port"), QStringLiteral("The desktop tries ports BASE+1 .. BASE+50."),
            QStringLiteral("BASE"), QStringLiteral("0")},
        {QStringLiteral("desktop"), QStringLiteral("The desktop program (default: fleet-desktop beside this one)."),
            QStringLiteral("PATH")},
        {QStringLiteral("work"), QStringLiteral("Folder for job files and the desktop's log (default: temporary)."),
            QStringLiteral("DIR")},
        {QStringLiteral("no-log"), QStringLiteral("The desktop writes no log file.")},
    };
}

// The options into *fleet; false (with a line on standard error) when one is out of range.
bool readOptions(const QCommandLineParser &parser, FleetOptions *fleet)
{
    int loadSeconds = 0;
    int afterKillSeconds = 0;
    if (!intValue(parser, QStringLiteral("printers"), 1, 1000, &fleet->printers)
        || !intValue(parser, QStringLiteral("job-printers"), 0, 1000, &fleet->jobPrinters)
        || !intValue(parser, QStringLiteral("job-layers"), 1, 100000, &fleet->jobLayers)
        || !intValue(parser, QStringLiteral("layer-ms"), 1, 60000, &fleet->layerIntervalMs)
        || !intValue(parser, QStringLiteral("load-seconds"), 1, 3600, &loadSeconds)
        || !intValue(parser, QStringLiteral("after-kill-seconds"), 0, 3600, &afterKillSeconds)
        || !intValue(parser, QStringLiteral("rejoiners"), -1, 1000, &fleet->rejoiners)
        || !intValue(parser, QStringLiteral("base-port"), 0, 65535 - 50, &fleet->basePort))
        return false;
    bool ok = false;
    fleet->timeScale = parser.value(QStringLiteral("time-scale")).toDouble(&ok);
    if (!ok || fleet->timeScale <= 0.0 || fleet->timeScale > 10.0) {
        std::fprintf(stderr, "error: --time-scale takes a factor above 0 and at most 10\n");
        return false;
    }
    fleet->loadMs = loadSeconds * 1000;
    fleet->afterKillMs = afterKillSeconds * 1000;
    fleet->desktopProgram = parser.isSet(QStringLiteral("desktop"))
        ? parser.value(QStringLiteral("desktop"))
        : QCoreApplication::applicationDirPath() + QStringLiteral("/fleet-desktop");
    fleet->workFolder = parser.value(QStringLiteral("work"));
    fleet->desktopLog = !parser.isSet(QStringLiteral("no-log"));
    return true;
}

void printResult(const FleetResult &result)
{
    std::printf("\n%s\n", qPrintable(result.summary()));
    if (!result.problems.isEmpty()) {
        std::printf("\nfailed checks:\n");
        for (const QString &problem : result.problems)
            std::printf("  - %s\n", qPrintable(problem));
    }
    if (!result.rejoinProblems.isEmpty()) {
        std::printf("\nfailed checks of the rejoin:\n");
        for (const QString &problem : result.rejoinProblems)
            std::printf("  - %s\n", qPrintable(problem));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Plays N printers against one desktop Server on loopback."));
    parser.addHelpOption();
    parser.addOptions(commandLineOptions());
    parser.process(app);

    FleetOptions fleet;
    if (!readOptions(parser, &fleet))
        return 2;
    QElapsedTimer clock;
    clock.start();
    fleet.note = [&clock](const QString &text) {
        std::printf("[%6.1f s] %s\n", clock.elapsed() / 1000.0, qPrintable(text));
        std::fflush(stdout);
    };

    const FleetResult result = runFleet(fleet);
    printResult(result);
    return result.passed() ? 0 : 1;
}
