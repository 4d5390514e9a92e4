#pragma once

#include <QStringList>

class QTextStream;

// The job file commands of tessora-cli: info, export and pack.
namespace SsjCommands {

QString usage();
// `arguments` start after "ssj".
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace SsjCommands
