#pragma once

// A printer session under test, against a simulated board on a
// pseudo-terminal and a small fake desktop on loopback.
#include "boardsim.h"
#include "client.h"
#include "protocol.h"
#include "waiting.h"

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <memory>

// Plays the desktop: listens on loopback, announces itself to the printer's
// discovery port, greets, and records every message the printer sends.
class FakeDesktop : public QObject
{
    Q_OBJECT
public:
    FakeDesktop();

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    void announce(quint16 discoveryPort);
    bool waitForConnection(int ms = 5000);
    bool connected() const;

    void sendRaw(const QByteArray &bytes);
    void greet()
    {
        sendRaw(QByteArrayLiteral("*header*Tessora_Server"));
        m_heartbeat.start();
    }
    void send(const QString &message) { sendRaw(Protocol::frame(QStringLiteral("*header*") + message)); }
    // A whole job stream for the file.
    void sendStream(const QString &name, const QByteArray &content);
    // Sends a job line (the ten fields after "Status_SendingPrintJob,") and
    // waits until the printer asks for the file.
    bool startJob(const QString &fields);
    // Waits until `message` came; with `prefix`, a message that begins with it.
    bool waitForMessage(const QString &message, int ms = 10000, bool prefix = false);

    QStringList messages;
    // Messages that begin with `prefix`.
    QStringList messagesStartingWith(const QString &prefix) const;
    // Sends "Connection-Alive" every 50 ms once greeted, as a live desktop does.
    bool heartbeat = true;

private:
    void readFrames();

    QTimer m_heartbeat;
    QTcpServer m_server;
    QTcpSocket *m_socket = nullptr;
};

// The working folder, simulated system, board and session of one test.
class Session
{
public:
    // `prepare` may put files into the working folder before the session starts;
    // `adjustOptions` may change the program options the session starts with. The
    // printer is on the workshop network.
    explicit Session(const std::function<void(const QString &workdir)> &prepare = {},
        const std::function<void(ClientOptions &options)> &adjustOptions = {});
    ~Session();

    bool ok() const { return m_ok; }
    QString path(const QString &name) const;
    QString systemFile(const QString &systemPath) const;
    Client &client() { return *m_client; }
    BoardSimulator &board() { return m_board; }
    FakeDesktop &desktop() { return m_desktop; }
    quint16 discoveryPort() const { return m_discoveryPort; }

    // Connects the desktop and completes the handshake; the reply's fields.
    QStringList connectAndHandshake();
    // Started, and the desktop connected with a whole handshake reply.
    bool connectDesktop() { return m_ok && connectAndHandshake().size() == 9; }
    // A small job of `layers` layers and its stream.
    QByteArray makeJob(int layers) const;

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    BoardSimulator m_board;
    FakeDesktop m_desktop;
    quint16 m_discoveryPort = 0;
    std::unique_ptr<Client> m_client;
    bool m_ok = false;
};

// A value of the session's settings file (in the current folder).
QString settingValue(const QString &key);
// The layer moves ("N...") among the board's lines.
int movesOf(const QStringList &boardLines);
// Every refusal of `request`: the status and the reason it gives.
QList<QStringList> refusalsOf(const FakeDesktop &desktop, const QString &request);
