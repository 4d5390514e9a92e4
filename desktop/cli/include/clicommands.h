#pragma once

#include <QStringList>

class QTextStream;

namespace TessoraCli {

enum ExitCode {
    ExitSuccess = 0,
    ExitFailure = 1, // the operation failed; one "error: " line says why
    ExitUsage = 2, // bad usage; a usage text follows
};

// Runs tessora-cli with its arguments (without the program name), writing
// results to `out` and errors, usage and progress to `err`.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace TessoraCli
