// The printer's disk fills up while a job arrives. A file-size limit on the
// printer program plays the full disk: its writes past the limit fail with
// EFBIG, as they would with ENOSPC on a full disk. The printer goes on, keeps
// no piece of the job as if it were one, and the desktop learns the transfer
// failed.
//
// The limit plays a full disk only with SIGXFSZ ignored (a full disk raises no
// signal): otherwise the kernel kills vatnode at its first write past the
// limit, which comes already at start-up, when the window's shared-memory
// buffer (4 MB) is sized; with the signal ignored that sizing fails and Qt
// draws without shared memory.
#include "faultharness.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Faults;

namespace {

// Room for the log of a few prints and a small job; not for the large one.
constexpr qint64 kFileSizeLimit = 1024 * 1024;

} // namespace

class TestDiskFull : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void diskFullDuringTransfer_noPartialJobKept_desktopTold();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    QString m_small;
    QString m_large;
};

void TestDiskFull::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_small = makeSampleJob(m_dir.path(), QStringLiteral("small.ssj"), 1, &error);
    QVERIFY2(!m_small.isEmpty(), qPrintable(error));
    m_large = makeNoiseJob(m_dir.path(), QStringLiteral("large.ssj"), 3, &error);
    QVERIFY2(!m_large.isEmpty(), qPrintable(error));
    QVERIFY2(QFileInfo(m_large).size() > 2 * kFileSizeLimit, qPrintable(QString::number(QFileInfo(m_large).size())));
}

void TestDiskFull::diskFullDuringTransfer_noPartialJobKept_desktopTold()
{
    Rig rig(m_dir.filePath(QStringLiteral("diskfull")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error, kFileSizeLimit), qPrintable(error));
    const QString stored = rig.printer.path(QStringLiteral("MySSJFile.ssj"));

    // A small job fits, and prints.
    {
        Cli print(rig.printArguments(m_small, 60));
        QVERIFY(print.start());
        QVERIFY2(print.waitForFinished(90000) && print.exitCode() == 0, qPrintable(print.transcript()));
    }
    QCOMPARE(fileBytes(stored), fileBytes(m_small));

    // The large one does not.
    const int received = rig.printer.logCount(QStringLiteral("Done receiving file"));
    Cli large(rig.printArguments(m_large, 60));
    QVERIFY(large.start());
    QVERIFY2(large.waitForFinished(90000), qPrintable(large.transcript()));
    QVERIFY2(large.exitCode() == 1, qPrintable(large.transcript()));
    const QString reported = lineWith(large.err(), QStringLiteral("error: "));
    QVERIFY2(!reported.isEmpty(), qPrintable(large.transcript()));
    QVERIFY(large.out().isEmpty());

    // The printer is alive, said why in its log, and holds the small job whole,
    // with nothing of the large one beside it.
    QVERIFY2(rig.printer.isRunning(),
        qPrintable(
            QStringLiteral("exit status %1, code %2").arg(int(rig.printer.exitStatus())).arg(rig.printer.exitCode())));
    QVERIFY2(rig.printer.waitForLog(QStringLiteral("writing file error!"), 1, 10000),
        qPrintable(rig.printer.log().right(3000)));
    QCOMPARE(rig.printer.logCount(QStringLiteral("Done receiving file")), received);
    QCOMPARE(fileBytes(stored), fileBytes(m_small));
    QCOMPARE(leftoversBeside(stored), QStringList());

    // And it goes on serving: the small job again, to the end.
    Cli again(rig.printArguments(m_small, 60));
    QVERIFY(again.start());
    QVERIFY2(again.waitForFinished(90000) && again.exitCode() == 0, qPrintable(again.transcript()));
    QCOMPARE(again.out(), QStringLiteral("print done\n"));

    const QString problems = rig.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    outcome(QStringLiteral("disk full"),
        QStringLiteral("%1-byte job against a %2-byte file limit; printer logged \"%3\", kept its previous job "
                       "intact and no partial file, stayed up; desktop: \"%4\"; a small job afterwards: \"%5\"")
            .arg(QFileInfo(m_large).size())
            .arg(kFileSizeLimit)
            .arg(lineWith(rig.printer.log(), QStringLiteral("ERROR. Client::receiveFile."))
                     .section(QLatin1String("QDebug: "), 1)
                     .remove(QLatin1Char('"'))
                     .simplified())
            .arg(reported, again.out().trimmed()));
}

QTEST_GUILESS_MAIN(TestDiskFull)
#include "tst_diskfull.moc"
