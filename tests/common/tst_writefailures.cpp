// Every writer of jobs, settings and files made from them, on a disk that fills up before
// the last byte: the failure is reported, and the file keeps its previous content (or stays
// absent), with no temporary file left beside it.
#include "calibrationmodels.h"
#include "crushedbitmap.h"
#include "crushedprintjob.h"
#include "fulldisk.h"
#include "jobstreamreceiver.h"
#include "logcapture.h"
#include "printersettings.h"
#include "protocol.h"
#include "resin.h"
#include "systemactions.h"
#include "testimages.h"
#include "testpaths.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// What a writer says about its work: whether the file is written, otherwise its report of
// the failure (a returned error text, a logged ERROR line, the command line's "error: ").
struct Outcome {
    bool written = false;
    QString report;
};
using Writer = std::function<Outcome(const QString &target)>;

const QByteArray kPrevious = "[General]\nprinterNickName=Old bench\n";

QImage layerImage(int shift)
{
    QImage image = blackImage(64, 40);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPoint(20 + shift, 20), 12, 9);
    painter.fillRect(QRect(40, 5 + shift, 10, 20), Qt::white);
    return image;
}

void fillJob(CrushedPrintJob *job)
{
    job->setVersion(1);
    job->setLayerThickness(0.05);
    job->clearAll(0);
    for (int layer = 0; layer < 3; ++layer) {
        QImage image = layerImage(layer);
        job->addImage(&image);
    }
}

QString firstError(const QStringList &lines)
{
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("ERROR")))
            return line;
    }
    return QString();
}

Outcome loggedOutcome(const std::function<bool()> &write)
{
    LogCapture log;
    const bool written = write();
    return {written, firstError(log.lines())};
}

// The command line reports a failure with exit status 1 and one "error: " line.
Outcome cliOutcome(const QStringList &arguments)
{
    QProcess process;
    process.start(TestPaths::executable(QStringLiteral("tessora-cli")), arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {false, QString()};
    }
    Outcome outcome;
    outcome.written = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split(QLatin1Char('\n'));
    if (process.exitCode() == 1) {
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("error: ")))
                outcome.report = line;
        }
    }
    return outcome;
}

} // namespace

Q_DECLARE_METATYPE(Writer)

class TestWriteFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullDisk_reportedAndPreviousFileKept_data();
    void fullDisk_reportedAndPreviousFileKept();

private:
    QTemporaryDir m_inputs;
    QStringList m_images;
    QString m_job;
};

void TestWriteFailures::initTestCase()
{
    QVERIFY(m_inputs.isValid());
    for (int i = 0; i < 2; ++i) {
        m_images << m_inputs.filePath(QStringLiteral("layer%1.png").arg(i));
        QVERIFY(layerImage(i).save(m_images.last()));
    }
    CrushedPrintJob job;
    fillJob(&job);
    job.clearAll(0);
    QImage one = layerImage(0);
    job.addImage(&one);
    m_job = m_inputs.filePath(QStringLiteral("one-layer.ssj"));
    QVERIFY(job.saveCPJ(m_job));
}

void TestWriteFailures::fullDisk_reportedAndPreviousFileKept_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("previous");
    QTest::addColumn<Writer>("writer");

    const Writer jobFile = [](const QString &target) {
        CrushedPrintJob job;
        fillJob(&job);
        const bool written = job.saveCPJ(target);
        return Outcome {written, job.errorString()};
    };
    const Writer jobThroughFile = [](const QString &target) {
        CrushedPrintJob job;
        fillJob(&job);
        QFile file(target);
        const bool written = job.saveCPJ(&file);
        return Outcome {written, job.errorString()};
    };
    const Writer bitMap = [](const QString &target) {
        QImage image = layerImage(0);
        const CrushedBitMap map(&image);
        return loggedOutcome([&] { return map.saveCrushedBitMap(target); });
    };
    const Writer received = [](const QString &target) {
        QByteArray content;
        for (int i = 0; i < 600; ++i)
            content.append(char(i * 31));
        QBuffer stream;
        stream.setData(Protocol::jobStreamHeader(QStringLiteral("job.ssj"), content.size()) + content);
        stream.open(QIODevice::ReadOnly);
        JobStreamReceiver receiver(target);
        const bool done = receiver.feed(&stream) == JobStreamReceiver::Done;
        return Outcome {done, receiver.errorString()};
    };
    const Writer initialSettings = [](const QString &target) {
        PrinterSettings settings(target);
        PrinterSettingsValues values;
        values.serial = QStringLiteral("OBW-TEST7");
        values.nickname = QStringLiteral("Test Client7");
        return loggedOutcome([&] { return settings.writeInitial(values); });
    };
    const Writer oneSetting = [](const QString &target) {
        PrinterSettings settings(target);
        const QString resins = Resin::toString(Resin::defaultResinList());
        return loggedOutcome([&] { return settings.setValue(QStringLiteral("resinData"), resins); });
    };
    const Writer systemFile = [](const QString &target) {
        SystemActions::configure(false, QFileInfo(target).absolutePath());
        const QString text = QStringLiteral("interface=wlan0\n").repeated(20);
        return loggedOutcome([&] { return SystemActions::writeFile(QStringLiteral("/hostapd.conf"), text); });
    };
    const Writer model = [](const QString &target) {
        const Calibration::Facet facet {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        QString error;
        const bool written = Calibration::writeBinaryStl(
            target, std::vector<Calibration::Facet>(10, facet), QStringLiteral("test model"), &error);
        return Outcome {written, error};
    };
    const QStringList images = m_images;
    const Writer pack = [images](const QString &target) {
        return cliOutcome(QStringList {QStringLiteral("ssj"), QStringLiteral("pack")} + images
            + QStringList {QStringLiteral("-o"), target});
    };
    const QString oneLayerJob = m_job;
    const Writer exportPng = [oneLayerJob](const QString &target) {
        return cliOutcome({QStringLiteral("ssj"), QStringLiteral("export"), oneLayerJob, QFileInfo(target).path()});
    };

    QTest::newRow("job") << "job.ssj" << true << jobFile;
    QTest::newRow("job through a QFile") << "job.ssj" << true << jobThroughFile;
    QTest::newRow("new job") << "job.ssj" << false << jobFile;
    QTest::newRow("one bit map") << "layer.cbm" << true << bitMap;
    QTest::newRow("received job") << "MySSJFile.ssj" << true << received;
    QTest::newRow("printer settings, first start") << "Tessora_Client_Config" << false << initialSettings;
    QTest::newRow("printer settings, one key") << "Tessora_Client_Config" << true << oneSetting;
    QTest::newRow("system file") << "hostapd.conf" << true << systemFile;
    QTest::newRow("calibration model") << "model.stl" << true << model;
    QTest::newRow("tessora-cli ssj pack") << "job.ssj" << true << pack;
    QTest::newRow("tessora-cli ssj export") << "layer_00000.png" << true << exportPng;
}

void TestWriteFailures::fullDisk_reportedAndPreviousFileKept()
{
    QFETCH(QString, fileName);
    QFETCH(bool, previous);
    QFETCH(Writer, writer);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString whole = dir.filePath(QStringLiteral("whole"));
    const QString full = dir.filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(whole) && QDir().mkpath(full));

    // Written whole first, the file's size sets the limit: all but its last byte fit.
    const Outcome first = writer(whole + QLatin1Char('/') + fileName);
    QVERIFY2(first.written, qPrintable(first.report));
    const qint64 size = QFileInfo(whole + QLatin1Char('/') + fileName).size();
    QVERIFY(size > 1);

    if (previous) {
        QFile old(full + QLatin1Char('/') + fileName);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(kPrevious) == kPrevious.size());
    }
    const QMap<QString, QByteArray> before = folderContents(full);
    Outcome outcome;
    {
        FileSizeLimit limit(size - 1);
        QVERIFY(limit.isActive());
        outcome = writer(full + QLatin1Char('/') + fileName);
    }
    QVERIFY(!outcome.written);
    QVERIFY2(!outcome.report.isEmpty(), "the failure went unreported");
    QCOMPARE(folderContents(full), before);
}

QTEST_GUILESS_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
