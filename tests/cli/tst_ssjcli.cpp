// tessora-cli ssj: the commands run as a user runs them, as a process.
#include "testpaths.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

Run cli(const QStringList &arguments)
{
    QProcess process;
    process.start(TestPaths::executable(QStringLiteral("tessora-cli")), arguments);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList nonEmptyLines(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Grey test layers: shapes with levels on both sides of the black threshold,
// and anti-aliased edges.
QImage testLayer(int index, bool greyEdges)
{
    QImage image(1280, 800, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, greyEdges);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(300 + 20 * index, 400), 120, 90);
    painter.fillRect(QRect(800, 100, 200, 50), QColor(31, 31, 31)); // below the threshold: black
    painter.fillRect(QRect(800, 200, 200, 50), QColor(32, 0, 0)); // at the threshold: white
    painter.fillRect(QRect(800, 300, 200, 50 + index), QColor(128, 128, 128));
    return image;
}

} // namespace

class TestSsjCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void islands_floatingSquareFound_supportedOneNot();
    void packThenExport_bitMaps_giveBlackAndWhiteByTheThreshold();
    void packThenExport_grey_giveTheSameGreyLevels();
    void info_json_reportsHeaderAndTotals();
    void info_text_namesEveryField();
    void notAJobFile_failsWithOneErrorLine_data();
    void notAJobFile_failsWithOneErrorLine();
    void badUsage_exitsTwoWithUsage_data();
    void badUsage_exitsTwoWithUsage();
    void pack_unwritableTarget_failsAndKeepsNothingHalfWritten();
    void pack_unreadableImage_fails();
    void export_intoAFile_fails();

private:
    QTemporaryDir m_dir;
    QStringList m_bitImages;
    QStringList m_greyImages;
};

void TestSsjCli::initTestCase()
{
    QVERIFY(QFileInfo::exists(TestPaths::executable(QStringLiteral("tessora-cli"))));
    QVERIFY(m_dir.isValid());
    QDir().mkpath(m_dir.filePath(QStringLiteral("in")));
    for (int i = 0; i < 3; ++i) {
        const QString bit = m_dir.filePath(QStringLiteral("in/bit_%1.png").arg(i));
        const QString grey = m_dir.filePath(QStringLiteral("in/grey_%1.png").arg(i));
        QVERIFY(testLayer(i, false).save(bit));
        QVERIFY(testLayer(i, true).save(grey));
        m_bitImages << bit;
        m_greyImages << grey;
    }
}

void TestSsjCli::packThenExport_bitMaps_giveBlackAndWhiteByTheThreshold()
{
    const QString job = m_dir.filePath(QStringLiteral("bits.ssj"));
    const QString out = m_dir.filePath(QStringLiteral("bits_out"));
    Run pack = cli(QStringList {QStringLiteral("ssj"), QStringLiteral("pack")} + m_bitImages
        + QStringList {QStringLiteral("-o"), job});
    QCOMPARE(pack.exitCode, 0);
    Run exported = cli({QStringLiteral("ssj"), QStringLiteral("export"), job, out});
    QCOMPARE(exported.exitCode, 0);

    const QStringList files = QDir(out).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    QCOMPARE(files,
        QStringList(
            {QStringLiteral("layer_00000.png"), QStringLiteral("layer_00001.png"), QStringLiteral("layer_00002.png")}));
    for (int i = 0; i < 3; ++i) {
        const QImage original(m_bitImages[i]);
        const QImage back(QDir(out).filePath(files[i]));
        QCOMPARE(back.size(), original.size());
        for (int y = 0; y < original.height(); ++y) {
            for (int x = 0; x < original.width(); ++x) {
                const QRgb pixel = original.pixel(x, y);
                const bool white = qRed(pixel) >= 32 || qGreen(pixel) >= 32 || qBlue(pixel) >= 32;
                if (back.pixel(x, y) != (white ? 0xFFFFFFFFu : 0xFF000000u))
                    QFAIL(qPrintable(QStringLiteral("layer %1 differs at %2, %3").arg(i).arg(x).arg(y)));
            }
        }
    }
}

void TestSsjCli::packThenExport_grey_giveTheSameGreyLevels()
{
    const QString job = m_dir.filePath(QStringLiteral("grey.ssj"));
    const QString out = m_dir.filePath(QStringLiteral("grey_out"));
    Run pack = cli(QStringList {QStringLiteral("ssj"), QStringLiteral("pack")} + m_greyImages
        + QStringList {QStringLiteral("-o"), job, QStringLiteral("--anti-aliased"), QStringLiteral("--thickness"),
            QStringLiteral("0.02")});
    QCOMPARE(pack.exitCode, 0);
    QCOMPARE(cli({QStringLiteral("ssj"), QStringLiteral("export"), job, out}).exitCode, 0);
    for (int i = 0; i < 3; ++i) {
        const QImage original = QImage(m_greyImages[i]).convertToFormat(QImage::Format_RGB32);
        const QImage back = QImage(QDir(out).filePath(QStringLiteral("layer_%1.png").arg(i, 5, 10, QLatin1Char('0'))))
                                .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(back, original);
    }
}

void TestSsjCli::info_json_reportsHeaderAndTotals()
{
    const QString job = m_dir.filePath(QStringLiteral("info.ssj"));
    QCOMPARE(cli(QStringList {QStringLiteral("ssj"), QStringLiteral("pack")} + m_bitImages
                 + QStringList {QStringLiteral("-o"), job, QStringLiteral("--thickness"), QStringLiteral("0.1"),
                     QStringLiteral("--description"), QStringLiteral("bracket, 3 layers")})
                 .exitCode,
        0);
    Run info = cli({QStringLiteral("ssj"), QStringLiteral("info"), job, QStringLiteral("--json")});
    QCOMPARE(info.exitCode, 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(info.out.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject object = document.object();
    QCOMPARE(object.value(QStringLiteral("version")).toInt(), 1);
    QCOMPARE(object.value(QStringLiteral("name")).toString(), QStringLiteral("jobname"));
    QCOMPARE(object.value(QStringLiteral("description")).toString(), QStringLiteral("bracket, 3 layers"));
    QCOMPARE(object.value(QStringLiteral("layerThickness")).toDouble(), 0.1);
    QCOMPARE(object.value(QStringLiteral("totalLayers")).toInt(), 3);
    QCOMPARE(object.value(QStringLiteral("storedLayers")).toInt(), 3);
    QCOMPARE(object.value(QStringLiteral("leadingBlankLayers")).toInt(), 0);
    QCOMPARE(object.value(QStringLiteral("baseLayers")).toInt(), 0);
    QCOMPARE(object.value(QStringLiteral("width")).toInt(), 1280);
    QCOMPARE(object.value(QStringLiteral("height")).toInt(), 800);
    QCOMPARE(object.value(QStringLiteral("supports")).toInt(), 0);
    QCOMPARE(object.value(QStringLiteral("texts")).toInt(), 0);

    qint64 white = 0;
    QRect bounds;
    for (const QString &path : qAsConst(m_bitImages)) {
        const QImage image(path);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qRed(p) >= 32 || qGreen(p) >= 32 || qBlue(p) >= 32) {
                    ++white;
                    bounds |= QRect(x, y, 1, 1);
                }
            }
    }
    QCOMPARE(qint64(object.value(QStringLiteral("whitePixels")).toDouble()), white);
    QCOMPARE(object.value(QStringLiteral("bounds")).toArray(),
        QJsonArray({bounds.left(), bounds.top(), bounds.right(), bounds.bottom()}));

    // Grey jobs report the bounds of their lit pixels too.
    const QString grey = m_dir.filePath(QStringLiteral("info_grey.ssj"));
    QCOMPARE(cli(QStringList {QStringLiteral("ssj"), QStringLiteral("pack"), m_greyImages[0], QStringLiteral("-o"),
                     grey, QStringLiteral("--anti-aliased")})
                 .exitCode,
        0);
    Run greyInfo = cli({QStringLiteral("ssj"), QStringLiteral("info"), grey, QStringLiteral("--json")});
    const QJsonObject greyObject = QJsonDocument::fromJson(greyInfo.out.toUtf8()).object();
    QCOMPARE(greyObject.value(QStringLiteral("version")).toInt(), 3);
    QCOMPARE(greyObject.value(QStringLiteral("layerThickness")).toDouble(), 0.05);
    QCOMPARE(greyObject.value(QStringLiteral("bounds")).toArray().size(), 4);
    QCOMPARE(greyObject.value(QStringLiteral("bounds")).toArray().at(2).toInt(), 999);
}

void TestSsjCli::info_text_namesEveryField()
{
    const QString job = m_dir.filePath(QStringLiteral("text.ssj"));
    QCOMPARE(
        cli({QStringLiteral("ssj"), QStringLiteral("pack"), m_bitImages[0], QStringLiteral("-o"), job}).exitCode, 0);
    Run info = cli({QStringLiteral("ssj"), QStringLiteral("info"), job});
    QCOMPARE(info.exitCode, 0);
    for (const char *label : {"format version:", "name:", "description:", "layer thickness:", "layers:", "base layers:",
             "largest layer:", "white pixels:", "bounds:", "supports:", "texts:"})
        QVERIFY2(info.out.contains(QLatin1String(label)), label);
    QVERIFY(info.out.contains(QStringLiteral("0.05 mm (50 microns)")));
    QVERIFY(info.out.contains(QStringLiteral("1280 x 800")));
}

void TestSsjCli::notAJobFile_failsWithOneErrorLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QRandomGenerator random(7);
    QByteArray noise(4096, '\0');
    for (char &c : noise)
        c = char(random.bounded(256));
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        testLayer(0, false).save(&buffer, "PNG");
    }
    QByteArray cut;
    {
        QFile source(m_dir.filePath(QStringLiteral("bits.ssj")));
        if (source.open(QIODevice::ReadOnly))
            cut = source.readAll();
        cut.chop(cut.size() / 2);
    }
    QByteArray version2;
    {
        QDataStream out(&version2, QIODevice::WriteOnly);
        out << QStringLiteral("2") << QStringLiteral("jobname");
    }
    QTest::newRow("empty") << QByteArray() << QStringLiteral("not a job file");
    QTest::newRow("random bytes") << noise << QString();
    QTest::newRow("a PNG image") << png << QStringLiteral("not a job file");
    QTest::newRow("text") << QByteArray("solid cube\nfacet normal 0 0 1\n") << QStringLiteral("not a job file");
    QTest::newRow("version 2") << version2 << QStringLiteral("format version \"2\"");
    QTest::newRow("cut in half") << cut << QStringLiteral("damaged");
}

void TestSsjCli::notAJobFile_failsWithOneErrorLine()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(QStringLiteral("bad_%1.ssj").arg(QTest::currentDataTag()));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    for (const QString &command : {QStringLiteral("info"), QStringLiteral("export")}) {
        QStringList arguments {QStringLiteral("ssj"), command, path};
        if (command == QLatin1String("export"))
            arguments << m_dir.filePath(QStringLiteral("bad_out"));
        Run run = cli(arguments);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = nonEmptyLines(run.err);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QStringLiteral("error: ")), qPrintable(lines[0]));
        QVERIFY2(lines[0].contains(reason), qPrintable(lines[0]));
        QVERIFY(run.out.isEmpty());
    }
    Run missing = cli({QStringLiteral("ssj"), QStringLiteral("info"), m_dir.filePath(QStringLiteral("missing.ssj"))});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.startsWith(QStringLiteral("error: ")));
}

void TestSsjCli::badUsage_exitsTwoWithUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("unknown command") << QStringList {QStringLiteral("frobnicate")};
    QTest::newRow("ssj alone") << QStringList {QStringLiteral("ssj")};
    QTest::newRow("unknown ssj command") << QStringList {QStringLiteral("ssj"), QStringLiteral("unpack")};
    QTest::newRow("info without job") << QStringList {QStringLiteral("ssj"), QStringLiteral("info")};
    QTest::newRow("info unknown option") << QStringList {
        QStringLiteral("ssj"), QStringLiteral("info"), QStringLiteral("a.ssj"), QStringLiteral("--xml")};
    QTest::newRow("export without folder")
        << QStringList {QStringLiteral("ssj"), QStringLiteral("export"), QStringLiteral("a.ssj")};
    QTest::newRow("pack without -o") << QStringList {
        QStringLiteral("ssj"), QStringLiteral("pack"), QStringLiteral("a.png")};
    QTest::newRow("pack without images") << QStringList {
        QStringLiteral("ssj"), QStringLiteral("pack"), QStringLiteral("-o"), QStringLiteral("a.ssj")};
    QTest::newRow("pack bad thickness") << QStringList {QStringLiteral("ssj"), QStringLiteral("pack"),
        QStringLiteral("a.png"), QStringLiteral("-o"), QStringLiteral("a.ssj"), QStringLiteral("--thickness"),
        QStringLiteral("fifty")};
    QTest::newRow("pack zero thickness") << QStringList {QStringLiteral("ssj"), QStringLiteral("pack"),
        QStringLiteral("a.png"), QStringLiteral("-o"), QStringLiteral("a.ssj"), QStringLiteral("--thickness"),
        QStringLiteral("0")};
}

void TestSsjCli::badUsage_exitsTwoWithUsage()
{
    QFETCH(QStringList, arguments);
    Run run = cli(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("usage")), qPrintable(run.err));
}

void TestSsjCli::pack_unwritableTarget_failsAndKeepsNothingHalfWritten()
{
    Run full = cli(QStringList {QStringLiteral("ssj"), QStringLiteral("pack")} + m_bitImages
        + QStringList {QStringLiteral("-o"), QStringLiteral("/dev/full")});
    QCOMPARE(full.exitCode, 1);
    QVERIFY2(nonEmptyLines(full.err).last().startsWith(QStringLiteral("error: cannot write /dev/full")),
        qPrintable(full.err));

    const QString nowhere = m_dir.filePath(QStringLiteral("no/such/folder/job.ssj"));
    Run missing = cli(
        QStringList {QStringLiteral("ssj"), QStringLiteral("pack"), m_bitImages[0], QStringLiteral("-o"), nowhere});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(nonEmptyLines(missing.err).last().startsWith(QStringLiteral("error: ")));
    QVERIFY(!QFileInfo::exists(nowhere));
}

void TestSsjCli::pack_unreadableImage_fails()
{
    const QString notImage = m_dir.filePath(QStringLiteral("notimage.png"));
    {
        QFile file(notImage);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is text");
    }
    const QString job = m_dir.filePath(QStringLiteral("never.ssj"));
    Run run = cli({QStringLiteral("ssj"), QStringLiteral("pack"), m_bitImages[0], notImage, QStringLiteral("-o"), job});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(nonEmptyLines(run.err).last().startsWith(QStringLiteral("error: cannot read image")));
    QVERIFY(!QFileInfo::exists(job));
}

void TestSsjCli::export_intoAFile_fails()
{
    const QString job = m_dir.filePath(QStringLiteral("exp.ssj"));
    QCOMPARE(
        cli({QStringLiteral("ssj"), QStringLiteral("pack"), m_bitImages[0], QStringLiteral("-o"), job}).exitCode, 0);
    Run run = cli({QStringLiteral("ssj"), QStringLiteral("export"), job, m_bitImages[1]});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(nonEmptyLines(run.err).last().startsWith(QStringLiteral("error: ")));
}

void TestSsjCli::islands_floatingSquareFound_supportedOneNot()
{
    // Layer 0 stands on the platform; layer 1 keeps its square and adds a 5-pixel speck;
    // layer 2 adds a floating 20 x 10 square; each grey job layer has the same shapes.
    const QList<QList<QRect>> layers = {
        {QRect(100, 100, 40, 40)},
        {QRect(100, 100, 40, 40), QRect(600, 600, 5, 1)},
        {QRect(100, 100, 40, 40), QRect(600, 600, 5, 1), QRect(300, 300, 20, 10), QRect(140, 140, 5, 5)},
    };
    QStringList images;
    for (int i = 0; i < layers.size(); ++i) {
        QImage image(1280, 800, QImage::Format_RGB32);
        image.fill(Qt::black);
        for (const QRect &rect : layers[i]) {
            QPainter painter(&image);
            painter.fillRect(rect, Qt::white);
        }
        images << m_dir.filePath(QStringLiteral("island_%1.png").arg(i));
        QVERIFY(image.save(images.last()));
    }
    for (const QString &flavour : {QString(), QStringLiteral("--anti-aliased")}) {
        const QString job = m_dir.filePath(QStringLiteral("islands%1.ssj").arg(flavour));
        QStringList pack = QStringList {QStringLiteral("ssj"), QStringLiteral("pack")} + images
            + QStringList {QStringLiteral("-o"), job};
        if (!flavour.isEmpty())
            pack << flavour;
        QCOMPARE(cli(pack).exitCode, 0);

        const Run text = cli({QStringLiteral("ssj"), QStringLiteral("islands"), job});
        QCOMPARE(text.exitCode, 1);
        QVERIFY2(text.out.contains(QStringLiteral("layer 2: 200 pixels at (309.5, 304.5)")), qPrintable(text.out));
        QVERIFY(text.out.contains(QStringLiteral("layer 1: 5 pixels at (602.0, 600.0)")));
        // The 5 x 5 square touching the big one only at a corner belongs to it: 8 neighbours.
        QVERIFY(!text.out.contains(QStringLiteral("25 pixels")));
        QVERIFY(text.out.contains(QStringLiteral("2 island(s), 1 larger than 5 pixels")));

        const Run json = cli({QStringLiteral("ssj"), QStringLiteral("islands"), job, QStringLiteral("--json")});
        QCOMPARE(json.exitCode, 1);
        const QJsonArray array = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(array.size(), 2);
        const QJsonObject floating = array.at(1).toObject();
        QCOMPARE(floating.value(QStringLiteral("layer")).toInt(), 2);
        QCOMPARE(floating.value(QStringLiteral("pixels")).toInt(), 200);
        QCOMPARE(floating.value(QStringLiteral("x")).toDouble(), 309.5);
        QCOMPARE(floating.value(QStringLiteral("y")).toDouble(), 304.5);
    }

    // Only supported regions, and specks up to 5 pixels: exit 0.
    const QString supported = m_dir.filePath(QStringLiteral("supported.ssj"));
    QCOMPARE(cli({QStringLiteral("ssj"), QStringLiteral("pack"), images[0], images[0], images[1], QStringLiteral("-o"),
                     supported})
                 .exitCode,
        0);
    const Run ok = cli({QStringLiteral("ssj"), QStringLiteral("islands"), supported});
    QCOMPARE(ok.exitCode, 0);
    QVERIFY(ok.out.contains(QStringLiteral("1 island(s), 0 larger than 5 pixels")));
}

QTEST_GUILESS_MAIN(TestSsjCli)
#include "tst_ssjcli.moc"
