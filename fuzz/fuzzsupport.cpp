#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Fuzz {

namespace {

void handleLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static const bool wanted = qEnvironmentVariableIntValue("TESSORA_FUZZ_LOG") == 1;
    if (wanted || type == QtFatalMsg)
        std::fprintf(stderr, "%s%s\n", type == QtFatalMsg ? "fatal: " : "", qPrintable(message));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void init()
{
    if (QCoreApplication::instance())
        return;
    qInstallMessageHandler(handleLog);
    static int argc = 1;
    static char name[] = "tessora-fuzz";
    static char *argv[] = {name, nullptr};
    // Lives for the whole process, like the programs' own application objects.
    new QCoreApplication(argc, argv);
}

void fail(const char *file, int line, const char *rule, const QString &detail)
{
    std::fprintf(stderr, "\n%s:%d: rule broken: %s\n%s\n", file, line, rule, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

QString workDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        const QString base
            = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/tessora-fuzz-XXXXXX"));
        if (!dir->isValid())
            fail(__FILE__, __LINE__, "dir->isValid()", QStringLiteral("no scratch folder below ") + base);
    }
    return dir->path();
}

QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

QList<QByteArray> pieces(const QByteArray &stream, uint8_t plan)
{
    static const int sizes[8] = {0, 1, 2, 3, 5, 16, 100, 4096};
    const int size = sizes[plan & 7];
    if (size == 0 || stream.size() <= size)
        return {stream};
    QList<QByteArray> out;
    for (int at = 0; at < stream.size(); at += size)
        out.append(stream.mid(at, size));
    return out;
}

SocketPair::SocketPair()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    m_far = fds[1];
    ::fcntl(m_far, F_SETFL, ::fcntl(m_far, F_GETFL) | O_NONBLOCK);
    m_socket = new QTcpSocket;
    if (!m_socket->setSocketDescriptor(fds[0])) {
        delete m_socket.data();
        ::close(fds[0]);
    }
}

SocketPair::~SocketPair()
{
    if (m_owned)
        delete m_socket.data();
    if (m_far >= 0)
        ::close(m_far);
}

QTcpSocket *SocketPair::releaseSocket()
{
    m_owned = false;
    return m_socket.data();
}

bool SocketPair::readPending()
{
    for (;;) {
        if (m_socket.isNull() || m_socket->state() != QAbstractSocket::ConnectedState)
            return false;
        const qintptr fd = m_socket->socketDescriptor();
        int pending = 0;
        if (fd < 0 || ::ioctl(int(fd), FIONREAD, &pending) != 0)
            return false;
        if (pending == 0)
            return true;
        // One read of everything pending, one readyRead.
        if (!m_socket->waitForReadyRead(5000))
            return false;
    }
}

bool SocketPair::deliver(const QByteArray &bytes)
{
    qint64 sent = 0;
    while (sent < bytes.size()) {
        if (m_socket.isNull() || m_socket->state() != QAbstractSocket::ConnectedState)
            return false;
        const ssize_t n = ::send(m_far, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The socket buffer is full: let the reader take some first.
            if (!readPending())
                return false;
            drain();
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    const bool open = readPending();
    drain();
    return open;
}

qint64 SocketPair::drain()
{
    qint64 total = 0;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(m_far, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return total;
        total += n;
        m_received.append(buffer, int(n));
    }
}

} // namespace Fuzz
