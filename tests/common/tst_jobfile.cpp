// Job files: the packing of their layers, layout on disk, reading damaged files, layer
// lookup and the holder of the loaded job.
#include "crushedbitmap.h"
#include "crushedprintjob.h"
#include "ssj.h"
#include "testimages.h"
#include "testjobs.h"

#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The 4 x 2 layer of the format's worked example.
QImage exampleLayer()
{
    QImage image = blackImage(4, 2);
    image.setPixel(2, 0, kWhite);
    image.setPixel(3, 0, kWhite);
    image.setPixel(0, 1, kWhite);
    return image;
}

QByteArray bytesOf(CrushedPrintJob &job)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    job.writeTo(&buffer);
    return bytes;
}

bool readBytes(CrushedPrintJob &job, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return job.readFrom(&buffer);
}

QByteArray streamString(const QString &text)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << text;
    return bytes;
}

// The header of a job file up to and including the layer count.
QByteArray header(const QString &version, qint32 leading, qint32 base, qint32 layerCount)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << version << QStringLiteral("jobname") << QStringLiteral("jobdesc") << 0.0 << 0.05 << leading << base
        << QStringLiteral("Reserved3") << QStringLiteral("Reserved2") << QStringLiteral("Reserved1") << layerCount;
    return bytes;
}

bool allPixels(const QImage &image, QRgb pixel)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != pixel)
                return false;
    return true;
}

QImage unpack(CrushedBitMap &map)
{
    QImage target;
    map.inflateSlice(&target, 0, 0, true);
    return target;
}

} // namespace

class TestJobFile : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SSJ::releaseCPJ(); }

    void layout_matchesTheFormatByteForByte()
    {
        CrushedPrintJob job;
        job.setVersion(1);
        job.setName(QStringLiteral("jobname"));
        job.setDescription(QStringLiteral("jobdesc"));
        job.setLayerThickness(0.05);
        job.clearAll(0);
        QImage layer = exampleLayer();
        QVERIFY(job.addImage(&layer));
        job.addSupportRecord(SimpleSupport(1, 2, SupportDiamond, 9, -3, 7));
        job.setTexts({QStringLiteral("a")});

        QByteArray expected = header(QStringLiteral("1"), 0, 0, 1);
        // The layer: white pixels, bounds (left, top, right, bottom), bit count, bits.
        expected += QByteArray::fromHex("00000003 00000000 00000000 00000003 00000001 00000038 00200040 60c8c8");
        // The support count, one support (x, y, type, size, bottom, top); the text count, one text.
        expected += QByteArray::fromHex("00000001 00000001 00000002 00000003 00000009 fffffffd 00000007");
        expected += QByteArray::fromHex("00000001") + streamString(QStringLiteral("a"));
        QCOMPARE(bytesOf(job).toHex(), expected.toHex());
    }

    void writeAndRead_keepsHeaderLayersSupportsAndTexts()
    {
        CrushedPrintJob job = squareJob(5);
        job.setLeadingBlankLayers(2);
        job.setBaseLayers(1);
        job.addSupportRecord(SimpleSupport(30, 20, SupportTriangle, 6, -2, 3));
        job.setTexts({QStringLiteral("first line"), QString(), QStringLiteral("ü €")});

        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("job.ssj")));
        QVERIFY(job.saveCPJ(&file));
        CrushedPrintJob loaded;
        QFile again(file.fileName());
        QVERIFY(loaded.loadCPJ(&again));
        QVERIFY(!again.isOpen());
        // Written again, the loaded job gives the same bytes: every field was read.
        QCOMPARE(bytesOf(loaded), bytesOf(job));
        QCOMPARE(loaded.getTotalLayers(), 7);
        QCOMPARE(loaded.totalWhitePixels(), qint64(5 * 48));
        QCOMPARE(loaded.whiteBounds(), QRect(QPoint(10, 5), QPoint(21, 10)));
        QCOMPARE(loaded.supports()[0].bottom, -2);
        QCOMPARE(loaded.texts(), job.texts());
    }

    void versions_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("readable");
        QTest::newRow("1") << QStringLiteral("1") << true;
        QTest::newRow("3") << QStringLiteral("3") << true;
        QTest::newRow("2") << QStringLiteral("2") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void versions()
    {
        QFETCH(QString, version);
        QFETCH(bool, readable);
        QByteArray bytes = header(version, 0, 0, 0) + QByteArray::fromHex("00000000");
        CrushedPrintJob job;
        QCOMPARE(readBytes(job, bytes), readable);
        if (!readable)
            QVERIFY(!job.errorString().isEmpty());
    }

    void leadingBlankLayers_areBlackOfLargestSize()
    {
        CrushedPrintJob job = squareJob(10);
        job.setLeadingBlankLayers(3);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("blank.ssj")));
        QVERIFY(job.saveCPJ(&file));

        QVERIFY(SSJ::loadCPJ(file.fileName()));
        QCOMPARE(SSJ::getNumImages(), 13);
        for (int layer = 0; layer < 3; ++layer) {
            const QImage image = SSJ::getOneImage(layer);
            QCOMPARE(image.size(), QSize(64, 40));
            QVERIFY(allPixels(image, kBlack));
            QVERIFY(SSJ::m_pJob->getCBMSlice(layer)->isBlank());
        }
        // Layer 3 is the first stored layer: its square starts at x = 10.
        const QImage first = SSJ::getOneImage(3);
        QCOMPARE(first.pixel(10, 5), kWhite);
        QCOMPARE(first.pixel(9, 5), kBlack);
        QCOMPARE(SSJ::getOneImage(12).pixel(19, 5), kWhite);
        QVERIFY(SSJ::m_pJob->getCBMSlice(13) == nullptr);
        QVERIFY(allPixels(SSJ::getOneImage(13), kBlack));

        // A failed load leaves no layer of the previous job; without a job, no image.
        QVERIFY(!SSJ::loadCPJ(QStringLiteral("/nonexistent/job.ssj")));
        QCOMPARE(SSJ::getNumImages(), 0);
        SSJ::releaseCPJ();
        QVERIFY(SSJ::getOneImage(0).isNull());
    }

    void everyTruncation_failsCleanly()
    {
        // Hundreds of refusals; their log lines are expected.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const auto restoreLog = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
        CrushedPrintJob job = squareJob(2);
        job.addSupportRecord(SimpleSupport(1, 1, SupportCircle, 3, 0, 1));
        job.setTexts({QStringLiteral("text")});
        const QByteArray bytes = bytesOf(job);

        // Only the whole file, and the file that ends after its supports (without its
        // optional text list), are complete. (Grey layers cut short: absurdCounts below.)
        const int withoutTexts = bytes.size() - 4 - streamString(QStringLiteral("text")).size();
        for (int size = 0; size <= bytes.size(); ++size) {
            CrushedPrintJob loaded;
            const bool ok = readBytes(loaded, bytes.left(size));
            QVERIFY2(ok == (size == withoutTexts || size == bytes.size()),
                qPrintable(QStringLiteral("cut at %1 of %2").arg(size).arg(bytes.size())));
            QVERIFY(ok || !loaded.errorString().isEmpty());
        }
    }

    void absurdCounts_failFastWithoutAllocating_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("two billion bit-map layers")
            << header(QStringLiteral("1"), 0, 0, 2000000000) + QByteArray(100, '\0');
        QTest::newRow("two billion grey layers")
            << header(QStringLiteral("3"), 0, 0, 2000000000) + QByteArray(100, '\0');
        QTest::newRow("negative layer count") << header(QStringLiteral("1"), 0, 0, -5) + QByteArray(100, '\0');
        QTest::newRow("negative leading blank layers") << header(QStringLiteral("1"), -1, 0, 0) + QByteArray(4, '\0');
        QTest::newRow("negative base layers") << header(QStringLiteral("1"), 0, -7, 0) + QByteArray(4, '\0');
        // A layer record whose bit count, or PNG length, points far past the end.
        QTest::newRow("bit array longer than the file") << header(QStringLiteral("1"), 0, 0, 1)
                + QByteArray::fromHex("00000000 00000000000000000000000000000000 fffffff0 0000");
        QTest::newRow("PNG array longer than the file") << header(QStringLiteral("3"), 0, 0, 1)
                + QByteArray::fromHex("00000000 00000004000000020000000000000000 00000010 7ffffff0 0000");
        QTest::newRow("name longer than the file")
            << streamString(QStringLiteral("1")) + QByteArray::fromHex("7ffffffe") + QByteArray(64, 'x');
        QTest::newRow("two billion supports") << header(QStringLiteral("1"), 0, 0, 0) + QByteArray::fromHex("77359400");
        QTest::newRow("two billion texts")
            << header(QStringLiteral("1"), 0, 0, 0) + QByteArray::fromHex("00000000 77359400 00000000");
    }

    void absurdCounts_failFastWithoutAllocating()
    {
        QFETCH(QByteArray, bytes);
        QElapsedTimer timer;
        timer.start();
        CrushedPrintJob job;
        QVERIFY(!readBytes(job, bytes));
        QVERIFY(job.storedLayers() <= 1);
        QVERIFY(job.supports().empty());
        QVERIFY(timer.elapsed() < 5000);
    }

    void antiAliasedLayers_keepGreyLevelsAndSitAtTheCorner()
    {
        // A 4 x 2 grey layer in a job whose other layer is 8 x 6: the small one is
        // drawn at the top-left corner, not centred.
        QImage small(4, 2, QImage::Format_RGB32);
        const int levels[8] = {0, 17, 64, 128, 200, 255, 31, 32};
        for (int i = 0; i < 8; ++i)
            small.setPixel(i % 4, i / 4, qRgb(levels[i], levels[i], levels[i]));
        QImage large(8, 6, QImage::Format_RGB32);
        large.fill(Qt::black);

        CrushedPrintJob job;
        job.setVersion(3);
        job.clearAll(0);
        QVERIFY(job.addAntiImage(&large));
        QVERIFY(job.addAntiImage(&small));
        QVERIFY(job.addImage(&small)); // a bit-map layer is not added to a grey job
        QCOMPARE(job.storedLayers(), 2);
        QCOMPARE(job.totalWhitePixels(), qint64(7));

        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("grey.ssj")));
        QVERIFY(job.saveCPJ(&file));
        QVERIFY(SSJ::loadCPJ(file.fileName()));
        QCOMPARE(SSJ::m_pJob->version(), 3);
        const QImage image = SSJ::getOneImage(1);
        QCOMPARE(image.size(), QSize(8, 6));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(qGray(image.pixel(i % 4, i / 4)), levels[i]);
        QCOMPARE(image.pixel(4, 0), kBlack);
        QCOMPARE(image.pixel(0, 2), kBlack);
    }

    void greyLayers_storeAsGreyPngAndAddLikePlusComposition()
    {
        QRandomGenerator random(11);
        QImage grey(37, 21, QImage::Format_RGB32);
        for (int i = 0; i < 37 * 21; ++i) {
            const int level = int(random.bounded(256));
            grey.setPixel(i % 37, i / 37, qRgb(level, level, level));
        }
        QByteArray greyPng = CrushedAntiBitMap(&grey).png();
        QCOMPARE(CrushedAntiBitMap::decodePng(greyPng).format(), QImage::Format_Grayscale8);

        // Onto a target that is not black, shifted partly off three edges: the grey layer's
        // own addition and QPainter's Plus (which an RGB layer takes) must agree, saturation
        // included.
        QByteArray rgbPng;
        QBuffer buffer(&rgbPng);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && grey.save(&buffer, "PNG"));
        QImage fast(30, 25, QImage::Format_ARGB32_Premultiplied);
        fast.fill(qRgb(100, 50, 200));
        QImage painted = fast;
        CrushedAntiBitMap::ByteArrayToAntiImage(&fast, -5, -4, &greyPng);
        CrushedAntiBitMap::ByteArrayToAntiImage(&painted, -5, -4, &rgbPng);
        QCOMPARE(fast, painted);
    }

    void save_reportsFailedWrites()
    {
        CrushedPrintJob job = squareJob(3);
        QFile nowhere(QStringLiteral("/nonexistent-folder/job.ssj"));
        QVERIFY(!job.saveCPJ(&nowhere));
        QVERIFY(!job.saveCPJ(QStringLiteral("/nonexistent-folder/job.ssj")));

        // A device named as the target is written in place, never replaced by a file.
        QTemporaryDir devices;
        const QString fullDevice = devices.filePath(QStringLiteral("full"));
        if (::mknod(QFile::encodeName(fullDevice).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
            QVERIFY(!job.saveCPJ(fullDevice));
            QVERIFY(!job.errorString().isEmpty());
            QVERIFY(!QFileInfo(fullDevice).isFile());
        }
    }

    // ---- Bit-map layers (the worked example of the format is in the layout above) ----
    void runsAtPowerOfTwoBoundaries_codeWithSmallestKey_data()
    {
        QTest::addColumn<int>("blackRun");
        for (int k = 1; k <= 16; ++k) {
            const int power = 1 << k;
            QTest::addRow("2^%d-1", k) << power - 1;
            QTest::addRow("2^%d", k) << power;
            QTest::addRow("2^%d+1", k) << power + 1;
        }
    }

    void runsAtPowerOfTwoBoundaries_codeWithSmallestKey()
    {
        QFETCH(int, blackRun);
        // Rows of 1024 pixels: a black run of the given length, three white pixels,
        // and black to the end of the last row.
        const int width = 1024;
        const int height = (blackRun + 3 + width - 1) / width;
        QImage image = blackImage(width, height);
        for (int i = blackRun; i < blackRun + 3; ++i)
            image.setPixel(i % width, i / width, kWhite);

        CrushedBitMap map(&image);
        QCOMPARE(map.popBits(16), width);
        QCOMPARE(map.popBits(16), height);
        QCOMPARE(map.popBits(1), 0);
        const int key = map.popBits(5);
        QVERIFY((qint64(1) << key) >= blackRun);
        QVERIFY(key == 0 || (qint64(1) << (key - 1)) < blackRun);
        QCOMPARE(map.popBits(key + 1), blackRun);

        const QImage back = unpack(map);
        const auto pixelAt = [&back, width](int i) { return back.pixel(i % width, i / width); };
        QCOMPARE(pixelAt(blackRun - 1), kBlack);
        QCOMPARE(pixelAt(blackRun), kWhite);
        QCOMPARE(pixelAt(blackRun + 2), kWhite);
        if (blackRun + 3 < width * height)
            QCOMPARE(pixelAt(blackRun + 3), kBlack);
    }

    void randomImages_roundTripPixelForPixel_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("whitePercent");
        QTest::newRow("1x1 black") << 1 << 1 << 0;
        QTest::newRow("1x1 white") << 1 << 1 << 100;
        QTest::newRow("odd sizes, sparse") << 37 << 23 << 3;
        QTest::newRow("odd sizes, noisy") << 101 << 7 << 50;
        QTest::newRow("single column") << 1 << 300 << 40;
        QTest::newRow("projector raster") << 1280 << 800 << 1;
    }

    void randomImages_roundTripPixelForPixel()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, whitePercent);
        QRandomGenerator random(quint32(width * 7919 + height * 31 + whitePercent));
        QImage image(width, height, QImage::Format_ARGB32);
        int expectedWhite = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                // Grey values on both sides of the threshold, in runs of random length.
                const bool white = int(random.bounded(100)) < whitePercent;
                const int level = white ? 32 + int(random.bounded(224)) : int(random.bounded(32));
                const QRgb pixel = qRgba(level, white ? 0 : level, 0, int(random.bounded(256)));
                image.setPixel(x, y, pixel);
                expectedWhite += isLit(pixel) ? 1 : 0;
            }
        }

        CrushedBitMap map(&image);
        QCOMPARE(map.whitePixels(), expectedWhite);
        QCOMPARE(map.width(), width);
        QCOMPARE(map.height(), height);

        const QImage back = unpack(map);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QCOMPARE(back.pixel(x, y), isLit(image.pixel(x, y)) ? kWhite : kBlack);
        // Every bit was used: the runs end exactly at the last bit.
        QCOMPARE(map.cursor(), map.bitCount());
    }

    void emptyImage_packsToHeaderAndOneZeroRun_tooLargeRefused()
    {
        QImage empty;
        CrushedBitMap map;
        QVERIFY(map.crushSlice(&empty));
        QCOMPARE(map.bitCount(), qint64(39));
        QCOMPARE(map.bits().count('\0'), map.bits().size());
        QCOMPARE(map.whitePixels(), 0);
        // Wider or taller than 16 bits can count, or no image at all: refused.
        QImage wide = blackImage(65536, 1);
        QVERIFY(!map.crushSlice(&wide));
        QVERIFY(!map.crushSlice(nullptr));
    }

    void unpack_centresAndClipsTheLayer_writesOnlyWhite()
    {
        // A white 6 x 6 layer with one black corner pixel.
        QImage image(6, 6, QImage::Format_ARGB32);
        image.fill(kWhite);
        image.setPixel(0, 0, kBlack);
        CrushedBitMap map(&image);

        // Centred in a larger target of another colour: (10 - 6) / 2 = 2 and (8 - 6) / 2 = 1,
        // and only white is written.
        QImage target(10, 8, QImage::Format_ARGB32_Premultiplied);
        target.fill(0xFF123456u);
        QImage expected = target.copy();
        QPainter(&expected).fillRect(QRect(3, 1, 5, 6), Qt::white);
        QPainter(&expected).fillRect(QRect(2, 2, 1, 5), Qt::white);
        map.inflateSlice(&target, 0, 0, false);
        QCOMPARE(target, expected);

        // A smaller target: clipped around the centre, (4 - 6) / 2 = -1.
        target = blackImage(4, 4);
        map.inflateSlice(&target, 0, 0, false);
        QVERIFY(allPixels(target, kWhite));
    }

    void overlongRun_staysInsideTheLayer()
    {
        // A 2 x 2 layer whose single white run claims 100 pixels, unpacked into a
        // larger target: nothing below the layer's own rows may turn white.
        CrushedBitMap map;
        map.pushBits(2, 16);
        map.pushBits(2, 16);
        map.pushBits(1, 1);
        map.pushBits(7, 5);
        map.pushBits(100, 8);
        QImage target = blackImage(2, 10);
        map.inflateSlice(&target, 0, -4, false); // layer rows land on 0 and 1
        QCOMPARE(target.pixel(1, 1), kWhite);
        QVERIFY(allPixels(target.copy(0, 2, 2, 8), kBlack));
    }
};

QTEST_GUILESS_MAIN(TestJobFile)
#include "tst_jobfile.moc"
