#pragma once

#include <QStringList>

class QTextStream;

// tessora-cli slice: imports models, places them on the platform as the editor would,
// slices them and writes the job file.
namespace SliceCommand {

QString usage();
// `arguments` start after "slice".
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace SliceCommand
