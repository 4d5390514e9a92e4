#pragma once

#include "fakeprinter.h"
#include "printjob.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

// One printer of a simulated fleet: the printer's side of the link over a real loopback
// connection, without board or projection. Built on the tests' FakePrinter (greeting,
// frames, job stream receiver); this adds what a printer in service does: the handshake
// reply with its own serial and nickname, the heartbeat in both directions, a progress
// report for every layer, the job stream into a file of its own and the print of that job,
// and the answers to pause, resume and cancel.
//
// Terms used here:
//   layer interval - time between two progress reports while printing (not scaled).
//   time scale     - factor on the heartbeat interval, the heartbeat time-out and the board
//                    movements of pause and resume; 1.0 is the printer's real timing.
//   quiet          - the printer stops reporting layers (heartbeats go on) so that a count
//                    of reports sent can be compared with what the desktop received.
//   killed         - the connection ended on purpose by the fleet (KillMode); a connection
//                    that ends otherwise counts as lost.
class FleetPrinter
{
public:
    struct Options {
        QString serial;
        QString nickname;
        QString model = QStringLiteral("OBP100V1");
        // Printing a job of its own when the desktop connects (reported at the handshake).
        bool printingAtStart = false;
        int layerIntervalMs = 50;
        double timeScale = 1.0;
        // Where received job streams are written.
        QString jobPath;
        // The job file the desktop is expected to send, to compare the received bytes.
        QString expectedJobPath;
    };

    enum class KillMode {
        Close, // the socket is closed at once, without goodbye (FIN)
        Reset, // the connection is reset (RST), as by a crashed network stack
        Silent, // the printer stops reading and sending; only the heartbeat can tell
    };

    explicit FleetPrinter(const Options &options);
    ~FleetPrinter();
    FleetPrinter(const FleetPrinter &) = delete;
    FleetPrinter &operator=(const FleetPrinter &) = delete;

    // Connects to the announced port on loopback, as a printer does after a datagram:
    // blocking, up to the printer's connect time-out. The handshake follows the greeting.
    bool connectTo(quint16 port);

    void setQuiet(bool quiet);
    void kill(KillMode mode);

    QString serial() const { return m_options.serial; }
    QString nickname() const { return m_options.nickname; }
    bool isConnected() const;
    bool handshakeSent() const { return m_handshakeSent; }
    bool isKilled() const { return m_killed; }
    // The connection ended without the fleet ending it, or the printer timed it out.
    bool isLost() const { return m_lost; }
    bool isPrinting() const { return m_state == State::Printing; }

    // Reports sent (every "Send_PrintProgress" written), and the last layer reported.
    qint64 progressSent() const { return m_progressSent; }
    int lastLayer() const { return m_layer; }
    int heartbeatsSent() const { return m_heartbeatsSent; }
    int heartbeatsReceived() const { return m_heartbeatsReceived; }
    int timeouts() const { return m_timeouts; }
    int pausesAnswered() const { return m_pausesAnswered; }
    int resumesAnswered() const { return m_resumesAnswered; }
    int cancels() const { return m_cancels; }
    int printsDone() const { return m_printsDone; }
    // Job streams received completely, and those whose file matched what was sent and
    // loaded as a job of the announced layer count.
    int jobsReceived() const { return m_jobsReceived; }
    int jobsIntact() const { return m_jobsIntact; }
    QStringList problems() const { return m_problems; }

private:
    enum class State { Ready, Printing, Paused };

    void onReadyRead();
    void feedStream();
    void handleMessage(const QString &message);
    void acceptJobLine(const QString &message);
    void pause();
    void resume();
    void sendMessage(const QString &message);
    void sendProgress();
    void nextLayer();
    void finishJob();
    void startHeartbeat();
    void connectionTimedOut();
    void problem(const QString &text);
    int scaled(int ms) const;

    Options m_options;
    FakePrinter m_link;
    State m_state = State::Ready;
    QTimer m_layerTimer;
    QTimer m_heartbeatSend;
    QTimer m_heartbeatTimeout;
    bool m_quiet = false;
    bool m_handshakeSent = false;
    bool m_killed = false;
    bool m_lost = false;
    int m_messagesSeen = 0;

    // The print in progress: a job received from the desktop, or the job the printer was
    // already printing when the desktop connected.
    PrintJob m_job;
    QString m_fileName;
    bool m_jobPending = false;
    int m_layer = 0;

    qint64 m_progressSent = 0;
    int m_heartbeatsSent = 0;
    int m_heartbeatsReceived = 0;
    int m_timeouts = 0;
    int m_pausesAnswered = 0;
    int m_resumesAnswered = 0;
    int m_cancels = 0;
    int m_printsDone = 0;
    int m_jobsReceived = 0;
    int m_jobsIntact = 0;
    QStringList m_problems;
};
