// Packing and unpacking of black-and-white layers. (The worked example of the format is
// checked byte for byte in the job file's layout, tst_jobfile.)
#include "crushedbitmap.h"
#include "testimages.h"

#include <QBuffer>
#include <QDataStream>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

class TestCrushedBitMap : public QObject
{
    Q_OBJECT

private slots:
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
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                QCOMPARE(target.pixel(x, y), kWhite);
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
        for (int y = 2; y < 10; ++y)
            QCOMPARE(target.pixel(0, y), kBlack);
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

QTEST_GUILESS_MAIN(TestCrushedBitMap)
#include "tst_crushedbitmap.moc"
