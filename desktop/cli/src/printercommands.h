#pragma once

#include <QStringList>

class QTextStream;

// The printer commands of tessora-cli: printers and print.
namespace PrinterCommands {

QString usage();
int printers(const QStringList &arguments, QTextStream &out, QTextStream &err);
int print(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace PrinterCommands
