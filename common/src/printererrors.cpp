#include "printererrors.h"

namespace PrinterErrors {

QString text(int errorNumber)
{
    switch (errorNumber) {
    case 201:
        return QStringLiteral("the vat tilt did not finish in time");
    case 202:
        return QStringLiteral("the printer lost its motor board");
    case 203:
        return QStringLiteral("the projector display changed");
    case 204:
        return QStringLiteral("the projector lamp did not confirm it is on");
    case 205:
        return QStringLiteral("the projector lamp turned off during the print");
    case 206:
        return QStringLiteral("the printer could not read the job");
    default:
        return QStringLiteral("unknown printer error %1").arg(errorNumber);
    }
}

} // namespace PrinterErrors
