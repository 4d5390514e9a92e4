#include "sshlink.h"

#include "atomicfile.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// The libssh ABI used here: handles are opaque pointers, and the few constants below.
constexpr int kOptionsHost = 0;
constexpr int kOptionsPort = 1;
constexpr int kOptionsUser = 4;
constexpr int kOptionsTimeout = 9;
constexpr int kOk = 0;
constexpr int kScpWrite = 0;
constexpr int kScpRecursive = 0x10;
constexpr int kPushPermissions = 0700;
constexpr int kReadOnly = 0;
constexpr std::size_t kSftpReadBytes = 16384;
constexpr qint64 kPushPieceBytes = 1 << 20;
constexpr int kPublicKeyHashSha256 = 2;

using Handle = void *;
using NewFn = Handle (*)();
using OptionsSetFn = int (*)(Handle, int, const void *);
using HandleIntFn = int (*)(Handle);
using HandleVoidFn = void (*)(Handle);
using HandleNewFn = Handle (*)(Handle);
using AuthFn = int (*)(Handle, const char *, const char *);
using ExecFn = int (*)(Handle, const char *);
using ReadTimeoutFn = int (*)(Handle, void *, std::uint32_t, int, int);
using ErrorFn = const char *(*)(Handle);
using ScpNewFn = Handle (*)(Handle, int, const char *);
using ScpPushFn = int (*)(Handle, const char *, std::size_t, int);
using ScpWriteFn = int (*)(Handle, const void *, std::size_t);
using SftpOpenFn = Handle (*)(Handle, const char *, int, unsigned int);
using SftpReadFn = std::ptrdiff_t (*)(Handle, void *, std::size_t);
using SftpErrorFn = int (*)(Handle);
using ServerKeyFn = int (*)(Handle, Handle *);
using KeyHashFn = int (*)(Handle, int, unsigned char **, std::size_t *);
using CleanHashFn = void (*)(unsigned char **);

QMutex s_libraryMutex;
QString s_libraryName = QStringLiteral("ssh");
std::unique_ptr<QLibrary> s_library;

QLibrary *library()
{
    QMutexLocker locker(&s_libraryMutex);
    if (!s_library) {
#ifdef Q_OS_WIN
        s_library = std::make_unique<QLibrary>(s_libraryName);
#else
        // Only the versioned file is there without the development package.
        s_library = std::make_unique<QLibrary>(s_libraryName, 4);
#endif
        if (!s_library->load()) {
            qDebug().noquote() << "ERROR. SshLink. Could not load the SSH library" << s_libraryName << ":"
                               << s_library->errorString();
        }
    }
    return s_library->isLoaded() ? s_library.get() : nullptr;
}

// Looks a libssh function up at the moment of the call; nullptr (logged) when the library
// or the function is missing. logName is the name the log line uses for it.
template<typename Fn> Fn lookup(const char *symbol, const char *logName)
{
    QLibrary *lib = library();
    const QFunctionPointer function = lib ? lib->resolve(symbol) : nullptr;
    if (!function)
        qDebug().noquote() << QStringLiteral("Dll/ Function %1 not found").arg(QLatin1String(logName));
    return reinterpret_cast<Fn>(function);
}

template<typename Fn> Fn lookup(const char *symbol)
{
    return lookup<Fn>(symbol, symbol);
}

QMutex s_knownKeysMutex;
QString s_knownKeysPath;

// Serials become INI keys: a "/" would open a group, so the key is percent-encoded.
QString knownKeyName(const QString &serial)
{
    return QStringLiteral("printers/") + QString::fromLatin1(QUrl::toPercentEncoding(serial));
}

int environmentInt(const char *name, int fallback, int minimum, int maximum)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    if (!ok)
        return fallback;
    if (value < minimum || value > maximum) {
        qDebug() << "ERROR. SshSettings." << name << "out of range, using" << fallback;
        return fallback;
    }
    return value;
}

} // namespace

SshSettings SshSettings::fromEnvironment()
{
    SshSettings settings;
    if (qEnvironmentVariableIsSet("TESSORA_SSH_USER"))
        settings.user = qEnvironmentVariable("TESSORA_SSH_USER");
    if (qEnvironmentVariableIsSet("TESSORA_SSH_PASSWORD"))
        settings.password = qEnvironmentVariable("TESSORA_SSH_PASSWORD");
    if (qEnvironmentVariableIsSet("TESSORA_SSH_HOME"))
        settings.remoteHome = qEnvironmentVariable("TESSORA_SSH_HOME");
    settings.port = environmentInt("TESSORA_SSH_PORT", settings.port, 1, 65535);
    settings.timeoutSeconds = environmentInt("TESSORA_SSH_TIMEOUT", settings.timeoutSeconds, 1, 3600);
    return settings;
}

void KnownPrinterKeys::setStorePath(const QString &path)
{
    QMutexLocker locker(&s_knownKeysMutex);
    s_knownKeysPath = path;
}

QString KnownPrinterKeys::storePath()
{
    QMutexLocker locker(&s_knownKeysMutex);
    if (!s_knownKeysPath.isEmpty())
        return s_knownKeysPath;
    if (qEnvironmentVariableIsSet("TESSORA_KNOWN_PRINTERS"))
        return qEnvironmentVariable("TESSORA_KNOWN_PRINTERS");
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/known_printers.ini");
}

KnownPrinterKeys::Verdict KnownPrinterKeys::check(const QString &serial, const QString &fingerprint)
{
    const QString path = storePath();
    QMutexLocker locker(&s_knownKeysMutex);
    QSettings store(path, QSettings::IniFormat);
    const QString known = store.value(knownKeyName(serial)).toString();
    if (known.isEmpty()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        store.setValue(knownKeyName(serial), fingerprint);
        store.sync();
        if (store.status() != QSettings::NoError)
            qDebug().noquote() << "ERROR. KnownPrinterKeys::check. Could not store the key in" << path;
        qDebug().noquote() << "KnownPrinterKeys::check. First SSH key of printer" << serial << fingerprint
                           << "stored in" << path;
        return Verdict::FirstUse;
    }
    return known == fingerprint ? Verdict::Known : Verdict::Changed;
}

QString KnownPrinterKeys::fingerprintOf(const QString &serial)
{
    const QString path = storePath();
    QMutexLocker locker(&s_knownKeysMutex);
    return QSettings(path, QSettings::IniFormat).value(knownKeyName(serial)).toString();
}

SshLink::SshLink(const SshSettings &settings)
    : m_settings(settings)
{
}

SshLink::~SshLink()
{
    disconnect();
}

void SshLink::setLibraryName(const QString &name)
{
    QMutexLocker locker(&s_libraryMutex);
    if (name == s_libraryName)
        return;
    s_libraryName = name;
    s_library.reset(); // QLibrary never unloads on destruction; the next use loads the new name
}

QString SshLink::libraryName()
{
    QMutexLocker locker(&s_libraryMutex);
    return s_libraryName;
}

QString SshLink::hostForPeerAddress(const QString &peerAddressText)
{
    const QString mappedPrefix = QStringLiteral("::ffff:");
    if (peerAddressText.startsWith(mappedPrefix, Qt::CaseInsensitive) && peerAddressText.contains(QLatin1Char('.')))
        return peerAddressText.mid(mappedPrefix.size());
    return peerAddressText;
}

bool SshLink::fail(const QString &message)
{
    m_error = message;
    qDebug().noquote() << "ERROR. SshLink." << message;
    return false;
}

QString SshLink::sessionError() const
{
    if (!m_session)
        return QString();
    const auto getError = lookup<ErrorFn>("ssh_get_error");
    const char *text = getError ? getError(m_session) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

bool SshLink::connectTo(const QString &host)
{
    return openSession(host) && login();
}

bool SshLink::connectToPrinter(const QString &host, const QString &printerSerial)
{
    return openSession(host) && checkHostKey(printerSerial) && login();
}

bool SshLink::openSession(const QString &host)
{
    disconnect();
    m_error.clear();
    m_fingerprint.clear();
    m_hostKeyChanged = false;
    m_host = host;

    qDebug().noquote() << "Session...\n";
    const auto sshNew = lookup<NewFn>("ssh_new");
    const auto optionsSet = lookup<OptionsSetFn>("ssh_options_set");
    if (!sshNew || !optionsSet)
        return fail(QStringLiteral("The SSH library (%1) is missing or incomplete.").arg(libraryName()));
    m_session = sshNew();
    if (!m_session)
        return fail(QStringLiteral("Could not create an SSH session."));

    const QByteArray hostBytes = host.toUtf8();
    const QByteArray userBytes = m_settings.user.toUtf8();
    const unsigned int port = static_cast<unsigned int>(m_settings.port);
    const long timeout = m_settings.timeoutSeconds;
    if (optionsSet(m_session, kOptionsHost, hostBytes.constData()) != kOk
        || optionsSet(m_session, kOptionsPort, &port) != kOk
        || optionsSet(m_session, kOptionsUser, userBytes.constData()) != kOk
        || optionsSet(m_session, kOptionsTimeout, &timeout) != kOk) {
        const QString detail = sessionError();
        disconnect();
        return fail(QStringLiteral("Could not set up the SSH session for %1: %2").arg(host, detail));
    }

    qDebug().noquote() << "Connecting...\n";
    const auto sshConnect = lookup<HandleIntFn>("ssh_connect");
    if (!sshConnect || sshConnect(m_session) != kOk) {
        const QString detail = sshConnect ? sessionError() : QStringLiteral("SSH library incomplete");
        disconnect();
        return fail(
            QStringLiteral("Could not connect to the printer at %1 port %2: %3").arg(host).arg(port).arg(detail));
    }
    return true;
}

// The key's fingerprint, compared with the printer's known one before any password goes
// out: a host that only claims to be the printer gets nothing.
bool SshLink::checkHostKey(const QString &printerSerial)
{
    const auto serverKey = lookup<ServerKeyFn>("ssh_get_server_publickey");
    const auto keyHash = lookup<KeyHashFn>("ssh_get_publickey_hash");
    const auto cleanHash = lookup<CleanHashFn>("ssh_clean_pubkey_hash");
    const auto keyFree = lookup<HandleVoidFn>("ssh_key_free");
    if (!serverKey || !keyHash || !cleanHash || !keyFree) {
        disconnect();
        return fail(QStringLiteral("The SSH library cannot show the printer's key, so the printer %1 cannot be "
                                   "checked.")
                        .arg(printerSerial));
    }
    Handle key = nullptr;
    unsigned char *hash = nullptr;
    std::size_t hashLength = 0;
    if (serverKey(m_session, &key) == kOk && key && keyHash(key, kPublicKeyHashSha256, &hash, &hashLength) == kOk
        && hash) {
        const QByteArray digest(reinterpret_cast<const char *>(hash), static_cast<int>(hashLength));
        m_fingerprint = QStringLiteral("SHA256:")
            + QString::fromLatin1(digest.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals));
    }
    if (hash)
        cleanHash(&hash);
    if (key)
        keyFree(key);
    if (m_fingerprint.isEmpty()) {
        const QString detail = sessionError();
        disconnect();
        return fail(QStringLiteral("Could not read the SSH key of the printer %1: %2").arg(printerSerial, detail));
    }
    if (KnownPrinterKeys::check(printerSerial, m_fingerprint) == KnownPrinterKeys::Verdict::Changed) {
        m_hostKeyChanged = true;
        const QString known = KnownPrinterKeys::fingerprintOf(printerSerial);
        disconnect();
        return fail(QStringLiteral("The printer %1 answered with a different SSH key than before (%2, known %3)")
                        .arg(printerSerial, m_fingerprint, known));
    }
    return true;
}

bool SshLink::login()
{
    qDebug().noquote() << "Password Autentication...\n";
    const QByteArray userBytes = m_settings.user.toUtf8();
    const auto authenticate = lookup<AuthFn>("ssh_userauth_password");
    const QByteArray passwordBytes = m_settings.password.toUtf8();
    if (!authenticate || authenticate(m_session, userBytes.constData(), passwordBytes.constData()) != kOk) {
        const QString detail = authenticate ? sessionError() : QStringLiteral("SSH library incomplete");
        disconnect();
        return fail(
            QStringLiteral("The printer at %1 refused the login of user %2: %3").arg(m_host, m_settings.user, detail));
    }
    return true;
}

bool SshLink::openChannel()
{
    closeChannel();
    if (!m_session)
        return fail(QStringLiteral("Not connected."));
    const auto channelNew = lookup<HandleNewFn>("ssh_channel_new");
    const auto openSession = lookup<HandleIntFn>("ssh_channel_open_session", "ssh_open_session");
    if (!channelNew || !openSession)
        return fail(QStringLiteral("The SSH library is incomplete."));
    m_channel = channelNew(m_session);
    if (!m_channel)
        return fail(QStringLiteral("Could not create an SSH channel to %1: %2").arg(m_host, sessionError()));
    if (openSession(m_channel) != kOk) {
        const QString detail = sessionError();
        if (const auto channelFree = lookup<HandleVoidFn>("ssh_channel_free"))
            channelFree(m_channel);
        m_channel = nullptr;
        return fail(QStringLiteral("Could not open an SSH channel to %1: %2").arg(m_host, detail));
    }
    return true;
}

void SshLink::closeChannel()
{
    if (!m_channel)
        return;
    if (const auto sendEof = lookup<HandleIntFn>("ssh_channel_send_eof"))
        sendEof(m_channel);
    if (const auto channelClose = lookup<HandleIntFn>("ssh_channel_close"))
        channelClose(m_channel);
    if (const auto channelFree = lookup<HandleVoidFn>("ssh_channel_free"))
        channelFree(m_channel);
    m_channel = nullptr;
}

void SshLink::disconnect()
{
    closeChannel();
    if (!m_session)
        return;
    if (const auto sshDisconnect = lookup<HandleVoidFn>("ssh_disconnect"))
        sshDisconnect(m_session);
    if (const auto sshFree = lookup<HandleVoidFn>("ssh_free"))
        sshFree(m_session);
    m_session = nullptr;
}

void SshLink::drainChannel(int waitMs)
{
    m_lastExitStatus = -1;
    const auto readTimeout = lookup<ReadTimeoutFn>("ssh_channel_read_timeout");
    const auto isEof = lookup<HandleIntFn>("ssh_channel_is_eof");
    if (!readTimeout || !isEof) {
        QThread::msleep(static_cast<unsigned long>(waitMs));
        return;
    }
    // The command's output is read so that it never stalls on a full window.
    QDeadlineTimer deadline(waitMs);
    char buffer[4096];
    while (!deadline.hasExpired()) {
        const int slice = static_cast<int>(qBound<qint64>(0, deadline.remainingTime(), 50));
        if (readTimeout(m_channel, buffer, sizeof buffer, 0, slice) < 0
            || readTimeout(m_channel, buffer, sizeof buffer, 1, 0) < 0)
            return;
        if (isEof(m_channel)) {
            if (const auto exitStatus = lookup<HandleIntFn>("ssh_channel_get_exit_status"))
                m_lastExitStatus = exitStatus(m_channel);
            return;
        }
    }
}

bool SshLink::runCommand(const QString &command, int waitMs)
{
    if (!m_channel && !openChannel())
        return false;
    const auto exec = lookup<ExecFn>("ssh_channel_request_exec");
    if (!exec)
        return fail(QStringLiteral("The SSH library is incomplete."));
    bool ran = exec(m_channel, command.toUtf8().constData()) == kOk;
    if (ran)
        drainChannel(waitMs);
    else
        fail(QStringLiteral("Could not run \"%1\" on %2: %3").arg(command, m_host, sessionError()));
    qDebug().noquote() << "SshLink. Ran" << command << "exit status" << m_lastExitStatus;
    closeChannel();
    // A fresh channel for the next command.
    return openChannel() && ran;
}

int SshLink::pushFile(const QString &localPath, const QString &remoteName)
{
    if (!m_session) {
        fail(QStringLiteral("Not connected."));
        return -1;
    }
    QFile local(localPath);
    const bool opened = local.open(QIODevice::ReadOnly);

    const auto scpNew = lookup<ScpNewFn>("ssh_scp_new");
    const auto scpInit = lookup<HandleIntFn>("ssh_scp_init");
    const auto scpPush = lookup<ScpPushFn>("ssh_scp_push_file", "scp_push_file");
    const auto scpWrite = lookup<ScpWriteFn>("ssh_scp_write", "scp_write");
    const auto scpClose = lookup<HandleIntFn>("ssh_scp_close", "scp_close");
    const auto scpFree = lookup<HandleVoidFn>("ssh_scp_free", "scp_free");
    if (!scpNew || !scpInit || !scpPush || !scpWrite || !scpClose || !scpFree) {
        fail(QStringLiteral("The SSH library is incomplete."));
        return -1;
    }
    Handle scp = scpNew(m_session, kScpWrite | kScpRecursive, ".");
    if (!scp) {
        fail(QStringLiteral("Could not start a copy to %1: %2").arg(m_host, sessionError()));
        return -1;
    }
    auto finish = [&](bool ok) {
        scpClose(scp);
        scpFree(scp);
        return ok ? 0 : -1;
    };
    if (scpInit(scp) != kOk) {
        fail(QStringLiteral("Could not start a copy to %1: %2").arg(m_host, sessionError()));
        return finish(false);
    }
    if (!opened) {
        fail(QStringLiteral("Could not open %1: %2").arg(localPath, local.errorString()));
        return finish(false);
    }
    const QByteArray remoteBytes = remoteName.toUtf8();
    if (scpPush(scp, remoteBytes.constData(), static_cast<std::size_t>(local.size()), kPushPermissions) != kOk) {
        fail(QStringLiteral("Could not copy %1 to %2: %3").arg(remoteName, m_host, sessionError()));
        return finish(false);
    }
    qint64 sent = 0;
    while (sent < local.size()) {
        const QByteArray piece = local.read(kPushPieceBytes);
        if (piece.isEmpty()) {
            fail(QStringLiteral("Could not read %1: %2").arg(localPath, local.errorString()));
            return finish(false);
        }
        if (scpWrite(scp, piece.constData(), static_cast<std::size_t>(piece.size())) != kOk) {
            fail(QStringLiteral("Copying %1 to %2 broke off: %3").arg(remoteName, m_host, sessionError()));
            return finish(false);
        }
        sent += piece.size();
    }
    qDebug().noquote() << "SshLink. Copied" << localPath << "to" << remoteName << sent << "bytes";
    return finish(true);
}

QString SshLink::machinePattern(const QString &programPath)
{
    QFile program(programPath);
    if (!program.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray header = program.read(20);
    // An ELF program names its processor in e_machine, bytes 18-19 (little-endian here:
    // every processor below is).
    if (header.size() < 20 || !header.startsWith("\x7f" "ELF") || header.at(5) != 1)
        return QString();
    const int machine = static_cast<uchar>(header.at(18)) | static_cast<uchar>(header.at(19)) << 8;
    // The names `uname -m` gives for each.
    switch (machine) {
    case 183: return QStringLiteral("aarch64|arm64");
    case 40: return QStringLiteral("arm*");
    case 62: return QStringLiteral("x86_64|amd64");
    case 3: return QStringLiteral("i?86");
    case 243: return QStringLiteral("riscv64");
    default: return QString();
    }
}

bool SshLink::uploadUpdate(const QString &programPath, const QString &scriptPath)
{
    const int waitMs = m_settings.timeoutSeconds * 1000;
    if (!openChannel())
        return false;
    // A program for another processor would leave the printer without one that runs.
    const QString machine = machinePattern(programPath);
    if (machine.isEmpty())
        return fail(QStringLiteral("%1 is no printer program this desktop can install.").arg(programPath));
    if (!runCommand(QStringLiteral("case \"$(uname -m)\" in %1) exit 0 ;; *) exit 3 ;; esac").arg(machine), waitMs))
        return false;
    if (lastExitStatus() != 0)
        return fail(QStringLiteral("%1 is built for another processor than the printer at %2's (%3); nothing was "
                                   "installed.")
                        .arg(programPath, m_host, machine));
    // Earlier copies go first: a copy onto an existing file would keep that file's mode.
    if (!runCommand(QStringLiteral("rm NewVatnode"), waitMs)
        || !runCommand(QStringLiteral("rm VatnodeUpdateScript"), waitMs))
        return false;
    // The script replaces the printer's program with NewVatnode: it must never run
    // without both files in place.
    if (pushFile(programPath, QStringLiteral("NewVatnode")) != 0
        || pushFile(scriptPath, QStringLiteral("VatnodeUpdateScript")) != 0)
        return false;
    return runCommand(QStringLiteral("./VatnodeUpdateScript"), 1000);
}

bool SshLink::downloadFile(const QString &remotePath, const QString &localPath)
{
    if (!m_session)
        return fail(QStringLiteral("Not connected."));
    const auto sftpNew = lookup<HandleNewFn>("sftp_new");
    const auto sftpInit = lookup<HandleIntFn>("sftp_init");
    const auto sftpOpen = lookup<SftpOpenFn>("sftp_open");
    const auto sftpRead = lookup<SftpReadFn>("sftp_read");
    const auto sftpClose = lookup<HandleIntFn>("sftp_close");
    const auto sftpFree = lookup<HandleVoidFn>("sftp_free");
    if (!sftpNew || !sftpInit || !sftpOpen || !sftpRead || !sftpClose || !sftpFree)
        return fail(QStringLiteral("The SSH library is incomplete."));

    QSaveFile local(localPath);
    if (!local.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qDebug().noquote() << QStringLiteral("- Error, unable to open") + QStringLiteral("outputFilename")
                + QStringLiteral("for output");
        return fail(QStringLiteral("Could not write %1: %2").arg(localPath, local.errorString()));
    }

    Handle sftp = sftpNew(m_session);
    if (!sftp)
        return fail(QStringLiteral("Could not start a file transfer from %1: %2").arg(m_host, sessionError()));
    if (sftpInit(sftp) != kOk) {
        const QString detail = sessionError();
        sftpFree(sftp);
        return fail(QStringLiteral("Could not start a file transfer from %1: %2").arg(m_host, detail));
    }
    const QByteArray remoteBytes = remotePath.toUtf8();
    Handle file = sftpOpen(sftp, remoteBytes.constData(), kReadOnly, 0);
    if (!file) {
        const auto sftpError = lookup<SftpErrorFn>("sftp_get_error");
        const int code = sftpError ? sftpError(sftp) : -1;
        sftpFree(sftp);
        return fail(
            QStringLiteral("The printer at %1 has no readable %2 (SFTP error %3).").arg(m_host, remotePath).arg(code));
    }
    qint64 received = 0;
    bool complete = false;
    bool stored = true;
    QByteArray piece(static_cast<int>(kSftpReadBytes), Qt::Uninitialized);
    for (;;) {
        const std::ptrdiff_t n = sftpRead(file, piece.data(), kSftpReadBytes);
        if (n == 0) {
            complete = true;
            break;
        }
        if (n < 0)
            break;
        if (local.write(piece.constData(), n) != n) {
            stored = false;
            break;
        }
        received += n;
    }
    sftpClose(file);
    sftpFree(sftp);
    if (!stored) {
        const QString reason = local.error() != QFileDevice::NoError
            ? local.errorString()
            : QStringLiteral("not every byte could be written");
        local.cancelWriting();
        return fail(QStringLiteral("Could not write %1: %2").arg(localPath, reason));
    }
    if (!complete) {
        local.cancelWriting();
        return fail(QStringLiteral("Reading %1 from %2 broke off after %3 bytes: %4")
                        .arg(remotePath, m_host)
                        .arg(received)
                        .arg(sessionError()));
    }
    QString reason;
    if (!AtomicFile::commit(&local, &reason))
        return fail(QStringLiteral("Could not write %1: %2").arg(localPath, reason));
    qDebug().noquote() << "SshLink. Fetched" << remotePath << "to" << localPath << received << "bytes";
    return true;
}
