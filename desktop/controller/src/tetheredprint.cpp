#include "tetheredprint.h"

#include "basiclogging.h"
#include "jobfiles.h"

#include <QFileInfo>

TetheredPrint::TetheredPrint(QObject *parent)
    : QObject(parent)
{
    connect(&m_printer, &TetheredPrinter::stateChanged, this,
        [this](TetheredPrinter::State state) { emit stateNameChanged(stateName(state)); });
    connect(&m_printer, &TetheredPrinter::finished, this, [this](bool cancelled) {
        const QString job = QFileInfo(m_jobPath).fileName();
        end(cancelled ? tr("Print cancelled: %1").arg(job) : tr("Print done: %1").arg(job), false);
    });
    connect(&m_printer, &TetheredPrinter::failed, this, [this](const QString &message) {
        logLine(QStringLiteral("ERROR. TetheredPrint::failed. ") + message);
        end(tr("The print of %1 stopped: %2").arg(QFileInfo(m_jobPath).fileName(), message), true);
    });
}

bool TetheredPrint::start(const QString &jobPath, const QString &resinName, const QList<Resin> &resins,
    const QString &serialPort, bool pixels75, QString *error)
{
    if (isRunning()) {
        *error = busyText();
        return false;
    }
    m_printer.setSerialPort(serialPort);
    m_printer.setPixels75(pixels75);
    m_printer.setResins(resins);
    if (!m_printer.start(jobPath, resinName, error)) {
        logLine(QStringLiteral("ERROR. TetheredPrint::start. ") + *error);
        return false;
    }
    m_jobPath = jobPath;
    logLine(QStringLiteral("INFO. TetheredPrint::start. Printing %1 with %2 on board port [%3]")
                .arg(jobPath, resinName, serialPort));
    return true;
}

QString TetheredPrint::busyText()
{
    return tr("A print is already running on the printer of this computer.");
}

QString TetheredPrint::stateName(TetheredPrinter::State state)
{
    switch (state) {
    case TetheredPrinter::Idle:
        return QStringLiteral("idle");
    case TetheredPrinter::WaitingForBoard:
        return QStringLiteral("waiting");
    case TetheredPrinter::Printing:
        return QStringLiteral("printing");
    case TetheredPrinter::PausingWhileMoving:
        return QStringLiteral("pausing");
    case TetheredPrinter::Paused:
        return QStringLiteral("paused");
    case TetheredPrinter::ResumingWhileMoving:
        return QStringLiteral("resuming");
    case TetheredPrinter::Cancelling:
        return QStringLiteral("cancelling");
    }
    return QStringLiteral("idle");
}

void TetheredPrint::end(const QString &messageText, bool failed)
{
    // A job the window sliced for this print lives in a folder of its own until the print ends.
    JobFiles::removePrintFolderOf(m_jobPath);
    m_jobPath.clear();
    emit ended(messageText, failed);
}
