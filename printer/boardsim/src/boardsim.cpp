#include "boardsim.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTime>
#include <QtGlobal>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const QString &what, int error)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool setFdFlags(int fd, bool nonBlocking)
{
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0)
        return false;
    if (!nonBlocking)
        return true;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

QString readLinkTarget(const QString &path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer - 1);
    return n < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(n)));
}

// A line that never ends is not kept forever: past this length it is taken as a line.
constexpr int MaxLineLength = 4096;

} // namespace

BoardSimulator::BoardSimulator(QObject *parent)
    : QObject(parent)
    , m_inFlight(new QObject(this))
{
    m_lampTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lampTimer, &QTimer::timeout, this, &BoardSimulator::repeatLampConfirmation);
}

BoardSimulator::~BoardSimulator()
{
    closeLink();
}

int BoardSimulator::scaled(int boardMs) const
{
    const double ms = std::round(boardMs * m_speed);
    return ms >= double(INT_MAX) ? INT_MAX : int(ms);
}

bool BoardSimulator::start(const QString &linkPath, double speed, const QString &logPath)
{
    if (m_started) {
        m_error = QStringLiteral("the board is already started");
        return false;
    }
    if (!(speed > 0) || !std::isfinite(speed)) {
        m_error = QStringLiteral("the speed must be a positive number");
        return false;
    }
    if (linkPath.isEmpty()) {
        m_error = QStringLiteral("no link path given");
        return false;
    }
    m_linkPath = QFileInfo(linkPath).absoluteFilePath();
    m_speed = speed;
    m_lampTimer.setInterval(scaled(LampRepeatMs));

    if (!logPath.isEmpty()) {
        m_log.setFileName(logPath);
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            m_error = QStringLiteral("cannot open the log %1: %2").arg(logPath, m_log.errorString());
            return false;
        }
    }
    if (!openLink()) {
        m_log.close();
        return false;
    }
    m_started = true;
    return true;
}

bool BoardSimulator::openLink()
{
    // Refuse to replace anything but a symbolic link: the path may be a typo
    // for a real file or a folder.
    const QByteArray link = QFile::encodeName(m_linkPath);
    struct stat st;
    if (::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        m_error = QStringLiteral("%1 exists and is not a symbolic link").arg(m_linkPath);
        return false;
    }

    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) < 0) {
        m_error = systemError(QStringLiteral("cannot create a pseudo-terminal"), errno);
        return false;
    }
    char name[128];
    struct termios tio;
    bool ok = ::ptsname_r(master, name, sizeof name) == 0 && setFdFlags(master, true) && setFdFlags(slave, false)
        && ::tcgetattr(slave, &tio) == 0;
    if (ok) {
        // Raw bytes both ways, as over the board's USB serial port.
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B9600);
        ok = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    }
    if (!ok) {
        m_error = systemError(QStringLiteral("cannot set up the pseudo-terminal"), errno);
        ::close(master);
        ::close(slave);
        return false;
    }
    m_master = master;
    m_slave = slave;
    m_devicePath = QFile::decodeName(name);

    // Watch opens before the link exists, so that no client can be missed.
    if (!setUpClientWatch()) {
        closeFd(m_inotify);
        m_clients = -1;
    }

    // Switch the link over in one rename: a client never sees the path missing.
    const QFileInfo linkInfo(m_linkPath);
    const QString temporary
        = linkInfo.dir().filePath(QStringLiteral(".%1.%2.new").arg(linkInfo.fileName()).arg(::getpid()));
    const QByteArray temporaryName = QFile::encodeName(temporary);
    ::unlink(temporaryName.constData());
    if (::symlink(name, temporaryName.constData()) < 0 || ::rename(temporaryName.constData(), link.constData()) < 0) {
        m_error = systemError(QStringLiteral("cannot create the link %1").arg(m_linkPath), errno);
        ::unlink(temporaryName.constData());
        closeLink();
        return false;
    }

    ++m_linkGeneration;
    m_masterNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_masterNotifier, &QSocketNotifier::activated, this, &BoardSimulator::readMaster);
    if (m_inotify >= 0) {
        m_clientNotifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
        connect(m_clientNotifier, &QSocketNotifier::activated, this, &BoardSimulator::readClientEvents);
    }
    return true;
}

// Opens and closes of the slave are reported by inotify on its device node.
// A probe open proves that the reports arrive; otherwise clients are not tracked.
bool BoardSimulator::setUpClientWatch()
{
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0)
        return false;
    const QByteArray device = QFile::encodeName(m_devicePath);
    if (::inotify_add_watch(m_inotify, device.constData(), IN_OPEN | IN_CLOSE) < 0)
        return false;
    const int probe = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0)
        return false;
    ::close(probe);

    bool opened = false;
    bool closed = false;
    alignas(struct inotify_event) char buffer[1024];
    const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
    for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
        const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
        opened = opened || (event->mask & IN_OPEN);
        closed = closed || (event->mask & IN_CLOSE);
        at += ssize_t(sizeof(struct inotify_event)) + ssize_t(event->len);
    }
    if (!opened || !closed)
        return false;
    m_clients = 0;
    return true;
}

void BoardSimulator::readClientEvents()
{
    if (m_inotify < 0)
        return;
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            at += ssize_t(sizeof(struct inotify_event)) + ssize_t(event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Counts are lost: fall back to writing every answer.
                qWarning("BoardSimulator::readClientEvents: too many open events, no longer tracking clients");
                if (m_clientNotifier)
                    m_clientNotifier->setEnabled(false);
                closeFd(m_inotify);
                m_clients = -1;
                return;
            }
            if (event->mask & IN_OPEN) {
                ++m_clients;
                emit clientOpened();
            }
            if ((event->mask & IN_CLOSE) && m_clients > 0) {
                --m_clients;
                // What the last client left unread is not for the next one.
                if (m_clients == 0 && m_slave >= 0)
                    ::tcflush(m_slave, TCIFLUSH);
                emit clientClosed();
            }
            if (m_inotify < 0) // a slot unplugged the board
                return;
        }
    }
}

int BoardSimulator::clientCount()
{
    readClientEvents();
    return m_clients;
}

void BoardSimulator::closeLink()
{
    if (linkIsOurs())
        ::unlink(QFile::encodeName(m_linkPath).constData());
    // The notifiers may be the sender of the signal being handled.
    for (QSocketNotifier *notifier : {m_masterNotifier, m_clientNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_masterNotifier = nullptr;
    m_clientNotifier = nullptr;
    closeFd(m_inotify);
    m_clients = -1;
    closeFd(m_slave);
    // Closing the master hangs up every client's descriptor of the slave.
    closeFd(m_master);
    m_devicePath.clear();
    m_inbox.clear();
    ++m_linkGeneration;
    m_homingArmed = false;
}

bool BoardSimulator::linkIsOurs() const
{
    return !m_devicePath.isEmpty() && !m_linkPath.isEmpty() && readLinkTarget(m_linkPath) == m_devicePath;
}

void BoardSimulator::readMaster()
{
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_inbox.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The slave is held open here, so this is not a client leaving.
        qWarning("BoardSimulator::readMaster: %s", n == 0 ? "end of file" : std::strerror(errno));
        m_masterNotifier->setEnabled(false);
        break;
    }

    QStringList lines;
    for (;;) {
        const int end = m_inbox.indexOf('\n');
        if (end < 0) {
            if (m_inbox.size() > MaxLineLength) {
                lines << QString::fromLatin1(m_inbox);
                m_inbox.clear();
            }
            break;
        }
        QByteArray line = m_inbox.left(end);
        m_inbox.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        lines << QString::fromLatin1(line);
    }

    const unsigned generation = m_linkGeneration;
    for (const QString &line : qAsConst(lines)) {
        m_received << line;
        if (m_log.isOpen()) {
            m_log.write(QStringLiteral("%1 %2\n")
                            .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")), line)
                            .toLatin1());
            m_log.flush();
        }
        emit lineReceived(line);
        // A slot may have unplugged the board; the rest of the chunk went with the link.
        if (m_linkGeneration != generation)
            return;
        handleLine(line);
    }
}

void BoardSimulator::handleLine(const QString &line)
{
    static const QRegularExpression homingLine(QStringLiteral("^g([+-]?\\d+)$"));
    static const QRegularExpression moveLine(QStringLiteral("^N([+-]?\\d+)$"));

    const bool homingArmed = m_homingArmed;
    m_homingArmed = false;

    if (line == QLatin1String("R")) {
        m_homingArmed = true;
        return;
    }
    if (homingArmed) {
        const QRegularExpressionMatch match = homingLine.match(line);
        if (match.hasMatch()) {
            answerAfter(HomingMs, "Z" + match.captured(1).toLatin1() + "\r\n");
            return;
        }
    }
    const QRegularExpressionMatch move = moveLine.match(line);
    if (move.hasMatch()) {
        answerAfter(MoveMs, "F" + move.captured(1).toLatin1() + "\n", Kind::Move);
        return;
    }
    if (line == QLatin1String("f")) {
        answerAfter(FinishMs, "F\r\n", Kind::Move);
        return;
    }
    if (line == QLatin1String("R410")) {
        m_paused = !m_paused;
        answerAfter(PauseToggleMs, m_paused ? "Pause1\r\n" : "Pause0\r\n");
        return;
    }
    if (line == QLatin1String("P1")) {
        m_lampOn = true;
        if (!m_lampSilent)
            send("P1\r\n");
        m_lampTimer.start();
        return;
    }
    if (line == QLatin1String("P0")) {
        m_lampOn = false;
        m_lampSilent = false;
        m_lampTimer.stop();
        send("P0\r\n");
        return;
    }
    // Everything else (initialisation parameters, jogs, LED, buzzer) is taken
    // silently, as the board does.
}

void BoardSimulator::answerAfter(int boardMs, const QByteArray &answer, Kind kind)
{
    if (kind == Kind::Move && m_stalled)
        return;
    QTimer::singleShot(scaled(boardMs), Qt::PreciseTimer, m_inFlight, [this, answer, kind] {
        if (kind == Kind::Move && m_stalled)
            return;
        send(answer);
    });
}

void BoardSimulator::send(const QByteArray &answer)
{
    if (m_master < 0)
        return; // unplugged: the bytes go nowhere
    readClientEvents();
    if (m_master < 0 || m_clients == 0)
        return; // nobody has the port open
    ssize_t n;
    do {
        n = ::write(m_master, answer.constData(), size_t(answer.size()));
    } while (n < 0 && errno == EINTR);
    if (n != answer.size()) {
        qWarning("BoardSimulator::send: %s", n < 0 ? std::strerror(errno) : "short write (the client reads nothing)");
        return;
    }
    emit answerSent(answer);
}

void BoardSimulator::dropAnswersInFlight()
{
    delete m_inFlight;
    m_inFlight = new QObject(this);
}

void BoardSimulator::repeatLampConfirmation()
{
    if (m_lampOn && !m_lampSilent)
        send("P1\r\n");
}

void BoardSimulator::press()
{
    send("BP\r\n");
}

void BoardSimulator::release()
{
    send("BR\r\n");
}

void BoardSimulator::selfReset()
{
    dropAnswersInFlight();
    m_paused = false;
    m_homingArmed = false;
    send("WSNSD\r\n");
    answerAfter(HomingMs, "Z0\r\n");
}

void BoardSimulator::unplug()
{
    if (!isPlugged())
        return;
    dropAnswersInFlight();
    closeLink();
    emit unplugged();
}

bool BoardSimulator::plug()
{
    if (isPlugged())
        return true;
    if (!m_started) {
        m_error = QStringLiteral("the board is not started");
        return false;
    }
    if (!openLink()) {
        qWarning("BoardSimulator::plug: %s", qPrintable(m_error));
        return false;
    }
    emit pluggedIn(m_devicePath);
    return true;
}

void BoardSimulator::lampSilent()
{
    m_lampSilent = true;
}

void BoardSimulator::lampOff()
{
    m_lampOn = false;
    m_lampTimer.stop();
    send("P0\r\n");
}

void BoardSimulator::stall()
{
    m_stalled = true;
}

void BoardSimulator::unstall()
{
    m_stalled = false;
}
