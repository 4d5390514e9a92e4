// The SSH link against a private OpenSSH server on loopback (tests/ssh/sshd-fixture.sh):
// update upload with its modes and replacement, the install script run, whole downloads,
// the printer's host key trusted on first use, and failures that end the operation only.
// The printer side of the update is driven through a ClientDevice and a fake printer
// asking for it.
#include "../link/fakeprinter.h"
#include "clientdevice.h"
#include "fulldisk.h"
#include "logcapture.h"
#include "sshlink.h"
#include "waiting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = static_cast<char>(generator.bounded(256));
    return bytes;
}

int modeBits(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
}

QString firstLine(const QString &path)
{
    return QString::fromUtf8(fileBytes(path)).trimmed();
}

// A fake printer on loopback with the desktop's session for it.
struct Connected {
    QTcpServer listener;
    FakePrinter printer;
    std::unique_ptr<ClientDevice> session;
    ClientDevice *device = nullptr; // null when the connection failed

    Connected()
    {
        if (listener.listen(QHostAddress::LocalHost, 0) && printer.connectTo(listener.serverPort())
            && listener.waitForNewConnection(2000))
            device = (session = std::make_unique<ClientDevice>(listener.nextPendingConnection())).get();
    }
};

// A port on loopback that nothing listens on.
int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const int port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestSshLink : public QObject
{
    Q_OBJECT

private:
    QString m_home;
    SshSettings m_settings;
    QTemporaryDir m_local;

    void requireServer()
    {
        const QString state = qEnvironmentVariable("TESSORA_SSHD_DIR");
        if (state.isEmpty())
            QSKIP("TESSORA_SSHD_DIR not set: run through ctest");
        if (QFileInfo::exists(state + QStringLiteral("/skip")))
            QSKIP(qPrintable(QStringLiteral("no private sshd: ") + firstLine(state + QStringLiteral("/skip"))));
        QVERIFY2(QFileInfo::exists(state + QStringLiteral("/port")), "the sshd fixture did not start");
        m_settings.port = firstLine(state + QStringLiteral("/port")).toInt();
        m_settings.user = firstLine(state + QStringLiteral("/user"));
        m_home = firstLine(state + QStringLiteral("/home"));
        m_settings.remoteHome = m_home;
        m_settings.timeoutSeconds = 10;
    }

    QString home(const char *name) const { return m_home + QLatin1Char('/') + QLatin1String(name); }
    QString local(const char *name) const { return m_local.filePath(QLatin1String(name)); }

    // Local update files: a program (the ELF header of this machine's programs, or of
    // another processor's, then random bytes) and a script that leaves a marker with its
    // own content tag, so that each run can be told apart.
    enum class Program { ThisMachine, OtherProcessor, NoProgram };
    void makeUpdateFiles(const QString &tag, Program kind = Program::ThisMachine)
    {
        QByteArray program = randomBytes(300 * 1000 + tag.size(), qHash(tag));
        QFile self(QCoreApplication::applicationFilePath());
        QVERIFY(self.open(QIODevice::ReadOnly));
        if (kind != Program::NoProgram)
            program.replace(0, 20, self.read(20));
        if (kind == Program::OtherProcessor) // aarch64 on a PC, x86-64 elsewhere
            program[18] = static_cast<char>(program.at(18) == 62 ? 183 : 62);
        QVERIFY(writeFileBytes(local("Vatnode"), program));
        const QByteArray script = "#!/bin/sh\n"
                                  "test -x NewVatnode && echo "
            + tag.toUtf8() + " > update-marker\n";
        QVERIFY(writeFileBytes(local("VatnodeUpdateScript"), script));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_local.isValid());
        KnownPrinterKeys::setStorePath(local("known_printers.ini"));
        ClientDevice::setUpdateFiles(local("Vatnode"), local("VatnodeUpdateScript"));
    }

    void cleanup() { SshLink::setLibraryName(QStringLiteral("ssh")); }

    void settings_comeFromTheEnvironment()
    {
        qputenv("TESSORA_SSH_USER", "maker");
        qputenv("TESSORA_SSH_PASSWORD", "changed in the field");
        qputenv("TESSORA_SSH_PORT", "2222");
        qputenv("TESSORA_SSH_HOME", "/home/maker");
        const SshSettings settings = SshSettings::fromEnvironment();
        QCOMPARE(settings.user, QStringLiteral("maker"));
        QCOMPARE(settings.password, QStringLiteral("changed in the field"));
        QCOMPARE(settings.port, 2222);
        QCOMPARE(settings.remoteHome, QStringLiteral("/home/maker"));

        qputenv("TESSORA_SSH_PORT", "99999");
        QCOMPARE(SshSettings::fromEnvironment().port, 22);
        for (const char *name : {"TESSORA_SSH_USER", "TESSORA_SSH_PASSWORD", "TESSORA_SSH_PORT", "TESSORA_SSH_HOME"})
            qunsetenv(name);
    }

    void hostForPeerAddress_stripsTheMappedPrefixOnly()
    {
        QCOMPARE(SshLink::hostForPeerAddress(QStringLiteral("::ffff:192.168.1.20")), QStringLiteral("192.168.1.20"));
        QCOMPARE(SshLink::hostForPeerAddress(QStringLiteral("10.0.0.5")), QStringLiteral("10.0.0.5"));
        QCOMPARE(SshLink::hostForPeerAddress(QStringLiteral("fe80::1")), QStringLiteral("fe80::1"));
    }

    // A link that cannot be had fails every operation, with the reason, and touches nothing.
    void failedConnection_failsEveryOperation_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("no library") << "library";
        QTest::newRow("nothing listening") << "port";
        QTest::newRow("wrong password") << "password";
    }

    void failedConnection_failsEveryOperation()
    {
        QFETCH(QString, failure);
        SshSettings settings;
        QString reason;
        if (failure == QLatin1String("library")) {
            SshLink::setLibraryName(QStringLiteral("tessora-no-such-ssh-library"));
        } else if (failure == QLatin1String("port")) {
            settings.port = closedPort();
            reason = QString::number(settings.port);
        } else {
            requireServer();
            settings = m_settings;
            settings.password = QStringLiteral("not the password");
            reason = QStringLiteral("refused the login");
        }
        SshLink link(settings);
        QVERIFY(!link.connectTo(QStringLiteral("127.0.0.1")));
        QVERIFY(!link.isConnected());
        QVERIFY(!link.errorString().isEmpty());
        QVERIFY2(link.errorString().contains(reason), qPrintable(link.errorString()));
        QVERIFY(!link.runCommand(QStringLiteral("true"), 100));
        QCOMPARE(link.pushFile(local("Vatnode"), QStringLiteral("NewVatnode")), -1);
        QVERIFY(!link.downloadFile(QStringLiteral("/etc/hostname"), local("x")));
        QVERIFY(!QFileInfo::exists(local("x")));
    }

    void pushFile_unreadableLocalFile_skipsOnlyThatPush()
    {
        requireServer();
        SshLink link(m_settings);
        QVERIFY2(link.connectTo(QStringLiteral("127.0.0.1")), qPrintable(link.errorString()));
        QCOMPARE(link.pushFile(local("no-such-file"), QStringLiteral("pushed")), -1);
        QVERIFY(!QFileInfo::exists(home("pushed")));
        QVERIFY(writeFileBytes(local("small"), "abc"));
        QCOMPARE(link.pushFile(local("small"), QStringLiteral("pushed")), 0);
        QCOMPARE(fileBytes(home("pushed")), QByteArray("abc"));
        QVERIFY(link.runCommand(QStringLiteral("rm pushed"), 5000));
        QCOMPARE(link.lastExitStatus(), 0);
        QVERIFY(!QFileInfo::exists(home("pushed")));
    }

    void download_failing_keepsTheLocalFile_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("mentioned");
        QTest::newRow("missing remote file") << "no-such-log"
                                             << "no-such-log";
        QTest::newRow("local disk full") << "full-disk-log" << local("kept");
    }

    void download_failing_keepsTheLocalFile()
    {
        QFETCH(QString, remote);
        QFETCH(QString, mentioned);
        requireServer();
        QVERIFY(writeFileBytes(home("full-disk-log"), randomBytes(50000, 11)));
        const QString target = local("kept");
        QVERIFY(writeFileBytes(target, "earlier download"));
        SshLink link(m_settings);
        QVERIFY2(link.connectTo(QStringLiteral("127.0.0.1")), qPrintable(link.errorString()));
        bool downloaded = true;
        {
            const FileSizeLimit limit(49999); // room for all but the last byte
            downloaded = link.downloadFile(m_home + QLatin1Char('/') + remote, target);
        }
        QVERIFY(!downloaded);
        QVERIFY2(link.errorString().contains(mentioned), qPrintable(link.errorString()));
        QCOMPARE(fileBytes(target), QByteArray("earlier download"));
        QCOMPARE(QDir(m_local.path()).entryList({QStringLiteral("kept*")}, QDir::Files | QDir::Hidden),
            QStringList {QStringLiteral("kept")});
    }

    // Trust on first use: the key a printer shows first is kept under its serial; a later
    // key that differs is refused before the password goes out, and nothing is installed
    // or fetched.
    void hostKey_firstUseKept_changedKeyRefusedBeforeLogin_nothingInstalledOrFetched()
    {
        requireServer();
        const QString serial = QStringLiteral("TOFU-1");
        QVERIFY(KnownPrinterKeys::fingerprintOf(serial).isEmpty());
        for (int attempt = 0; attempt < 2; ++attempt) {
            SshLink link(m_settings);
            QVERIFY2(link.connectToPrinter(QStringLiteral("127.0.0.1"), serial), qPrintable(link.errorString()));
            QVERIFY(link.hostKeyFingerprint().startsWith(QLatin1String("SHA256:")));
            QCOMPARE(KnownPrinterKeys::fingerprintOf(serial), link.hostKeyFingerprint());
        }
        QSettings(KnownPrinterKeys::storePath(), QSettings::IniFormat)
            .setValue(QStringLiteral("printers/") + serial, QStringLiteral("SHA256:another printer"));
        LogCapture log;
        SshLink link(m_settings);
        QVERIFY(!link.connectToPrinter(QStringLiteral("127.0.0.1"), serial));
        QVERIFY(link.hostKeyChanged());
        QVERIFY(!link.isConnected());
        QVERIFY2(link.errorString().contains(QLatin1String("answered with a different SSH key than before")),
            qPrintable(link.errorString()));
        QVERIFY(!log.lines().join(QLatin1Char('\n')).contains(QLatin1String("Password Autentication")));
        QCOMPARE(KnownPrinterKeys::fingerprintOf(serial), QStringLiteral("SHA256:another printer"));

        // The device's update and downloads use the same check, and say so to the user. The
        // fake printer has no serial: its key is known under the empty one.
        makeUpdateFiles(QStringLiteral("never"));
        QFile::remove(home("update-marker"));
        ClientDevice::setSshSettings(m_settings);
        QSettings(KnownPrinterKeys::storePath(), QSettings::IniFormat)
            .setValue(QStringLiteral("printers/"), QStringLiteral("SHA256:another printer"));
        for (const bool update : {true, false}) {
            Connected connected;
            QVERIFY(connected.device);
            QSignalSpy messages(connected.device, &ClientDevice::sendMessageToGUI);
            QVERIFY(update ? connected.device->sendUpdatedClientPayload()
                           : connected.device->downloadPrinterFiles(local("refused")));
            QTRY_COMPARE_WITH_TIMEOUT(messages.count(), 1, 20000);
            const QString told = messages.at(0).at(0).toString();
            QVERIFY2(told.contains(QLatin1String("different SSH key than before")), qPrintable(told));
            QVERIFY2(told.contains(QLatin1String(update ? "nothing was installed" : "nothing was fetched")),
                qPrintable(told));
        }
        QVERIFY(!QFileInfo::exists(home("update-marker")));
        QVERIFY(QDir(local("refused")).entryList(QDir::Files).isEmpty());
        QSettings(KnownPrinterKeys::storePath(), QSettings::IniFormat).remove(QStringLiteral("printers/"));
    }

    // A printer asking for an update gets it over SSH once the user consents: the files
    // replace those of an earlier upload (other content, a wider mode) and get mode 0700,
    // the install script runs, and the desktop announces itself again for the restarted
    // printer.
    void device_requestedUpdateWithConsent_filesReplaced_scriptRuns_announces()
    {
        requireServer();
        QVERIFY(writeFileBytes(home("NewVatnode"), "old program"));
        QVERIFY(QFile::setPermissions(
            home("NewVatnode"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(writeFileBytes(home("VatnodeUpdateScript"), "old script"));
        QFile::remove(home("update-marker"));
        makeUpdateFiles(QStringLiteral("device"));
        ClientDevice::setSshSettings(m_settings);

        Connected connected;
        QVERIFY(connected.device);
        FakePrinter &printer = connected.printer;
        ClientDevice *device = connected.device;
        QSignalSpy announce(device, &ClientDevice::broadcastIP);
        QSignalSpy messages(device, &ClientDevice::sendMessageToGUI);
        QSignalSpy requested(device, &ClientDevice::updateRequested);
        printer.send(QStringLiteral("Request_Update"));
        QTRY_COMPARE(requested.count(), 1);
        QVERIFY(device->isUpdateRequested());
        QVERIFY(device->sendUpdatedClientPayload()); // the user's consent
        QTRY_COMPARE_WITH_TIMEOUT(announce.count(), 1, 20000);
        QCOMPARE(messages.count(), 0);
        QVERIFY(!device->isUpdateRequested());
        QVERIFY(fileBytes(home("NewVatnode")) == fileBytes(local("Vatnode")));
        QCOMPARE(fileBytes(home("VatnodeUpdateScript")), fileBytes(local("VatnodeUpdateScript")));
        QCOMPARE(modeBits(home("NewVatnode")), 0700);
        QCOMPARE(modeBits(home("VatnodeUpdateScript")), 0700);
        QTRY_COMPARE(firstLine(home("update-marker")), QStringLiteral("device"));
    }

    // A program the printer's processor cannot run is never installed: the printer would
    // be left without a program that starts.
    void uploadUpdate_programThePrinterCannotRun_nothingInstalled_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another processor") << int(Program::OtherProcessor) << "built for another processor";
        QTest::newRow("no program") << int(Program::NoProgram) << "no printer program";
    }
    void uploadUpdate_programThePrinterCannotRun_nothingInstalled()
    {
        QFETCH(int, kind);
        QFETCH(QString, reason);
        requireServer();
        QVERIFY(writeFileBytes(home("NewVatnode"), "old program"));
        QFile::remove(home("update-marker"));
        makeUpdateFiles(QStringLiteral("refused"), Program(kind));
        SshLink link(m_settings);
        QVERIFY2(link.connectTo(QStringLiteral("127.0.0.1")), qPrintable(link.errorString()));
        QVERIFY(!link.uploadUpdate(local("Vatnode"), local("VatnodeUpdateScript")));
        QVERIFY2(link.errorString().contains(reason), qPrintable(link.errorString()));
        QCOMPARE(fileBytes(home("NewVatnode")), QByteArray("old program"));
        QVERIFY(!QFileInfo::exists(home("update-marker")));
    }

    void device_missingUpdateFiles_noConnection()
    {
        ClientDevice::setUpdateFiles(local("absent-program"), local("VatnodeUpdateScript"));
        Connected connected;
        QVERIFY(connected.device);
        ClientDevice *device = connected.device;
        QSignalSpy announce(device, &ClientDevice::broadcastIP);
        QSignalSpy finished(device, &ClientDevice::sshWorkFinished);
        QVERIFY(!device->sendUpdatedClientPayload());
        QTest::qWait(100);
        QCOMPARE(announce.count() + finished.count(), 0);
        ClientDevice::setUpdateFiles(local("Vatnode"), local("VatnodeUpdateScript"));
    }

    void device_downloadPrinterFiles_intoANewFolder()
    {
        requireServer();
        // Larger than one read of the link.
        QByteArray logText;
        for (int i = 0; logText.size() < 100000; ++i)
            logText += "Client::receivedNetworkMessage " + QByteArray::number(i) + " curServerReadFlags:  0\n";
        QVERIFY(writeFileBytes(home("Tessora_Client_Config"), "[General]\nnickname=Bench\n"));
        QVERIFY(writeFileBytes(home("LogFile_Vatnode"), logText));
        ClientDevice::setSshSettings(m_settings);

        Connected connected;
        QVERIFY(connected.device);
        ClientDevice *device = connected.device;
        const QString folder = local("support/printer one");
        QSignalSpy finished(device, &ClientDevice::sshWorkFinished);
        QVERIFY(device->downloadPrinterFiles(folder));
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(fileBytes(folder + QStringLiteral("/OrbelleConfig")), QByteArray("[General]\nnickname=Bench\n"));
        QCOMPARE(fileBytes(folder + QStringLiteral("/LogFileOB")).size(), logText.size());
        QVERIFY(fileBytes(folder + QStringLiteral("/LogFileOB")) == logText);
    }
};

QTEST_GUILESS_MAIN(TestSshLink)
#include "tst_sshlink.moc"
