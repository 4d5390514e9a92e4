#pragma once

#include "tetheredprinter.h"

#include <QObject>
#include <QString>

// The print of the printer tethered to this computer, as the window follows it: the runner
// (TetheredPrinter) and the job it prints, the runner's state as a word for the pages, and
// the print's end in words.
//
// State words (stateName()): "idle", "waiting" (for the board to be found and homed),
// "printing", "pausing" (the platform ends its movement first), "paused", "resuming" and
// "cancelling".
class TetheredPrint : public QObject
{
    Q_OBJECT

public:
    explicit TetheredPrint(QObject *parent = nullptr);

    // Starts the job with a resin of `resins` (the window's list for the pixel size). False,
    // with the refusal in words in *error, while a print runs or when the runner refuses the
    // job; nothing is started then.
    bool start(const QString &jobPath, const QString &resinName, const QList<Resin> &resins,
        const QString &serialPort, bool pixels75, QString *error);

    bool isRunning() const { return m_printer.state() != TetheredPrinter::Idle; }
    // Why nothing more is started while a print runs.
    static QString busyText();
    QString stateName() const { return stateName(m_printer.state()); }
    static QString stateName(TetheredPrinter::State state);
    // The runner: its frames and progress, and pause(), resume() and cancel().
    TetheredPrinter *printer() { return &m_printer; }

signals:
    void stateNameChanged(const QString &stateName);
    // The print ended: done, cancelled, or stopped by an error (failed); messageText says
    // which ("Print done: part.ssj", "Print cancelled: part.ssj", "The print of part.ssj
    // stopped: " and why).
    void ended(const QString &messageText, bool failed);

private:
    void end(const QString &messageText, bool failed);

    QString m_jobPath;
    TetheredPrinter m_printer; // last: what it says while it is destroyed finds the rest whole
};
