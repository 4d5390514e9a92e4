// Every writer of jobs, settings and files made from them, on a disk that fills up before the
// last byte: the failure is reported, the previous file stays as it was (or absent), and no
// temporary file is left beside it.
#include "calibrationmodels.h"
#include "clirun.h"
#include "fulldisk.h"
#include "jobstreamreceiver.h"
#include "logcapture.h"
#include "printersettings.h"
#include "protocol.h"
#include "resin.h"
#include "systemactions.h"
#include "testjobs.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// Whether the writer wrote, and the error it returned (logged ERROR lines report too).
struct Outcome {
    bool written = false;
    QString report;
};
using Writer = std::function<Outcome(const QString &target)>;

// The command line reports a failure with exit status 1 and an "error: " line.
Outcome cli(const QStringList &arguments)
{
    const CliRun run = runCli(arguments);
    return {run.exitCode == 0, run.exitCode == 1 && run.err.contains(QLatin1String("error: ")) ? run.err : ""};
}

} // namespace

Q_DECLARE_METATYPE(Writer)

class TestWriteFailures : public QObject
{
    Q_OBJECT

private slots:
    void fullDisk_failureReported_previousFileKept_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("previous");
        QTest::addColumn<Writer>("writer");

        static const QTemporaryDir inputs;
        const QString image = inputs.filePath(QStringLiteral("layer.png"));
        const QString oneLayer = inputs.filePath(QStringLiteral("one.ssj"));
        QVERIFY(blackImage(64, 40).save(image) && squareJob(1).saveCPJ(oneLayer));

        QTest::newRow("job through a QFile") << "job.ssj" << false << Writer([](const QString &target) {
            CrushedPrintJob job = squareJob(3);
            QFile file(target);
            return Outcome {job.saveCPJ(&file), job.errorString()};
        });
        QTest::newRow("received job") << "MySSJFile.ssj" << true << Writer([](const QString &target) {
            QBuffer stream;
            stream.setData(Protocol::jobStreamHeader(QStringLiteral("job.ssj"), 600) + QByteArray(600, 'j'));
            stream.open(QIODevice::ReadOnly);
            JobStreamReceiver receiver(target);
            return Outcome {receiver.feed(&stream) == JobStreamReceiver::Done, receiver.errorString()};
        });
        QTest::newRow("settings, first start") << "Tessora_Client_Config" << false << Writer([](const QString &target) {
            PrinterSettingsValues values;
            return Outcome {PrinterSettings(target).writeInitial(values), {}};
        });
        QTest::newRow("settings, one key") << "Tessora_Client_Config" << true << Writer([](const QString &target) {
            const QString resins = Resin::toString(Resin::defaultResinList());
            return Outcome {PrinterSettings(target).setValue(QStringLiteral("resinData"), resins), {}};
        });
        QTest::newRow("system file") << "hostapd.conf" << true << Writer([](const QString &target) {
            SystemActions::configure(false, QFileInfo(target).path());
            return Outcome {SystemActions::writeFile(QStringLiteral("/hostapd.conf"), QString(300, 'h')), {}};
        });
        QTest::newRow("calibration model") << "model.stl" << true << Writer([](const QString &target) {
            Outcome outcome;
            outcome.written
                = Calibration::writeBinaryStl(target, std::vector<Calibration::Facet>(10), {}, &outcome.report);
            return outcome;
        });
        QTest::newRow("tessora-cli ssj pack") << "job.ssj" << true << Writer([=](const QString &target) {
            return cli({QStringLiteral("ssj"), QStringLiteral("pack"), image, image, QStringLiteral("-o"), target});
        });
        QTest::newRow("tessora-cli ssj export") << "layer_00000.png" << true << Writer([=](const QString &target) {
            return cli({QStringLiteral("ssj"), QStringLiteral("export"), oneLayer, QFileInfo(target).path()});
        });
    }

    void fullDisk_failureReported_previousFileKept()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, previous);
        QFETCH(Writer, writer);
        QTemporaryDir whole;
        QTemporaryDir full;
        LogCapture log;

        // Written whole first, the file's size sets the limit: all but its last byte fit.
        QVERIFY(writer(whole.filePath(fileName)).written);
        QFile old(full.filePath(fileName));
        QVERIFY(!previous || (old.open(QIODevice::WriteOnly) && old.write("[General]\nprinterNickName=Old\n") > 0));
        old.close();
        const QMap<QString, QByteArray> before = folderContents(full.path());
        Outcome outcome;
        {
            const FileSizeLimit limit(QFileInfo(whole.filePath(fileName)).size() - 1);
            outcome = writer(full.filePath(fileName));
        }
        QVERIFY(!outcome.written);
        QVERIFY2(
            !outcome.report.isEmpty() || !log.lines().filter(QRegularExpression(QStringLiteral("^ERROR"))).isEmpty(),
            "the failure went unreported");
        QCOMPARE(folderContents(full.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
