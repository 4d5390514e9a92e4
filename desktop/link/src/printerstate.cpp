#include "printerstate.h"

#include "printererrors.h"

#include <QDebug>

bool PrinterState::hasResin(const QString &name) const
{
    for (const Resin &r : resins) {
        if (r.name == name)
            return true;
    }
    return false;
}

Resin PrinterState::resin(const QString &name) const
{
    for (const Resin &r : resins) {
        if (r.name == name)
            return r;
    }
    qDebug() << "ERROR. ClientDevice::getResinFromName - resin not found: " << name;
    return Resin(QStringLiteral("ResinERROR"));
}

QString PrinterState::activityText() const
{
    switch (activity) {
    case Activity::Ready:
        return QStringLiteral("Ready");
    case Activity::Sending:
        return bytesTotal > 0 ? QStringLiteral("Sending the job (%1 %)").arg(int(bytesSent * 100 / bytesTotal))
                              : QStringLiteral("Sending the job");
    case Activity::Printing:
        return QStringLiteral("Printing");
    case Activity::Pausing:
        return QStringLiteral("Pausing…");
    case Activity::Paused:
        return QStringLiteral("Paused");
    case Activity::Resuming:
        return QStringLiteral("Resuming…");
    case Activity::Cancelling:
        return QStringLiteral("Cancelling…");
    }
    return QString();
}

QString PrinterState::outcomeText() const
{
    switch (outcome) {
    case Outcome::None:
        return QString();
    case Outcome::Finished:
        return QStringLiteral("Print finished");
    case Outcome::Cancelled:
        return QStringLiteral("Print cancelled");
    case Outcome::Failed:
        return lastError != 0 ? QStringLiteral("Print failed: %1").arg(errorText())
                              : QStringLiteral("Print failed");
    }
    return QString();
}

QString PrinterState::errorText() const
{
    return lastError == 0 ? QString()
                          : QStringLiteral("Printer error %1: %2").arg(lastError).arg(PrinterErrors::text(lastError));
}
