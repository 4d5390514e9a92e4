#pragma once

#include "printjob.h"
#include "resin.h"

#include <QImage>
#include <QObject>
#include <QString>

// A printer tethered to this computer: its projector is one of this computer's screens and
// its motor board is on this computer's USB, with no printer computer in between. The runner
// drives one print through the printer program's own board link and layer cycle.
//
// States (state()):
//   Idle               - no print, or the last one has ended;
//   WaitingForBoard    - a print was started and the board is not found or not yet homed;
//   Printing           - layers are being projected and the platform moves between them;
//   PausingWhileMoving - a pause was asked while the platform moves: the board is told, and
//                        the pause is done once its movement ends;
//   Paused             - the platform stands raised, nothing is projected;
//   ResumingWhileMoving - a resume was asked: the platform goes back down, and the layers
//                        go on once it is there;
//   Cancelling         - the print was cancelled and the platform makes its final movement.
//
// The board must answer every platform movement within 25 s (time-scaled); one that does not
// ends the print with an error in words (failed()).
//
// The movements: the reset and homing before the first layer, each layer's tilt and rise,
// a pause, a resume, and the final movement (also the one a pause during the reset makes).
// The board link is made by the first print (until then no port is scanned and nothing
// moves). A board that appears is started as the printer starts it (projector off, motors
// on, the platform and vat reset) and takes the print 2 s later. A watchdog error (lamp, link) ends
// the print with that error's words; so does a board that goes away during a print.
class PrinterErrorWatchdog;
class PrintingThread;
class QThread;
class QTimer;
class Terminal;

class TetheredPrinter : public QObject
{
    Q_OBJECT

public:
    enum State { Idle, WaitingForBoard, Printing, PausingWhileMoving, Paused, ResumingWhileMoving, Cancelling };
    Q_ENUM(State)

    explicit TetheredPrinter(QObject *parent = nullptr);
    ~TetheredPrinter() override;

    // The board's serial port; empty (the default) finds the board as the printer does.
    void setSerialPort(const QString &path);
    // A printer with 75-micron pixels: jobs sliced for 100 microns are refused, and the
    // 75-micron resin catalogue applies.
    void setPixels75(bool pixels75);

    // The desktop's resin list the prints take their exposures from (as edited in the window);
    // empty, the built-in catalogue.
    void setResins(const QList<Resin> &resins) { m_resins = resins; }

    // Starts a print of the job with a resin of the desktop's catalogue, by the same rule as a
    // networked print; false, with the refusal in words in *error, when the job cannot be read
    // or the rule refuses it (nothing is started).
    bool start(const QString &jobPath, const QString &resinName, QString *error);
    // Answered by stateChanged(); ignored in a state where they make no sense.
    void pause();
    void resume();
    void cancel();

    State state() const;

    // The longest a platform movement may take before the board is taken for stopped, in
    // seconds at time scale 1 (TimeScale scales it as the printer's own timers).
    static constexpr int movementTimeoutSeconds = 25;
    // Whether a board is connected and started, ready to take a print.
    bool boardReady() const { return m_boardReady; }
    // The job line the running (or last) print was started with.
    const PrintJob &job() const { return m_job; }

signals:
    // The image to project now, at the projector's size (1280 x 800), calibration scale applied.
    void frame(const QImage &image);
    // After each layer: the layer number, the percentage done and the minutes left.
    void progress(int layer, int percent, int minutesLeft);
    void stateChanged(TetheredPrinter::State state);
    // The print ended with its final movement: done (cancelled true when it was cancelled).
    void finished(bool cancelled);
    // The print ended on an error, in words ("the printer's board stopped answering", a
    // watchdog error's text, ...).
    void failed(const QString &message);

private:
    QList<Resin> m_resins;
    void setState(State state);
    void wireThread();
    void connectBoard();
    void boardAppeared();
    void boardSettled(int connection);
    void runJob();
    void movementStarted();
    void movementEnded();
    void finishMovementDone();
    void fail(const QString &message);
    void showFrame(const QImage &image);
    void requestRefused(const QString &request);

    Terminal *m_board = nullptr;
    PrinterErrorWatchdog *m_watchdog = nullptr;
    PrintingThread *m_printing = nullptr;
    QThread *m_printingQThread = nullptr;
    QTimer *m_movementTimer = nullptr;
    State m_state = Idle;
    PrintJob m_job; // read by the printing thread while a print runs
    QString m_serialPort; // empty: found as the printer finds it
    bool m_pixels75 = false;
    bool m_boardReady = false;
    int m_boardConnections = 0; // to tell a start-up's timers from an earlier one's
    bool m_jobHanded = false; // the printing thread has this print
    int m_threadStatus = 5; // the printing thread's status as it last reported it (idle)
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
};
