#include "printererrors.h"

namespace PrinterErrors {

QString text(int errorNumber)
{
    switch (errorNumber) {
    case TiltCycleTimedOut:
        return QStringLiteral("the vat tilt did not finish in time");
    case BoardLost:
        return QStringLiteral("the printer lost its motor board");
    case DisplayChanged:
        return QStringLiteral("the projector display changed");
    case LampNotConfirmed:
        return QStringLiteral("the projector lamp did not confirm it is on");
    case LampTurnedOff:
        return QStringLiteral("the projector lamp turned off during the print");
    case JobUnreadable:
        return QStringLiteral("the printer could not read the job");
    default:
        return QStringLiteral("unknown printer error %1").arg(errorNumber);
    }
}

} // namespace PrinterErrors
