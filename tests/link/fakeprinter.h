#pragma once

#include "jobstreamreceiver.h"
#include "messages.h"
#include "protocol.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

#include <memory>

// The printer's side of the link on loopback, as small as the tests need: reads the
// greeting, records every message the desktop sends (frames, or raw frames when legacy),
// answers a job with the transfer request and receives the stream with JobStreamReceiver.
class FakePrinter : public QObject
{
public:
    explicit FakePrinter(bool legacy = false)
        : m_legacy(legacy)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
    }

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(2000);
    }

    // The handshake reply; fieldCount 8 leaves out the G parameter.
    static QString reply(const QString &serial, const QString &model, const QString &version, const QString &status,
        const QString &resins = QString(), int fieldCount = 9)
    {
        QString text = Protocol::handshakeReply(serial, QStringLiteral("Nick") + serial, model, version, status, resins,
            {QStringLiteral("wifiA"), QStringLiteral("wifiB")}, QStringLiteral("g7"));
        if (fieldCount == 8)
            text = text.left(text.lastIndexOf(QLatin1Char(',')));
        return text;
    }

    void send(const QString &message)
    {
        if (m_legacy)
            socket.write(Protocol::rawFrame(QLatin1String(Protocol::kMarker) + message));
        else
            socket.write(Protocol::frame(QLatin1String(Protocol::kMarker) + message));
        socket.flush();
    }

    void sendBytes(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    // Starts a job stream receiver: the next "Status_SendingPrintJob" is answered with the
    // transfer request and the stream goes to targetPath.
    void expectJob(const QString &targetPath) { m_jobTarget = targetPath; }

    bool waitForMessage(const QString &message, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return messages.contains(message); }, timeoutMs);
    }

    QTcpSocket socket;
    QString greeting;
    QStringList messages;
    QStringList rawTexts; // each raw read, legacy mode
    std::unique_ptr<JobStreamReceiver> receiver;
    JobStreamReceiver::Result streamResult = JobStreamReceiver::NeedMore;
    int keepAlivesInStream = 0;
    // While true, stream bytes stay unread (with a small read buffer: a stalled printer).
    bool holdStream = false;

private:
    void onReadyRead()
    {
        if (greeting.isEmpty()) {
            const qint64 size = qstrlen(Protocol::kMarker) + qstrlen(Message::kGreeting);
            if (socket.bytesAvailable() < size)
                return;
            greeting = QString::fromUtf8(socket.read(size));
        }
        if (m_legacy) {
            const QString text = Protocol::asciiUpToZero(socket.readAll());
            if (!text.isEmpty())
                rawTexts << text;
            messages << Protocol::extractMessages(text);
            return;
        }
        for (;;) {
            if (receiver) {
                if (holdStream)
                    return;
                if (JobStreamReceiver::consumeKeepAlive(&socket)) {
                    ++keepAlivesInStream;
                    continue;
                }
                streamResult = receiver->feed(&socket);
                if (streamResult == JobStreamReceiver::NeedMore)
                    return;
                receiver.reset();
            }
            QString text;
            if (Protocol::readFrame(&socket, &text) != Protocol::FrameStatus::Complete)
                return;
            const QStringList pieces = Protocol::extractMessages(text);
            for (const QString &message : pieces) {
                messages << message;
                if (!m_jobTarget.isEmpty() && message.startsWith(QLatin1String(Message::kSendingPrintJob))) {
                    receiver = std::make_unique<JobStreamReceiver>(m_jobTarget);
                    send(QLatin1String(Message::kFileTransfer));
                }
            }
        }
    }

    bool m_legacy = false;
    QString m_jobTarget;
};
