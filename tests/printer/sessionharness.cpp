#include "sessionharness.h"

#include "crushedprintjob.h"
#include "systemactions.h"
#include "timescale.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

FakeDesktop::FakeDesktop()
{
    m_heartbeat.setInterval(50);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] {
        if (heartbeat && connected())
            send(QStringLiteral("Connection-Alive"));
    });
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->deleteLater();
        }
        m_socket = m_server.nextPendingConnection();
        m_heartbeat.stop(); // a new connection is greeted first; greet() restarts it
        connect(m_socket, &QTcpSocket::readyRead, this, &FakeDesktop::readFrames);
    });
}

bool FakeDesktop::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void FakeDesktop::announce(quint16 discoveryPort)
{
    QUdpSocket udp;
    udp.writeDatagram(Protocol::datagram(QStringLiteral("127.0.0.1"), port()), QHostAddress::LocalHost, discoveryPort);
}

bool FakeDesktop::waitForConnection(int ms)
{
    return waitFor([this] { return connected(); }, ms);
}

bool FakeDesktop::connected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void FakeDesktop::sendRaw(const QByteArray &bytes)
{
    if (!m_socket)
        return;
    m_socket->write(bytes);
    m_socket->flush();
}

void FakeDesktop::sendStream(const QString &name, const QByteArray &content)
{
    sendRaw(Protocol::jobStreamHeader(name, content.size()) + content);
}

bool FakeDesktop::startJob(const QString &fields)
{
    const QString request = QStringLiteral("Client_Request_FileTransfer");
    const int before = int(messages.count(request));
    send(QStringLiteral("Status_SendingPrintJob,") + fields);
    return waitFor([&] { return messages.count(request) > before; });
}

bool FakeDesktop::waitForMessage(const QString &message, int ms, bool prefix)
{
    return waitFor([&] { return prefix ? !messagesStartingWith(message).isEmpty() : messages.contains(message); }, ms);
}

QStringList FakeDesktop::messagesStartingWith(const QString &prefix) const
{
    QStringList found;
    for (const QString &message : messages)
        if (message.startsWith(prefix))
            found << message;
    return found;
}

void FakeDesktop::readFrames()
{
    QString text;
    while (Protocol::readFrame(m_socket, &text) == Protocol::FrameStatus::Complete)
        messages << Protocol::extractMessages(text);
}

Session::Session(
    const std::function<void(const QString &)> &prepare, const std::function<void(ClientOptions &)> &adjustOptions)
{
    if (!m_dir.isValid())
        return;
    TimeScale::setFactor(0.02);
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    if (prepare)
        prepare(m_dir.path());

    SystemActions::configure(false, m_dir.filePath(QStringLiteral("system-root")));
    SystemActions::clearSimulated();
    SystemActions::setSimulatedOutput(
        QStringLiteral("ifconfig wlan0"), QStringLiteral("wlan0 inet addr:192.168.1.20 Bcast"));
    SystemActions::setSimulatedOutput(QStringLiteral("sudo iwlist wlan0 scan | grep ESSID"),
        QStringLiteral("ESSID:\"Workshop\"\nESSID:\"Office 2\"\nESSID:\"Workshop\"\n"));

    if (!m_board.start(m_dir.filePath(QStringLiteral("board")), 0.02, m_dir.filePath(QStringLiteral("board.log"))))
        return;
    if (!m_desktop.listen())
        return;
    {
        // A free UDP port for the printer's discovery listener.
        QUdpSocket probe;
        probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
        m_discoveryPort = probe.localPort();
    }
    ClientOptions options;
    options.serialPort = m_dir.filePath(QStringLiteral("board"));
    options.discoveryPort = m_discoveryPort;
    options.systemRoot = m_dir.filePath(QStringLiteral("system-root"));
    if (adjustOptions)
        adjustOptions(options);
    Client::setOptions(options);
    m_client = std::make_unique<Client>();
    m_ok = true;
}

Session::~Session()
{
    m_client.reset();
    QDir::setCurrent(m_previousDir);
    Client::setOptions(ClientOptions());
}

QString Session::path(const QString &name) const
{
    return m_dir.filePath(name);
}

QString Session::systemFile(const QString &systemPath) const
{
    QFile file(SystemActions::path(systemPath));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QStringList Session::connectAndHandshake()
{
    m_desktop.announce(m_discoveryPort);
    if (!m_desktop.waitForConnection())
        return QStringList();
    m_desktop.greet();
    m_desktop.waitForMessage(QStringLiteral("Tessora_Client"), 5000, true);
    const QStringList replies = m_desktop.messagesStartingWith(QStringLiteral("Tessora_Client"));
    return replies.isEmpty() ? QStringList() : replies.first().split(QLatin1Char(','));
}

QByteArray Session::makeJob(int layers) const
{
    CrushedPrintJob job;
    job.setVersion(1);
    job.setLayerThickness(0.05);
    job.clearAll(0);
    for (int layer = 0; layer < layers; ++layer) {
        QImage image(1280, 800, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.fillRect(QRect(100 + 30 * layer, 100, 20, 20), Qt::white);
        painter.end();
        job.addImage(&image);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    job.writeTo(&buffer);
    return bytes;
}

QString settingValue(const QString &key)
{
    return QSettings(QStringLiteral("Tessora_Client_Config"), QSettings::IniFormat).value(key).toString();
}

int movesOf(const QStringList &boardLines)
{
    return int(boardLines.filter(QRegularExpression(QStringLiteral("^N"))).size());
}

QList<QStringList> refusalsOf(const FakeDesktop &desktop, const QString &request)
{
    QList<QStringList> refusals;
    for (const QString &message : desktop.messagesStartingWith(QStringLiteral("Send_RequestRefused,") + request + ','))
        refusals << QStringList {message.section(',', 2, 2), Protocol::decodeField(message.section(',', 3))};
    return refusals;
}
