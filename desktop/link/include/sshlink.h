#pragma once

#include <QString>

// Where and as whom the desktop reaches a printer's computer over SSH.
//
// Every printer ships with the same account; a printer whose password was changed in
// the field is reached by overriding it in the environment:
//   TESSORA_SSH_USER      user name               (default "pi")
//   TESSORA_SSH_PASSWORD  password                (default the factory password)
//   TESSORA_SSH_PORT      SSH port                (default 22)
//   TESSORA_SSH_HOME      the account's home, where the settings and the log are fetched
//                         from                    (default "/home/pi")
//   TESSORA_SSH_TIMEOUT   seconds to wait for a connection or an answer (default 10)
struct SshSettings {
    QString user = QStringLiteral("pi");
    QString password = QStringLiteral("quietharbours");
    int port = 22;
    QString remoteHome = QStringLiteral("/home/pi");
    int timeoutSeconds = 10;

    static SshSettings fromEnvironment();
};

// The SSH host key each printer showed the first time it was reached (trust on first use),
// by serial: an INI file of serial -> "SHA256:" + the key's SHA-256 digest in base64
// (without padding, as OpenSSH prints it). The file is the desktop's app data folder's
// "known_printers.ini" unless TESSORA_KNOWN_PRINTERS names another, or setStorePath() was
// called. Safe to use from any thread.
class KnownPrinterKeys
{
public:
    enum class Verdict { Known, FirstUse, Changed };

    static void setStorePath(const QString &path);
    static QString storePath();
    // Compares the fingerprint with the one stored for the serial; a serial seen for the
    // first time gets this one stored. Changed leaves the stored one as it is.
    static Verdict check(const QString &serial, const QString &fingerprint);
    static QString fingerprintOf(const QString &serial);
};

// One SSH connection to a printer's computer, made with libssh loaded at run time.
// Each libssh function is looked up by name when it is called; a missing library or
// function fails the operation with a "Dll/ Function NAME not found" log line and is
// never called.
//
// Every failure ends the operation only: it is logged, errorString() says what went
// wrong in words for the user, and every handle is released. Discarding the object
// disconnects.
//
// Blocking: every operation waits for the network (bounded by the settings' time-out).
class SshLink
{
public:
    explicit SshLink(const SshSettings &settings = SshSettings::fromEnvironment());
    ~SshLink();
    SshLink(const SshLink &) = delete;
    SshLink &operator=(const SshLink &) = delete;

    // The library file libssh is loaded from: "ssh" (libssh.so.4 on Linux, ssh.dll on
    // Windows) unless changed; loaded once, at the first use after a change.
    static void setLibraryName(const QString &name);
    static QString libraryName();

    // The address a printer is reached at for a peer address text of the listening
    // socket: an IPv4-mapped IPv6 address ("::ffff:10.0.0.5") gives the dotted IPv4 text.
    static QString hostForPeerAddress(const QString &peerAddressText);

    // Opens the connection and logs in.
    bool connectTo(const QString &host);
    // Like connectTo(), but checks the host key against the one known for that printer
    // serial (KnownPrinterKeys) before the password is sent; a changed key fails the
    // connection with hostKeyChanged() set.
    bool connectToPrinter(const QString &host, const QString &printerSerial);
    bool hostKeyChanged() const { return m_hostKeyChanged; }
    // "SHA256:..." of the key the host showed at the last connection; empty if unknown.
    QString hostKeyFingerprint() const { return m_fingerprint; }
    bool isConnected() const { return m_session != nullptr; }

    // Runs one remote command on the current channel and waits up to waitMs for it to
    // end (its output is read and dropped), then starts a fresh channel for the next one.
    // False when the command could not be started or the next channel not opened; a
    // command that ran and failed (such as "rm" of a missing file) is no failure here.
    bool runCommand(const QString &command, int waitMs);
    // Exit status of the last command that ended within its wait, otherwise -1.
    int lastExitStatus() const { return m_lastExitStatus; }

    // Copies a local file to the remote login folder under remoteName, mode 0700.
    // 0 on success, -1 on failure.
    int pushFile(const QString &localPath, const QString &remoteName);

    // Checks that the program is built for the printer's processor, removes earlier
    // copies, pushes the program as "NewVatnode" and the script as "VatnodeUpdateScript",
    // and runs "./VatnodeUpdateScript" (waiting up to a second).
    bool uploadUpdate(const QString &programPath, const QString &scriptPath);
    // The `uname -m` names (a shell case pattern) of the processor an ELF program is built
    // for; empty when the file is no ELF program of a processor known here.
    static QString machinePattern(const QString &programPath);

    // Fetches a remote file whole into localPath. The local file is replaced only when
    // the whole remote file was read and written (a full disk keeps the earlier copy).
    bool downloadFile(const QString &remotePath, const QString &localPath);

    // Ends the current channel's input, closes and releases it.
    void closeChannel();
    // Closes the channel and the connection; also done by the destructor.
    void disconnect();

    QString errorString() const { return m_error; }
    const SshSettings &settings() const { return m_settings; }

private:
    bool openSession(const QString &host);
    bool login();
    bool checkHostKey(const QString &printerSerial);
    bool openChannel();
    bool fail(const QString &message);
    QString sessionError() const;
    void drainChannel(int waitMs);

    SshSettings m_settings;
    void *m_session = nullptr;
    void *m_channel = nullptr;
    int m_lastExitStatus = -1;
    QString m_host;
    QString m_error;
    QString m_fingerprint;
    bool m_hostKeyChanged = false;
};
