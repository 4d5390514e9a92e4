// Real tessora processes: one instance per machine, the files of the command line opened
// by type, and the hand-off of file paths from a second start to the running instance.
//
// Every tessora started here announces itself on loopback only, on ports of
// this test run, and works in a folder of its own (its log file is written there).
#include "handoffsegment.h"
#include "runguard.h"
#include "testjobs.h"
#include "testpaths.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString alreadyRunningLine = QStringLiteral("Main.cpp: Another instance of Tessora is already running");
const QString runningLine = QStringLiteral("INFO. Main.cpp: Tessora is running");
const QString handOffLine = QStringLiteral("RendererQMLItem::openFileFromSharedMemory. File path: ");
const QString viewerLine = QStringLiteral("main_mac.qml::openJobInViewer. Opening print job in the viewer: ");
const QString markedReadLine = QStringLiteral("SharedMemoryWriter::isMemoryMarkedAsRead. True");
const QString importLine = QStringLiteral("main_mac.qml::importModels. Importing: ");

QString guardSegmentKey()
{
    return RunGuard::generateKeyHash(QStringLiteral("Tessora"), QStringLiteral("_sharedmemKey"));
}

// Removes a segment nobody holds any more.
void removeLeftover(const QString &key)
{
    QSharedMemory segment(key);
    if (segment.attach())
        segment.detach();
}

bool segmentIsHeld(const QString &key)
{
    QSharedMemory segment(key);
    return segment.attach(QSharedMemory::ReadOnly);
}

// One tessora process in a working folder of its own.
class Tessora
{
public:
    Tessora(const QProcessEnvironment &environment, const QString &workDir)
        : folder(workDir)
    {
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workDir);
        // Everything it prints is in its log file as well.
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }
    ~Tessora()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QStringList logLines() const
    {
        QFile file(QDir(folder).filePath(QStringLiteral("LogFile_Tessora")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // A start refused because another instance runs: it ends by itself with status 1 (it
    // may have ended while the test waited for something else). Tells what it logged when
    // it does not end.
    bool endsRefused(int milliseconds)
    {
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(milliseconds)) {
            qWarning().noquote() << "tessora still running after" << milliseconds << "ms; its log:\n"
                                 << logLines().join(QLatin1Char('\n'));
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 1 && count(alreadyRunningLine) == 1
            && count(runningLine) == 0;
    }

    // Log lines containing the text.
    int count(const QString &text) const { return logLines().filter(text).size(); }
    bool logged(const QString &text) const { return count(text) > 0; }
    bool running() const { return process.state() == QProcess::Running; }

    QProcess process;
    QString folder;
};

} // namespace

class TestTessoraInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        QVERIFY(QFile::exists(TestPaths::executable(QStringLiteral("tessora"))));

        // A segment left by a crashed run goes; a live Tessora on this machine would
        // take the hand-offs meant for the instances of this test.
        removeLeftover(guardSegmentKey());
        removeLeftover(HandOffSegment::defaultKey());
        if (segmentIsHeld(guardSegmentKey()))
            QFAIL("Another Tessora is running on this machine; these tests need it closed.");

        // Loopback only, on ports of this run.
        auto *random = QRandomGenerator::global();
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        environment.insert(QStringLiteral("TESSORA_DISCOVERY_TARGET"), QStringLiteral("127.0.0.1"));
        environment.insert(QStringLiteral("TESSORA_DISCOVERY_PORT"), QString::number(random->bounded(20000, 30000)));
        environment.insert(QStringLiteral("TESSORA_BASE_PORT"), QString::number(random->bounded(30000, 40000)));

        // A small real job and a mesh.
        jobPath = root.filePath(QStringLiteral("job.ssj"));
        QVERIFY(squareJob(3).saveCPJ(jobPath));
        meshPath = root.filePath(QStringLiteral("part.stl"));
        QVERIFY(QFile::copy(
            QStringLiteral(TESSORA_SOURCE_DIR "/tests/data/meshes/binary_solidheader_cube20_with_hole.stl"), meshPath));
    }

    void cleanup()
    {
        // Also after a failure: no process outlives its test, no segment stays behind.
        first.reset();
        removeLeftover(guardSegmentKey());
        removeLeftover(HandOffSegment::defaultKey());
    }

    // One running instance walked through the starts after it: each later start hands its
    // files over (in the order given) and ends with status 1; the first goes on.
    void laterStarts_handOverTheirFilesAndExit1_firstGoesOn()
    {
        first = startFirst({meshPath, jobPath});
        QVERIFY2(first, "tessora did not start");
        QTRY_VERIFY_WITH_TIMEOUT(first->logged(viewerLine + jobPath), 5000);
        QVERIFY(first->logged(importLine + meshPath));
        QCOMPARE(first->count(handOffLine), 0); // opened from the command line, not handed over
        // Nothing went wrong on the way (the page's own warnings are the page tests' concern).
        QCOMPARE(first->logLines().filter(QStringLiteral("ERROR")), QStringList());
        QVERIFY(segmentIsHeld(guardSegmentKey()));

        auto second = start({});
        QVERIFY(second->endsRefused(10000));
        QCOMPARE(second->count(markedReadLine), 0);

        // A job: the first opens it within a second.
        second = start({jobPath});
        QVERIFY(second->process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(first->count(viewerLine + jobPath) == 2, 1000);
        QVERIFY(second->endsRefused(5000));
        QCOMPARE(second->count(markedReadLine), 1);

        second = start({meshPath, jobPath});
        QVERIFY(second->endsRefused(10000));
        QCOMPARE(second->count(markedReadLine), 2);
        QCOMPARE(second->count(QStringLiteral("Can't create")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(first->count(viewerLine + jobPath) == 3, 2000);
        const QStringList handedOver = first->logLines().filter(handOffLine);
        QCOMPARE(handedOver.size(), 3);
        QVERIFY(handedOver.at(1).endsWith(handOffLine + meshPath));
        QVERIFY(handedOver.at(2).endsWith(handOffLine + jobPath));
        QCOMPARE(first->count(importLine), 2);
        QCOMPARE(first->count(alreadyRunningLine), 0);
        QVERIFY(first->running());
    }

private:
    std::unique_ptr<Tessora> start(const QStringList &arguments)
    {
        const QString folder = root.filePath(QStringLiteral("run%1").arg(++folders));
        QDir().mkpath(folder);
        auto instance = std::make_unique<Tessora>(environment, folder);
        instance->process.start(TestPaths::executable(QStringLiteral("tessora")), arguments);
        return instance;
    }

    // The first instance, once it runs; null when it did not come up.
    std::unique_ptr<Tessora> startFirst(const QStringList &arguments)
    {
        auto instance = start(arguments);
        if (!instance->process.waitForStarted(10000)
            || !QTest::qWaitFor([&] { return instance->logged(runningLine) || !instance->running(); }, 60000)
            || !instance->running())
            return nullptr;
        return instance;
    }

    QTemporaryDir root;
    QProcessEnvironment environment;
    QString jobPath;
    QString meshPath;
    int folders = 0;
    std::unique_ptr<Tessora> first;
};

QTEST_GUILESS_MAIN(TestTessoraInstance)
#include "tst_tessorainstance.moc"
