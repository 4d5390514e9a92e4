#pragma once

// A simulated motor and projector board on a pseudo-terminal.
//
// Terms used below:
//   link    the symbolic link clients open as their serial port name; it points
//           at the slave side of the pseudo-terminal (/dev/pts/N).
//   master  the simulator's end of the pseudo-terminal: command lines arrive
//           there and answers leave from there.
//   client  whoever has the slave open: the printer program, a test's
//           QSerialPort, a terminal program.
//   speed   factor applied to every board duration (homing 2 s, move 3 s,
//           pause 1 s, lamp confirmation every 10 s); 0.01 makes a move 30 ms.
//
// Answers nobody can receive are not kept for later: while no client has the
// port open they are dropped, and what a client left unread is discarded when
// it closes, so the next client never reads answers meant for its predecessor
// (as with a USB serial device). Where the operating system cannot report
// opens of the pseudo-terminal, every answer is written and clientCount() is -1.

#include "printtime.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QSocketNotifier;

class BoardSimulator : public QObject
{
    Q_OBJECT

public:
    // The board's own durations in milliseconds, before the speed factor: the ones the
    // printer's time estimate counts on (BoardTiming).
    static constexpr int HomingMs = BoardTiming::homingMs;
    static constexpr int MoveMs = BoardTiming::moveMs;
    static constexpr int FinishMs = BoardTiming::finishMs;
    static constexpr int PauseToggleMs = BoardTiming::pauseToggleMs;
    static constexpr int LampRepeatMs = BoardTiming::lampRepeatMs;

    explicit BoardSimulator(QObject *parent = nullptr);
    // Removes the link if it still points at this board's pseudo-terminal.
    ~BoardSimulator() override;

    // Creates the pseudo-terminal and makes linkPath a symbolic link to it,
    // replacing an existing symbolic link but never a file or a folder.
    // speed must be positive. With logPath, every received line is appended
    // there as "hh:mm:ss.zzz <line>". Returns false, with errorString(), on
    // failure; call once.
    bool start(const QString &linkPath, double speed = 1.0, const QString &logPath = QString());
    QString errorString() const { return m_error; }

    QString linkPath() const { return m_linkPath; }
    // The slave's device path (/dev/pts/N); empty while unplugged.
    QString devicePath() const { return m_devicePath; }
    double speed() const { return m_speed; }
    // A board duration scaled by the speed, in milliseconds.
    int scaled(int boardMs) const;

    bool isPlugged() const { return m_master >= 0; }
    bool isPaused() const { return m_paused; }
    bool isLampOn() const { return m_lampOn; }
    bool isLampSilent() const { return m_lampSilent; }
    bool isStalled() const { return m_stalled; }
    // How many open file descriptions clients hold on the port; -1 if unknown.
    int clientCount();

    // Every line received since start (or the last clear), CR and LF removed.
    QStringList receivedLines() const { return m_received; }
    void clearReceivedLines() { m_received.clear(); }

public slots:
    // The front button: "BP" / "BR".
    void press();
    void release();
    // The board resets by itself: "WSNSD" at once, "Z0" after homing. Answers
    // in flight are lost and the pause toggle returns to running; the lamp and
    // a stall are left as they are.
    void selfReset();
    // The USB link goes: the link is removed, both ends of the pseudo-terminal
    // are closed (a client's reads fail, its QSerialPort reports an error) and
    // answers in flight are lost. Board state (lamp, pause, stall) is kept.
    void unplug();
    // The USB link comes back on a new pseudo-terminal; the link is switched
    // over atomically. False (with errorString()) if it cannot be made.
    bool plug();
    // The lamp stops confirming it is on, until a "P1" that follows a "P0".
    void lampSilent();
    // The board reports the lamp off ("P0") and stops confirming it is on.
    void lampOff();
    // Moves ("N…" and "f") are no longer answered, including those in flight;
    // unstall() answers nothing retroactively.
    void stall();
    void unstall();

signals:
    void lineReceived(const QString &line);
    // An answer written to the master, after it was written.
    void answerSent(const QByteArray &answer);
    void pluggedIn(const QString &devicePath);
    void unplugged();
    // A client opened or closed the port (only where opens can be watched).
    void clientOpened();
    void clientClosed();

private:
    enum class Kind { Plain, Move };

    bool openLink();
    void closeLink();
    bool setUpClientWatch();
    void readClientEvents();
    void readMaster();
    void handleLine(const QString &line);
    void answerAfter(int boardMs, const QByteArray &answer, Kind kind = Kind::Plain);
    void send(const QByteArray &answer);
    void dropAnswersInFlight();
    void repeatLampConfirmation();
    bool linkIsOurs() const;

    QString m_linkPath;
    QString m_devicePath;
    QString m_error;
    double m_speed = 1.0;
    bool m_started = false;

    int m_master = -1;
    int m_slave = -1; // kept open so the master never sees a hang-up between clients
    int m_inotify = -1;
    int m_clients = -1;
    unsigned m_linkGeneration = 0; // changes whenever the link goes or comes
    QSocketNotifier *m_masterNotifier = nullptr;
    QSocketNotifier *m_clientNotifier = nullptr;
    QByteArray m_inbox;

    // Parent of the single-shot timers of answers in flight; replacing it
    // cancels them all.
    QObject *m_inFlight = nullptr;
    QTimer m_lampTimer;

    bool m_homingArmed = false;
    bool m_paused = false;
    bool m_lampOn = false;
    bool m_lampSilent = false;
    bool m_stalled = false;

    QStringList m_received;
    QFile m_log;
};
