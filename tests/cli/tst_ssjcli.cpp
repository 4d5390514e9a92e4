// tessora-cli ssj: the commands run as a user runs them, as a process.
#include "clirun.h"

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

using Run = CliRun;

Run cli(const QStringList &arguments)
{
    return runCli(arguments);
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
    void initTestCase()
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

    void packThenExport_bitMaps_giveBlackAndWhiteByTheThreshold()
    {
        const QString job = m_dir.filePath(QStringLiteral("bits.ssj"));
        const QString out = m_dir.filePath(QStringLiteral("bits_out"));
        Run pack = cli(QStringList {"ssj", "pack"} + m_bitImages + QStringList {"-o", job});
        QCOMPARE(pack.exitCode, 0);
        Run exported = cli({"ssj", "export", job, out});
        QCOMPARE(exported.exitCode, 0);

        const QStringList files = QDir(out).entryList({"*.png"}, QDir::Files, QDir::Name);
        QCOMPARE(files, QStringList({"layer_00000.png", "layer_00001.png", "layer_00002.png"}));
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

    void packThenExport_grey_giveTheSameGreyLevels()
    {
        const QString job = m_dir.filePath(QStringLiteral("grey.ssj"));
        const QString out = m_dir.filePath(QStringLiteral("grey_out"));
        Run pack = cli(QStringList {"ssj", "pack"} + m_greyImages
            + QStringList {"-o", job, "--anti-aliased", "--thickness", "0.02"});
        QCOMPARE(pack.exitCode, 0);
        QCOMPARE(cli({"ssj", "export", job, out}).exitCode, 0);
        for (int i = 0; i < 3; ++i) {
            const QImage original = QImage(m_greyImages[i]).convertToFormat(QImage::Format_RGB32);
            const QImage back
                = QImage(QDir(out).filePath(QStringLiteral("layer_%1.png").arg(i, 5, 10, QLatin1Char('0'))))
                      .convertToFormat(QImage::Format_RGB32);
            QCOMPARE(back, original);
        }
    }

    void info_json_reportsHeaderAndTotals()
    {
        const QString job = m_dir.filePath(QStringLiteral("info.ssj"));
        QCOMPARE(cli(QStringList {"ssj", "pack"} + m_bitImages
                     + QStringList {"-o", job, "--thickness", "0.1", "--description", "bracket, 3 layers"})
                     .exitCode,
            0);
        Run info = cli({"ssj", "info", job, "--json"});
        QCOMPARE(info.exitCode, 0);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(info.out.toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject object = document.object();
        const QJsonObject expected {{"version", 1}, {"name", "jobname"}, {"description", "bracket, 3 layers"},
            {"layerThickness", 0.1}, {"totalLayers", 3}, {"storedLayers", 3}, {"leadingBlankLayers", 0},
            {"baseLayers", 0}, {"width", 1280}, {"height", 800}, {"supports", 0}, {"texts", 0}};
        for (const QString &key : expected.keys())
            QVERIFY2(object.value(key) == expected.value(key), qPrintable(key));

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
        QCOMPARE(cli(QStringList {"ssj", "pack", m_greyImages[0], "-o", grey, "--anti-aliased"}).exitCode, 0);
        Run greyInfo = cli({"ssj", "info", grey, "--json"});
        const QJsonObject greyObject = QJsonDocument::fromJson(greyInfo.out.toUtf8()).object();
        QCOMPARE(greyObject.value(QStringLiteral("version")).toInt(), 3);
        QCOMPARE(greyObject.value(QStringLiteral("layerThickness")).toDouble(), 0.05);
        QCOMPARE(greyObject.value(QStringLiteral("bounds")).toArray().size(), 4);
        QCOMPARE(greyObject.value(QStringLiteral("bounds")).toArray().at(2).toInt(), 999);
    }

    void info_text_namesEveryField()
    {
        const QString job = m_dir.filePath(QStringLiteral("text.ssj"));
        QCOMPARE(cli({"ssj", "pack", m_bitImages[0], "-o", job}).exitCode, 0);
        Run info = cli({"ssj", "info", job});
        QCOMPARE(info.exitCode, 0);
        for (const char *label : {"format version:", "name:", "description:", "layer thickness:", "layers:",
                 "base layers:", "largest layer:", "white pixels:", "bounds:", "supports:", "texts:"})
            QVERIFY2(info.out.contains(QLatin1String(label)), label);
        QVERIFY(info.out.contains(QStringLiteral("0.05 mm (50 microns)")));
        QVERIFY(info.out.contains(QStringLiteral("1280 x 800")));
    }

    void notAJobFile_failsWithOneErrorLine_data()
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

    void notAJobFile_failsWithOneErrorLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(QStringLiteral("bad_%1.ssj").arg(QTest::currentDataTag()));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        for (const QString command : {"info", "export"}) {
            QStringList arguments {"ssj", command, path};
            if (command == QLatin1String("export"))
                arguments << m_dir.filePath(QStringLiteral("bad_out"));
            Run run = cli(arguments);
            QCOMPARE(run.exitCode, 1);
            const QStringList lines = nonEmptyLines(run.err);
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].startsWith(QStringLiteral("error: ")), qPrintable(lines[0]));
            QVERIFY2(lines[0].contains(reason), qPrintable(lines[0]));
            QVERIFY(run.out.isEmpty());
        }
        Run missing = cli({"ssj", "info", m_dir.filePath(QStringLiteral("missing.ssj"))});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.startsWith(QStringLiteral("error: ")));
    }

    void badUsage_exitsTwoWithUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("unknown command") << QStringList {"frobnicate"};
        QTest::newRow("ssj alone") << QStringList {"ssj"};
        QTest::newRow("unknown ssj command") << QStringList {"ssj", "unpack"};
        QTest::newRow("info without job") << QStringList {"ssj", "info"};
        QTest::newRow("info unknown option") << QStringList {"ssj", "info", "a.ssj", "--xml"};
        QTest::newRow("export without folder") << QStringList {"ssj", "export", "a.ssj"};
        QTest::newRow("pack without -o") << QStringList {"ssj", "pack", "a.png"};
        QTest::newRow("pack without images") << QStringList {"ssj", "pack", "-o", "a.ssj"};
        QTest::newRow("pack bad thickness")
            << QStringList {"ssj", "pack", "a.png", "-o", "a.ssj", "--thickness", "fifty"};
        QTest::newRow("pack zero thickness") << QStringList {"ssj", "pack", "a.png", "-o", "a.ssj", "--thickness", "0"};
    }

    void badUsage_exitsTwoWithUsage()
    {
        QFETCH(QStringList, arguments);
        Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QStringLiteral("usage")), qPrintable(run.err));
    }

    void pack_unwritableTarget_failsAndKeepsNothingHalfWritten()
    {
        Run full = cli(QStringList {"ssj", "pack"} + m_bitImages + QStringList {"-o", "/dev/full"});
        QCOMPARE(full.exitCode, 1);
        QVERIFY2(nonEmptyLines(full.err).last().startsWith(QStringLiteral("error: cannot write /dev/full")),
            qPrintable(full.err));

        const QString nowhere = m_dir.filePath(QStringLiteral("no/such/folder/job.ssj"));
        Run missing = cli(QStringList {"ssj", "pack", m_bitImages[0], "-o", nowhere});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(nonEmptyLines(missing.err).last().startsWith(QStringLiteral("error: ")));
        QVERIFY(!QFileInfo::exists(nowhere));
    }

    void pack_unreadableImage_fails()
    {
        const QString notImage = m_dir.filePath(QStringLiteral("notimage.png"));
        {
            QFile file(notImage);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is text");
        }
        const QString job = m_dir.filePath(QStringLiteral("never.ssj"));
        Run run = cli({"ssj", "pack", m_bitImages[0], notImage, "-o", job});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(nonEmptyLines(run.err).last().startsWith(QStringLiteral("error: cannot read image")));
        QVERIFY(!QFileInfo::exists(job));
    }

    void export_intoAFile_fails()
    {
        const QString job = m_dir.filePath(QStringLiteral("exp.ssj"));
        QCOMPARE(cli({"ssj", "pack", m_bitImages[0], "-o", job}).exitCode, 0);
        Run run = cli({"ssj", "export", job, m_bitImages[1]});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(nonEmptyLines(run.err).last().startsWith(QStringLiteral("error: ")));
    }

    void islands_floatingSquareFound_supportedOneNot()
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
        for (const QString &flavour : QStringList {QString(), "--anti-aliased"}) {
            const QString job = m_dir.filePath(QStringLiteral("islands%1.ssj").arg(flavour));
            QStringList pack = QStringList {"ssj", "pack"} + images + QStringList {"-o", job};
            if (!flavour.isEmpty())
                pack << flavour;
            QCOMPARE(cli(pack).exitCode, 0);

            const Run text = cli({"ssj", "islands", job});
            QCOMPARE(text.exitCode, 1);
            QVERIFY2(text.out.contains(QStringLiteral("layer 2: 200 pixels at (309.5, 304.5)")), qPrintable(text.out));
            QVERIFY(text.out.contains(QStringLiteral("layer 1: 5 pixels at (602.0, 600.0)")));
            // The 5 x 5 square touching the big one only at a corner belongs to it: 8 neighbours.
            QVERIFY(!text.out.contains(QStringLiteral("25 pixels")));
            QVERIFY(text.out.contains(QStringLiteral("2 island(s), 1 larger than 5 pixels")));

            const Run json = cli({"ssj", "islands", job, "--json"});
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
        QCOMPARE(cli({"ssj", "pack", images[0], images[0], images[1], "-o", supported}).exitCode, 0);
        const Run ok = cli({"ssj", "islands", supported});
        QCOMPARE(ok.exitCode, 0);
        QVERIFY(ok.out.contains(QStringLiteral("1 island(s), 0 larger than 5 pixels")));
    }

private:
    QTemporaryDir m_dir;
    QStringList m_bitImages;
    QStringList m_greyImages;
};

QTEST_GUILESS_MAIN(TestSsjCli)
#include "tst_ssjcli.moc"
