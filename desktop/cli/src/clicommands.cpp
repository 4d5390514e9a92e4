#include "clicommands.h"

#include "printercommands.h"
#include "slicecommand.h"
#include "ssjcommands.h"
#include "tetheredcommand.h"
#include "timescale.h"

#include <QCommandLineParser>

#include <QTextStream>

namespace TessoraCli {

namespace {

QString usage()
{
    return QStringLiteral("usage: tessora-cli COMMAND ...\n"
                          "\n"
                          "Job files:\n"
                          "%1"
                          "%3"
                          "\n"
                          "Printers:\n"
                          "%2"
                          "%4")
        .arg(SsjCommands::usage(), PrinterCommands::usage(), SliceCommand::usage(), TetheredCommand::usage());
}

} // namespace

int failure(QTextStream &err, const QString &message)
{
    err << "error: " << message << "\n";
    err.flush();
    return ExitFailure;
}

int usageError(QTextStream &err, const QString &command, const QString &message, const QString &commandUsage)
{
    err << command << ": " << message << "\n\nusage:\n" << commandUsage;
    return ExitUsage;
}

bool applyTimeScale(const QCommandLineParser &parser)
{
    bool ok = false;
    const double timeScale = parser.value(QStringLiteral("time-scale")).toDouble(&ok);
    if (!ok || !(timeScale > 0.0) || timeScale > 1000.0)
        return false;
    TimeScale::setFactor(timeScale);
    return true;
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.isEmpty()) {
        err << usage();
        return ExitUsage;
    }
    const QString command = arguments.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        out << usage();
        return ExitSuccess;
    }
    if (command == QLatin1String("ssj"))
        return SsjCommands::run(arguments.mid(1), out, err);
    if (command == QLatin1String("slice"))
        return SliceCommand::run(arguments.mid(1), out, err);
    if (command == QLatin1String("printers"))
        return PrinterCommands::printers(arguments.mid(1), out, err);
    if (command == QLatin1String("print"))
        return PrinterCommands::print(arguments.mid(1), out, err);
    if (command == QLatin1String("print-tethered"))
        return TetheredCommand::run(arguments.mid(1), out, err);
    err << "tessora-cli: unknown command '" << command << "'\n\n" << usage();
    return ExitUsage;
}

} // namespace TessoraCli
