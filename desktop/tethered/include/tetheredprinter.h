#pragma once

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

    // Starts a print of the job with a resin of the desktop's catalogue, by the same rule as a
    // networked print; false, with the refusal in words in *error, when the job cannot be read
    // or the rule refuses it (nothing is started).
    bool start(const QString &jobPath, const QString &resinName, QString *error);
    // Answered by stateChanged(); ignored in a state where they make no sense.
    void pause();
    void resume();
    void cancel();

    State state() const;

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
};
