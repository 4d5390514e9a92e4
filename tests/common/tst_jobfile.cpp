// Job files: the packing of their layers, layout on disk, reading damaged files, layer
// lookup, supports and the holder of the loaded job.
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

// The bits of a map as a string of '0' and '1', in stream order.
QString bitString(const CrushedBitMap &map)
{
    QString bits;
    const auto *bytes = reinterpret_cast<const uchar *>(map.bits().constData());
    for (qint64 i = 0; i < map.bitCount(); ++i)
        bits += ((bytes[i >> 3] >> (i & 7)) & 1) ? QLatin1Char('1') : QLatin1Char('0');
    return bits;
}

bool isWhiteByRule(QRgb pixel)
{
    return qRed(pixel) >= 32 || qGreen(pixel) >= 32 || qBlue(pixel) >= 32;
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
        QTest::newRow("0") << QStringLiteral("0") << false;
        QTest::newRow("text") << QStringLiteral("SSJ") << false;
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
        QCOMPARE(SSJ::getImageList().size(), 13);
    }

    void everyTruncation_failsCleanly()
    {
        // Hundreds of refusals; their log lines are expected.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const auto restoreLog = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
        for (int version : {1, 3}) {
            CrushedPrintJob job;
            job.setVersion(version);
            job.clearAll(0);
            for (int i = 0; i < 2; ++i) {
                QImage layer = blackImage(16, 8);
                QPainter(&layer).fillRect(QRect(2 + i, 2, 5, 3), Qt::white);
                QVERIFY(version == 1 ? job.addImage(&layer) : job.addAntiImage(&layer));
            }
            job.addSupportRecord(SimpleSupport(1, 1, SupportCircle, 3, 0, 1));
            job.setTexts({QStringLiteral("text")});
            const QByteArray bytes = bytesOf(job);

            // Only the whole file, and the file that ends after its supports (without
            // its optional text list), are complete.
            const int withoutTexts = bytes.size() - 4 - streamString(QStringLiteral("text")).size();
            for (int size = 0; size < bytes.size(); ++size) {
                CrushedPrintJob loaded;
                const bool ok = readBytes(loaded, bytes.left(size));
                QVERIFY2(ok == (size == withoutTexts),
                    qPrintable(QStringLiteral("version %1 cut at %2 of %3").arg(version).arg(size).arg(bytes.size())));
                if (!ok)
                    QVERIFY(!loaded.errorString().isEmpty());
            }
            CrushedPrintJob loaded;
            QVERIFY(readBytes(loaded, bytes));
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

        // With a shift, and through the map itself.
        QImage shifted = blackImage(8, 6);
        SSJ::m_pJob->getCBMSliceAnti(1)->inflateSlice(&shifted, 2, 3, false);
        QCOMPARE(qGray(shifted.pixel(2 + 3, 3)), 128);
        QVERIFY(SSJ::m_pJob->getCBMSliceAnti(1)->isWhitePixel(QPoint(1, 0)));
        QVERIFY(!SSJ::m_pJob->getCBMSliceAnti(1)->isWhitePixel(QPoint(0, 0)));

        // A record whose PNG does not decode draws nothing.
        QByteArray garbage("not a png");
        QImage target = blackImage(4, 4);
        CrushedAntiBitMap::ByteArrayToAntiImage(&target, 0, 0, &garbage);
        QVERIFY(allPixels(target, kBlack));
    }

    void greyLayers_storeAsGreyPngAndAddLikePlusComposition()
    {
        QRandomGenerator random(11);
        QImage grey(37, 21, QImage::Format_RGB32);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x) {
                const int level = int(random.bounded(256));
                grey.setPixel(x, y, qRgb(level, level, level));
            }
        QImage coloured = grey;
        coloured.setPixel(0, 0, qRgb(10, 200, 30));

        CrushedAntiBitMap greyMap(&grey);
        CrushedAntiBitMap colouredMap(&coloured);
        QCOMPARE(CrushedAntiBitMap::decodePng(greyMap.png()).format(), QImage::Format_Grayscale8);
        QVERIFY(CrushedAntiBitMap::decodePng(colouredMap.png()).format() != QImage::Format_Grayscale8);

        // Onto a target that is not black, shifted partly off its edges: the grey
        // layer's own addition and QPainter's Plus must agree, saturation included.
        QByteArray rgbPng;
        {
            QBuffer buffer(&rgbPng);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(grey.save(&buffer, "PNG"));
        }
        for (const QPoint shift : {QPoint(0, 0), QPoint(-5, 3), QPoint(20, -4)}) {
            for (const QImage::Format format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32}) {
                QImage fast(30, 25, format);
                fast.fill(qRgb(100, 50, 200));
                QImage painted = fast;
                QByteArray greyPng = greyMap.png();
                CrushedAntiBitMap::ByteArrayToAntiImage(&fast, shift.x(), shift.y(), &greyPng);
                CrushedAntiBitMap::ByteArrayToAntiImage(&painted, shift.x(), shift.y(), &rgbPng);
                QCOMPARE(fast, painted);
            }
        }
    }

    void whiteTotals_sumStoredLayersInRange()
    {
        CrushedPrintJob job = squareJob(4); // 48 white pixels a layer
        job.setLeadingBlankLayers(5);
        QCOMPARE(job.getTotalWhitePixels(0, 3), qint64(4 * 48));
        QCOMPARE(job.getTotalWhitePixels(1, 2), qint64(2 * 48));
        QCOMPARE(job.getTotalWhitePixels(-10, 100), qint64(4 * 48));
        QCOMPARE(job.getTotalWhitePixels(3, 1), qint64(0));
    }

    void crushCurrentSlice_repacksAndUpdatesTotals()
    {
        CrushedPrintJob job = squareJob(3);
        job.setLeadingBlankLayers(1);
        QImage empty = blackImage(64, 40);
        job.setCurrentLayer(0);
        QVERIFY(!job.crushCurrentSlice(&empty)); // a leading blank layer has nothing to re-pack
        job.setCurrentLayer(2);
        QVERIFY(job.crushCurrentSlice(&empty));
        QCOMPARE(job.totalWhitePixels(), qint64(2 * 48));
        QVERIFY(!job.isWhitePixel(QPoint(11, 5), 2));
        job.setCurrentLayer(4);
        QVERIFY(!job.crushCurrentSlice(&empty));
    }

    void supports_addSearchesDownAndDeleteTakesNearest()
    {
        // Layer i has its square at x = 10 + i; the point (10, 6) is white only in
        // stored layer 0.
        CrushedPrintJob job = squareJob(6);
        job.setLeadingBlankLayers(2);

        QVERIFY(job.AddSupport(6, QPoint(10, 6), 5, SupportSquare, 0));
        QCOMPARE(job.supports().back().top, 4);
        QCOMPARE(job.supports().back().bottom, -2);

        QVERIFY(job.AddSupport(7, QPoint(10, 6), 5, SupportCircle, 1));
        QCOMPARE(job.supports().back().top, 5);
        QCOMPARE(job.supports().back().bottom, 0); // found white in absolute layer 2

        QVERIFY(job.AddSupport(7, QPoint(60, 30), 5, SupportCircle, 1));
        QCOMPARE(job.supports().back().bottom, -2); // nothing below: down to the platform

        // Delete: the nearest support within range of the layer and the distance.
        QVERIFY(!job.DeleteSupport(6, QPoint(40, 30), 5)); // nearest is 20 pixels away
        QCOMPARE(job.supports().size(), size_t(3));
        QVERIFY(job.DeleteSupport(6, QPoint(58, 30), 5));
        QCOMPARE(job.supports().size(), size_t(2));
        QVERIFY(!job.DeleteSupport(20, QPoint(10, 6), 5)); // no support reaches that layer
        QVERIFY(job.DeleteSupport(7, QPoint(10, 7), 3));
        QCOMPARE(job.supports().size(), size_t(1));
    }

    void overlay_drawsBaseLayersAndSupportsOnlyWhenOn()
    {
        CrushedPrintJob job = squareJob(4);
        job.setBaseLayers(1);
        job.addSupportRecord(SimpleSupport(50, 30, SupportSquare, 4, 2, 3));

        const auto draw = [&job](int layer) {
            QImage image = blackImage(64, 40);
            job.setCurrentLayer(layer);
            job.inflateCurrentSlice(&image, 0, 0, false);
            return image;
        };
        // Off (as on the printer): layers only.
        QCOMPARE(draw(0).pixel(20, 9), kBlack);
        QCOMPARE(draw(2).pixel(50, 30), kBlack);

        job.setOverlay(true);
        const QImage base = draw(0);
        QCOMPARE(base.pixel(20, 9), kWhite); // inside the job's white bounds
        QCOMPARE(base.pixel(50, 30), kBlack); // supports are not drawn on base layers
        QCOMPARE(draw(1).pixel(50, 30), kBlack);
        QCOMPARE(draw(2).pixel(50, 30), kWhite);
        QCOMPARE(draw(3).pixel(50, 30), kWhite);
        QCOMPARE(draw(2).pixel(20, 9), kBlack);
    }

    void holder_reportsThicknessInMicronsAndInfo_emptyWithoutJob()
    {
        // 20, 50 and 100 microns are read from the calibration jobs (tst_calibrationjobs).
        CrushedPrintJob job = squareJob(3);
        job.setLayerThickness(0.035);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("t.ssj")));
        QVERIFY(job.saveCPJ(&file));
        QVERIFY(SSJ::loadCPJ(file.fileName()));
        QCOMPARE(SSJ::getLayerThickness(), 35);
        QCOMPARE(SSJ::getCPJInfo(), QStringList({QStringLiteral("0.035"), QStringLiteral("3")}));

        // Without a job every answer is empty, and a failed load loads none.
        SSJ::releaseCPJ();
        QVERIFY(SSJ::getOneImage(0).isNull());
        QVERIFY(SSJ::getCPJInfo().isEmpty());
        QCOMPARE(SSJ::getLayerThickness(), 0);
        QVERIFY(!SSJ::loadCPJ(QStringLiteral("/nonexistent/job.ssj")));
        QCOMPARE(SSJ::getNumImages(), 0);
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
                expectedWhite += isWhiteByRule(pixel) ? 1 : 0;
            }
        }

        CrushedBitMap map(&image);
        QCOMPARE(map.whitePixels(), expectedWhite);
        QCOMPARE(map.width(), width);
        QCOMPARE(map.height(), height);

        const QImage back = unpack(map);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                QCOMPARE(back.pixel(x, y), isWhiteByRule(image.pixel(x, y)) ? kWhite : kBlack);
        // Every bit was used: the runs end exactly at the last bit.
        QCOMPARE(map.cursor(), map.bitCount());
    }

    void emptyImage_packsToHeaderAndOneZeroRun_tooLargeRefused()
    {
        QImage empty;
        CrushedBitMap map;
        QVERIFY(map.crushSlice(&empty));
        QCOMPARE(map.bitCount(), qint64(39));
        QCOMPARE(bitString(map), QString(39, QLatin1Char('0')));
        QCOMPARE(map.whitePixels(), 0);
        // Wider or taller than 16 bits can count, or no image at all: refused.
        QImage wide = blackImage(65536, 1);
        QVERIFY(!map.crushSlice(&wide));
        QVERIFY(!map.crushSlice(nullptr));
    }

    void unpack_centresClipsAndShiftsTheLayer_writesOnlyWhite()
    {
        // A white 6 x 6 layer with one black corner pixel.
        QImage image(6, 6, QImage::Format_ARGB32);
        image.fill(kWhite);
        image.setPixel(0, 0, kBlack);
        CrushedBitMap map(&image);

        // Centred in a larger target: (10 - 6) / 2 = 2 and (8 - 6) / 2 = 1; then shifted.
        QImage target = blackImage(10, 8);
        map.inflateSlice(&target, 0, 0, false);
        QCOMPARE(map.offset(), QPoint(2, 1));
        QImage expected = blackImage(10, 8);
        QPainter(&expected).fillRect(QRect(2, 1, 6, 6), Qt::white);
        expected.setPixel(2, 1, kBlack);
        QCOMPARE(target, expected);
        target = blackImage(10, 8);
        map.inflateSlice(&target, -3, 1, false);
        QCOMPARE(map.offset(), QPoint(-1, 2));
        QCOMPARE(target.pixel(4, 7), kWhite);
        QCOMPARE(target.pixel(5, 7), kBlack);

        // A smaller target of another colour: clipped, and only white is written.
        // Offset (4 - 6) / 2 = -1: layer pixel (1, 1) lands on (0, 0).
        target = QImage(4, 4, QImage::Format_ARGB32_Premultiplied);
        target.fill(0xFF123456u);
        map.inflateSlice(&target, 0, 0, false);
        QVERIFY(allPixels(target, kWhite));
        target.fill(0xFF123456u);
        map.inflateSlice(&target, 1, 1, false);
        QCOMPARE(target.pixel(0, 0), 0xFF123456u); // the black corner pixel is not written
        QCOMPARE(target.pixel(1, 1), kWhite);

        // Targets of other pixel formats take the same pixels.
        QImage rgb888(6, 6, QImage::Format_RGB888);
        rgb888.fill(Qt::black);
        map.inflateSlice(&rgb888, 0, 0, false);
        QCOMPARE(rgb888.pixel(0, 0), kBlack);
        QCOMPARE(rgb888.pixel(5, 5), kWhite);
    }

    void truncatedBits_unpackUpToLastCompleteRun()
    {
        // A 4 x 2 layer: white 3, black 2, white 3. Its record is cut inside the
        // last run; the first two runs still unpack, the rest stays black.
        QImage image = blackImage(4, 2);
        for (int i : {0, 1, 2, 5, 6, 7})
            image.setPixel(i % 4, i / 4, kWhite);
        CrushedBitMap full(&image);
        const qint64 lastRunStart = full.bitCount() - (5 + 2 + 1); // a run of 3 takes a key of 2

        CrushedBitMap cut;
        const QString bits = bitString(full).left(int(lastRunStart + 4));
        for (QChar bit : bits)
            cut.pushBits(bit == QLatin1Char('1') ? 1 : 0, 1);

        QImage target = blackImage(4, 2);
        cut.inflateSlice(&target, 0, 0, false);
        QCOMPARE(target.pixel(0, 0), kWhite);
        QCOMPARE(target.pixel(2, 0), kWhite);
        QCOMPARE(target.pixel(3, 0), kBlack);
        QCOMPARE(target.pixel(1, 1), kBlack);
        QCOMPARE(target.pixel(3, 1), kBlack);
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

    void isWhitePixel_usesPlacementOfLastUnpacking()
    {
        QImage image = blackImage(4, 2);
        image.setPixel(1, 1, kWhite);
        CrushedBitMap map(&image);
        QVERIFY(map.isWhitePixel(QPoint(1, 1)));
        QVERIFY(!map.isWhitePixel(QPoint(0, 0)));
        QVERIFY(!map.isWhitePixel(QPoint(40, 40)));

        QImage target = blackImage(8, 6);
        map.inflateSlice(&target, 0, 0, false); // offset (2, 2)
        QVERIFY(map.isWhitePixel(QPoint(3, 3)));
        QVERIFY(!map.isWhitePixel(QPoint(1, 1)));
    }

    void record_streamsAndReloadsFromItsOwnFile()
    {
        QImage image = blackImage(40, 30);
        QPainter(&image).fillRect(QRect(5, 6, 10, 12), Qt::white);
        CrushedBitMap map(&image);
        QCOMPARE(map.whiteBounds(), QRect(5, 6, 10, 12));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("layer.cbm"));
        QVERIFY(map.saveCrushedBitMap(path));
        CrushedBitMap loaded;
        QVERIFY(loaded.loadCrushedBitMap(path));
        QCOMPARE(loaded.whitePixels(), 120);
        QCOMPARE(loaded.whiteBounds(), map.whiteBounds());
        QCOMPARE(unpack(loaded), unpack(map));
        QVERIFY(!loaded.loadCrushedBitMap(dir.filePath(QStringLiteral("missing"))));
    }

    void record_cutShort_failsWithoutAllocatingItsDeclaredLength()
    {
        QByteArray record;
        QDataStream out(&record, QIODevice::WriteOnly);
        out << qint32(5) << qint32(0) << qint32(0) << qint32(1) << qint32(1) << quint32(0xFFFFFFF0u);
        record.append("\x00\x20", 2);

        QBuffer buffer(&record);
        buffer.open(QIODevice::ReadOnly);
        QDataStream in(&buffer);
        CrushedBitMap map;
        QVERIFY(!map.streamInCMB(&in));
        QCOMPARE(map.bits().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestJobFile)
#include "tst_jobfile.moc"
