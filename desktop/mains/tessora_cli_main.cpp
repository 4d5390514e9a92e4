#include "clicommands.h"
#include "programversion.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

bool g_verbose = false;

// The engine logs its diagnostics as debug lines. On the command line they would
// bury the one "error: " line a failure prints, so they are shown only with
// TESSORA_CLI_VERBOSE=1; warnings and worse always go to standard error.
void cliMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !g_verbose)
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

int main(int argc, char *argv[])
{
    if (ProgramVersion::printIfAsked("tessora-cli", argc, argv))
        return 0;
    g_verbose = qEnvironmentVariableIntValue("TESSORA_CLI_VERBOSE") == 1;
    qInstallMessageHandler(cliMessageHandler);
    // Only a tethered print shows a window (its projector); every other command stays headless.
    const bool needsScreens = argc > 1 && qstrcmp(argv[1], "print-tethered") == 0;
    std::unique_ptr<QCoreApplication> app(
        needsScreens ? new QGuiApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("tessora-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const int code = TessoraCli::run(arguments, out, err);
    out.flush();
    err.flush();
    return code;
}
