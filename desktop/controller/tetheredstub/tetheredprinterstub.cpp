// Stands in for the tethered printer's runner until its library is built.
#include "tetheredprinter.h"

TetheredPrinter::TetheredPrinter(QObject *parent) : QObject(parent) {}
TetheredPrinter::~TetheredPrinter() = default;
void TetheredPrinter::setSerialPort(const QString &) {}
void TetheredPrinter::setPixels75(bool) {}
bool TetheredPrinter::start(const QString &, const QString &, QString *error)
{
    *error = QStringLiteral("The runner of the tethered printer is not built.");
    return false;
}
void TetheredPrinter::pause() {}
void TetheredPrinter::resume() {}
void TetheredPrinter::cancel() {}
TetheredPrinter::State TetheredPrinter::state() const
{
    return Idle;
}
