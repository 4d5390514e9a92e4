#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;
class QTextStream;

namespace TessoraCli {

enum ExitCode {
    ExitSuccess = 0,
    ExitFailure = 1, // the operation failed; one "error: " line says why
    ExitUsage = 2, // bad usage; a usage text follows
};

// One "error: " line on `err`; returns ExitFailure.
int failure(QTextStream &err, const QString &message);
// What was wrong, then the usage of the command, on `err`; returns ExitUsage.
int usageError(QTextStream &err, const QString &command, const QString &message, const QString &commandUsage);

// Sets the time scale from --time-scale; false, and left as it was, when the value is
// not a number above 0 (up to 1000).
bool applyTimeScale(const QCommandLineParser &parser);

// Runs tessora-cli with its arguments (without the program name), writing
// results to `out` and errors, usage and progress to `err`.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace TessoraCli
