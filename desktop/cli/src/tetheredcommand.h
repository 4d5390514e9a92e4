#pragma once

#include <QStringList>

class QTextStream;

// tessora-cli print-tethered: a print on a printer tethered to this computer, its projector
// one of this computer's screens and its board on a serial port. Needs a QGuiApplication.
namespace TetheredCommand {

QString usage();
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace TetheredCommand
