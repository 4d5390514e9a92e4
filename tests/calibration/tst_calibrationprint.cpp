// Built-in calibration jobs printed by the real printer program: vatnode-boardsim plays the
// motor board on a pseudo-terminal, vatnode --print-file prints the job taken from the
// desktop's resources under Xvfb, and every projected frame is saved and compared with the
// job's layers.
#include "calibration.h"
#include "crushedprintjob.h"
#include "testpaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace Calibration;

Q_DECLARE_METATYPE(Calibration::Print)

namespace {

constexpr double kTimeScale = 0.02; // printer and board time: 1 s takes 20 ms
// The catalogue's adhesion layout (3 layers of 20 microns) with short exposures: the time
// scale shortens them further.
constexpr int kAdhesionLayers = 3;
constexpr int kAdhesionThickness = 20;

struct PrintRun {
    int exitCode = -1;
    QString stderrText;
    QStringList boardLines;
    QStringList frames;
};

qint64 whiteCount(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    qint64 white = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            white += qRed(line[x]) >= 128 ? 1 : 0;
    }
    return white;
}

} // namespace

class TestCalibrationPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty())
            QSKIP("xvfb-run is not installed");
        QVERIFY(QFileInfo::exists(TestPaths::executable(QStringLiteral("vatnode"))));
        QVERIFY(QFileInfo::exists(TestPaths::executable(QStringLiteral("vatnode-boardsim"))));
        Calibration::initResources();
    }

    void print_calibrationJob_projectsEveryLayerAndFinishes_data()
    {
        QTest::addColumn<Print>("print");
        QTest::addColumn<bool>("printer75");
        QTest::addColumn<int>("thickness");
        // The jobs of 100-micron layers keep the run short; both models and both printers.
        // TESSORA_PRINT_ALL_CALIBRATION_JOBS=1 prints all twelve (about eight minutes under the
        // sanitizers; give it QTEST_FUNCTION_TIMEOUT=1800000).
        if (!qEnvironmentVariableIsSet("TESSORA_PRINT_ALL_CALIBRATION_JOBS")) {
            QTest::newRow("tolerance, 100P, 100") << Print::Tolerance << false << 100;
            QTest::newRow("dimensional accuracy, 75Q, 100") << Print::DimensionalAccuracy << true << 100;
            return;
        }
        for (const Print print : {Print::Tolerance, Print::DimensionalAccuracy})
            for (const bool printer75 : {false, true})
                for (const int thickness : {20, 50, 100})
                    QTest::newRow(qPrintable(QStringLiteral("%1, %2, %3")
                                                 .arg(print == Print::Tolerance ? "tolerance" : "dimensional accuracy")
                                                 .arg(printer75 ? "75Q" : "100P")
                                                 .arg(thickness)))
                        << print << printer75 << thickness;
    }

    void print_calibrationJob_projectsEveryLayerAndFinishes()
    {
        QFETCH(Print, print);
        QFETCH(bool, printer75);
        QFETCH(int, thickness);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        // The printer reads the job from a file, as the desktop sends it.
        const QString job = dir.filePath(QStringLiteral("MySSJFile.ssj"));
        QVERIFY(QFile::copy(jobResourcePath(print, printer75, thickness), job));
        CrushedPrintJob expected;
        QFile file(job);
        QVERIFY(expected.loadCPJ(&file));
        const int layers = expected.getTotalLayers();
        QVERIFY(layers > kAdhesionLayers);

        const QString fields = QStringLiteral("%1,2,1,%2,%3,%4,Clear,1,1,1")
                                   .arg(kAdhesionLayers)
                                   .arg(thickness)
                                   .arg(kAdhesionThickness)
                                   .arg(layers);
        QElapsedTimer clock;
        clock.start();
        const PrintRun run = this->print(dir, job, fields);
        qDebug().noquote() << QStringLiteral("%1 layers printed in %2 s").arg(layers).arg(clock.elapsed() / 1000.0);
        QVERIFY2(run.exitCode == 0, qPrintable(run.stderrText.right(3000)));
        QVERIFY(run.stderrText.contains(QStringLiteral("vatnode: print done")));

        // One move per layer, to the height of the adhesion layers and the job's layers above.
        QStringList moves;
        for (const QString &line : run.boardLines) {
            if (line.startsWith(QLatin1Char('N')))
                moves << line;
        }
        QCOMPARE(moves.size(), layers);
        const int top = (kAdhesionLayers * kAdhesionThickness + (layers - kAdhesionLayers) * thickness) / 10;
        QCOMPARE(moves.last(), QStringLiteral("N%1").arg(top));
        QCOMPARE(run.boardLines.mid(run.boardLines.size() - 2), QStringList({"P0", "f"}));

        // Every layer was projected as the job holds it, unscaled, in order, each followed by black.
        QStringList lit;
        for (const QString &name : run.frames) {
            const QImage frame(dir.filePath(QStringLiteral("frames/") + name));
            QCOMPARE(frame.size(), QSize(1280, 800));
            const qint64 white = whiteCount(frame);
            if (white > 0)
                lit << name;
            else
                continue;
            const int layer = lit.size() - 1;
            QVERIFY2(layer < layers, qPrintable(name));
            QCOMPARE(white, qint64(expected.getCBMSlice(layer)->whitePixels()));
        }
        QCOMPARE(lit.size(), layers);
    }

private:
    PrintRun print(const QTemporaryDir &dir, const QString &job, const QString &fields)
    {
        PrintRun result;
        QProcess board;
        board.start(TestPaths::executable(QStringLiteral("vatnode-boardsim")),
            {QStringLiteral("--link"), dir.filePath(QStringLiteral("board")), QStringLiteral("--speed"),
                QString::number(kTimeScale), QStringLiteral("--log"), dir.filePath(QStringLiteral("board.log"))});
        if (!board.waitForStarted() || !board.waitForReadyRead(10000))
            return result;

        QProcess printer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        // The X libraries keep allocations at exit that are not ours to chase.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        printer.setProcessEnvironment(env);
        // vatnode's own exit status comes out on standard error too: xvfb-run may replace it by
        // its own when its clean-up fails.
        const QString reportStatus
            = QStringLiteral("\"$@\"; status=$?; echo \"vatnode exit status: $status\" >&2; exit $status");
        printer.start(QStringLiteral("xvfb-run"),
            {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x800x24"), QStringLiteral("sh"),
                QStringLiteral("-c"), reportStatus, QStringLiteral("sh"),
                TestPaths::executable(QStringLiteral("vatnode")), QStringLiteral("--workdir"),
                dir.filePath(QStringLiteral("work")), QStringLiteral("--serial-port"),
                dir.filePath(QStringLiteral("board")), QStringLiteral("--time-scale"), QString::number(kTimeScale),
                QStringLiteral("--frames-dir"), dir.filePath(QStringLiteral("frames")), QStringLiteral("--print-file"),
                job, QStringLiteral("--job"), fields});
        if (!printer.waitForFinished(120000)) {
            printer.kill();
            printer.waitForFinished();
        } else {
            result.exitCode = printer.exitCode();
        }
        result.stderrText = QString::fromLocal8Bit(printer.readAllStandardError());
        const QRegularExpressionMatch status
            = QRegularExpression(QStringLiteral("vatnode exit status: (\\d+)")).match(result.stderrText);
        if (status.hasMatch())
            result.exitCode = status.captured(1).toInt();
        board.terminate();
        if (!board.waitForFinished(5000)) {
            board.kill();
            board.waitForFinished();
        }

        QFile log(dir.filePath(QStringLiteral("board.log")));
        if (log.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : log.readAll().split('\n')) {
                const int space = line.indexOf(' ');
                if (space > 0)
                    result.boardLines << QString::fromLatin1(line.mid(space + 1)).trimmed();
            }
        }
        result.frames = QDir(dir.filePath(QStringLiteral("frames")))
                            .entryList({QStringLiteral("frame_*.png")}, QDir::Files, QDir::Name);
        return result;
    }
};

QTEST_GUILESS_MAIN(TestCalibrationPrint)
#include "tst_calibrationprint.moc"
