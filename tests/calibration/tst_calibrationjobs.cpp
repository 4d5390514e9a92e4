// The twelve built-in calibration jobs as the program reads them from its resources: their
// header, their layers, and the calibration features measured on their layer images
// (footprints, fit clearances, fit numbers, tier and ring sizes) against what the design
// says the print holds.
#include "calibration.h"
#include "calibrationmodels.h"
#include "crushedprintjob.h"
#include "ssj.h"

#include <QFile>
#include <QImage>
#include <QtTest>

#include <cmath>

using namespace Calibration;

Q_DECLARE_METATYPE(Calibration::Print)

namespace {

double pixelSize(bool printer75)
{
    return printer75 ? 0.075 : 0.1;
}

double modelHeight(Print print)
{
    return print == Print::Tolerance ? kToleranceModelHeight : kDimensionalModelHeight;
}

QSizeF modelSize(Print print)
{
    return print == Print::Tolerance ? toleranceModelSize() : dimensionalModelSize();
}

// One layer image of a loaded job, with the model frame laid over its pixels: the model's
// footprint centre sits at the centre of the job's white bounds.
class Layer
{
public:
    Layer(CrushedPrintJob &job, int layer, bool printer75)
        : m_pixel(pixelSize(printer75))
    {
        CrushedBitMap *map = job.getCBMSlice(layer);
        if (map)
            map->inflateSlice(&m_image, 0, 0, true);
        const QRect bounds = job.whiteBounds();
        m_centreX = (bounds.left() + bounds.right() + 1) / 2.0;
        m_centreY = (bounds.top() + bounds.bottom() + 1) / 2.0;
    }

    bool isNull() const { return m_image.isNull(); }
    bool white(int column, int row) const
    {
        return m_image.valid(column, row) && qRed(m_image.pixel(column, row)) > 127;
    }
    // The pixel whose centre is nearest to a point of the model frame.
    int column(double x) const { return int(std::floor(m_centreX + x / m_pixel)); }
    int row(double y) const { return int(std::floor(m_centreY - y / m_pixel)); }
    // The model-frame point at a pixel's centre.
    QPointF at(int column, int row) const
    {
        return {(column + 0.5 - m_centreX) * m_pixel, (m_centreY - row - 0.5) * m_pixel};
    }
    double pixel() const { return m_pixel; }

    // Black pixels whose centres lie within `radius` of a point, as an area in mm2; with a
    // quadrant (0 to 3, counter-clockwise from +x), only those in it.
    double blackArea(const QPointF &centre, double radius, int quadrant = -1) const
    {
        int black = 0;
        const int reach = int(std::ceil(radius / m_pixel)) + 1;
        for (int r = row(centre.y()) - reach; r <= row(centre.y()) + reach; ++r) {
            for (int c = column(centre.x()) - reach; c <= column(centre.x()) + reach; ++c) {
                const QPointF offset = at(c, r) - centre;
                const int side = offset.y() >= 0 ? (offset.x() >= 0 ? 0 : 1) : (offset.x() < 0 ? 2 : 3);
                if (quadrant >= 0 && side != quadrant)
                    continue;
                if (std::hypot(offset.x(), offset.y()) <= radius && !white(c, r))
                    ++black;
            }
        }
        return black * m_pixel * m_pixel;
    }

    // The runs of one colour along a row (horizontal) or a column through a pixel, as
    // [first, last] pixel indices, in order.
    QVector<QPair<int, int>> runs(int column, int row, bool horizontal, bool ofWhite) const
    {
        QVector<QPair<int, int>> found;
        const int length = horizontal ? m_image.width() : m_image.height();
        int start = -1;
        for (int i = 0; i <= length; ++i) {
            const bool match = i < length && white(horizontal ? i : column, horizontal ? row : i) == ofWhite;
            if (match && start < 0)
                start = i;
            if (!match && start >= 0) {
                found.append({start, i - 1});
                start = -1;
            }
        }
        return found;
    }

    // The run of white pixels through a pixel along a row or a column, in pixels.
    int whiteRunThrough(int column, int row, bool horizontal) const
    {
        for (const auto &run : runs(column, row, horizontal, true)) {
            const int at = horizontal ? column : row;
            if (run.first <= at && at <= run.second)
                return run.second - run.first + 1;
        }
        return 0;
    }

private:
    QImage m_image;
    double m_pixel;
    double m_centreX = 0;
    double m_centreY = 0;
};

// How far a clearance measured on a layer may be from the design, in pixels. The gap's area
// is sampled at pixel centres; with the holes off the pixel corners (as designed) it comes
// within a few microns. A hole on a corner would miss by up to a quarter pixel.
constexpr double kClearanceTolerance = 0.1;

// The layer whose cut lies closest to a height above the platform.
int layerAt(double height, int thickness)
{
    return int(height / (thickness * 0.001));
}

// The clearance a gap's area stands for: the ring between a pin of the design's radius and
// a hole that much larger (both the polygons the model is made of).
double clearanceFromGapArea(double area)
{
    const double polygon = kFitSegments / 2.0 * std::sin(2 * M_PI / kFitSegments);
    const double r = kPinDiameter / 2;
    return std::sqrt(r * r + area / polygon) - r;
}

void addPrinterRows()
{
    QTest::addColumn<bool>("printer75");
    QTest::addColumn<int>("thickness");
    for (int thickness : kLayerThicknesses) {
        for (bool printer75 : {true, false}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 microns, %2").arg(thickness).arg(printer75 ? "75Q" : "100P")))
                << printer75 << thickness;
        }
    }
}

} // namespace

class TestCalibrationJobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Calibration::initResources();
        Calibration::initResources(); // a second call is harmless
    }

    void jobs_loadWithTheirHeaderFootprintAndVolume_data() { addJobRows(); }

    void jobs_loadWithTheirHeaderFootprintAndVolume()
    {
        QFETCH(Print, print);
        QFETCH(bool, printer75);
        QFETCH(int, thickness);
        const QString path = jobResourcePath(print, printer75, thickness);
        QVERIFY2(QFile::exists(path), qPrintable(path));

        CrushedPrintJob job;
        QFile file(path);
        QVERIFY2(job.loadCPJ(&file), qPrintable(job.errorString()));
        QCOMPARE(job.version(), 1);
        QCOMPARE(job.description(),
            printer75 ? QStringLiteral("sliced at 75 microns") : QStringLiteral("sliced at 100 microns"));
        QCOMPARE(job.layerThicknessText(), QString::number(thickness * 0.001, 'g', 6));
        QCOMPARE(job.leadingBlankLayers(), 0);
        QCOMPARE(job.supports().size(), size_t(0));
        QCOMPARE(job.largestWidth(), 1280);
        QCOMPARE(job.largestHeight(), 800);

        const double expectedLayers = modelHeight(print) / (thickness * 0.001);
        const int layers = job.getTotalLayers();
        QVERIFY2(std::abs(layers - expectedLayers) <= 1.0, qPrintable(QStringLiteral("%1 layers").arg(layers)));
        QCOMPARE(job.storedLayers(), layers);
        qint64 total = 0;
        for (int layer = 0; layer < layers; ++layer) {
            const CrushedBitMap *map = job.getCBMSlice(layer);
            QVERIFY(map);
            QCOMPARE(map->width(), 1280);
            QCOMPARE(map->height(), 800);
            QVERIFY2(map->whitePixels() > 0, qPrintable(QStringLiteral("layer %1 is empty").arg(layer)));
            total += map->whitePixels();
        }
        QCOMPARE(job.totalWhitePixels(), total);

        // As the controller reads a job before sending it.
        QVERIFY(SSJ::loadCPJ(path));
        QCOMPARE(SSJ::getLayerThickness(), thickness);
        QCOMPARE(SSJ::getNumImages(), layers);
        SSJ::releaseCPJ();

        // The footprint is the model's size at the printer's pixel, in the middle of the platform,
        // and the layers hold the model's volume.
        const double pixel = pixelSize(printer75);
        const QRect bounds = job.whiteBounds();
        const QSizeF size = modelSize(print);
        QVERIFY2(std::abs(bounds.width() - size.width() / pixel) <= 2.0,
            qPrintable(QStringLiteral("%1 pixels wide").arg(bounds.width())));
        QVERIFY2(std::abs(bounds.height() - size.height() / pixel) <= 2.0,
            qPrintable(QStringLiteral("%1 pixels deep").arg(bounds.height())));
        QVERIFY(std::abs((bounds.left() + bounds.right() + 1) / 2.0 - 640) <= 2.0);
        QVERIFY(std::abs((bounds.top() + bounds.bottom() + 1) / 2.0 - 400) <= 2.0);
        QVERIFY(bounds.left() >= 50 && bounds.right() <= 1229 && bounds.top() >= 50 && bounds.bottom() <= 749);
        const double meshVolumeMm3
            = meshVolume(print == Print::Tolerance ? toleranceModel() : dimensionalAccuracyModel());
        const double sliced = double(job.totalWhitePixels()) * pixel * pixel * thickness * 0.001;
        QVERIFY2(std::abs(sliced - meshVolumeMm3) < 0.01 * meshVolumeMm3,
            qPrintable(QStringLiteral("sliced %1 mm3, model %2 mm3").arg(sliced).arg(meshVolumeMm3)));
    }

    void resourcePaths_nameTheTwelveJobs()
    {
        QCOMPARE(jobResourcePaths().size(), 12); // each of them loaded above
        QCOMPARE(jobResourcePath(Print::Tolerance, false, 75), QString());
    }

    void tolerance_gapsAreTheFitsClearances_widerReliefBelow_data() { addPrinterRows(); }

    void tolerance_gapsAreTheFitsClearances_widerReliefBelow()
    {
        QFETCH(bool, printer75);
        QFETCH(int, thickness);
        CrushedPrintJob job;
        QVERIFY(load(Print::Tolerance, printer75, thickness, job));
        // Half way up the plate, above the relief.
        const Layer layer(job, layerAt((kReliefHeight + kPlateHeight) / 2, thickness), printer75);
        QVERIFY(!layer.isNull());
        double previous = 0;
        for (int fit : fitNumbers()) {
            const double clearance = clearanceForFit(fit);
            // Everything black around the pin, out to well short of the relief's width.
            const double area = layer.blackArea(fitCentre(fit), kPinDiameter / 2 + clearance + 0.25);
            const double measured = clearanceFromGapArea(area);
            QVERIFY2(std::abs(measured - clearance) <= kClearanceTolerance * layer.pixel(),
                qPrintable(QStringLiteral("fit %1: %2 mm instead of %3 mm").arg(fit).arg(measured).arg(clearance)));
            QVERIFY(measured > previous);
            previous = measured;
            // The pin stands in the middle of its hole: the gap is as wide on every side.
            for (int quadrant = 0; quadrant < 4; ++quadrant) {
                const double quarter = layer.blackArea(fitCentre(fit), kPinDiameter / 2 + clearance + 0.25, quadrant);
                QVERIFY2(std::abs(quarter - area / 4) <= 0.15 * area / 4 + 2 * layer.pixel() * layer.pixel(),
                    qPrintable(QStringLiteral("fit %1, quadrant %2: %3 of %4 mm2")
                                   .arg(fit)
                                   .arg(quadrant)
                                   .arg(quarter)
                                   .arg(area)));
            }
        }
        // The lowest layers leave the wider relief round the pins.
        for (int index = 0; index <= layerAt(kReliefHeight, thickness) - 1; ++index) {
            const Layer low(job, index, printer75);
            for (int fit : {1, kReferenceFit, kFitCount}) {
                const double clearance = clearanceForFit(fit) + kReliefClearance;
                const double area = low.blackArea(fitCentre(fit), kPinDiameter / 2 + clearance + 0.25);
                QVERIFY2(std::abs(clearanceFromGapArea(area) - clearance) <= kClearanceTolerance * low.pixel(),
                    qPrintable(
                        QStringLiteral("layer %1, fit %2: %3 mm").arg(index).arg(fit).arg(clearanceFromGapArea(area))));
            }
        }
    }

    void tolerance_pinsStandProud_fitsNumberedByNotches_data() { addPrinterRows(); }

    void tolerance_pinsStandProud_fitsNumberedByNotches()
    {
        QFETCH(bool, printer75);
        QFETCH(int, thickness);
        CrushedPrintJob job;
        QVERIFY(load(Print::Tolerance, printer75, thickness, job));
        const int index = job.getTotalLayers() - 1;
        QVERIFY(index >= layerAt(kPlateHeight, thickness) + 1);
        const Layer layer(job, index, printer75);
        // Only the pins: eight discs, nothing of the plate.
        const double pixelArea = layer.pixel() * layer.pixel();
        const double discs = kFitCount * M_PI * kPinDiameter * kPinDiameter / 4;
        const double white = job.getCBMSlice(index)->whitePixels() * pixelArea;
        QVERIFY2(std::abs(white - discs) < 0.03 * discs, qPrintable(QStringLiteral("%1 mm2").arg(white)));
        for (int fit : fitNumbers()) {
            const double around = M_PI * std::pow(kPinDiameter / 2 + 0.3, 2);
            const double pin = around - layer.blackArea(fitCentre(fit), kPinDiameter / 2 + 0.3);
            QVERIFY2(std::abs(pin - discs / kFitCount) < 0.05 * discs / kFitCount,
                qPrintable(QStringLiteral("pin %1: %2 mm2").arg(fit).arg(pin)));
        }
        // Notches run through the whole plate: look near the bottom and near the top.
        for (double height : {kReliefHeight / 2, kPlateHeight - 0.2}) {
            const Layer plate(job, layerAt(height, thickness), printer75);
            for (int fit : fitNumbers()) {
                const double edge = notchEdgeY(fit);
                const double inwards = edge > 0 ? -1.0 : 1.0;
                const double x = fitCentre(fit).x();
                const int from = plate.column(x - kFitPitchX / 2 + 0.3);
                const int to = plate.column(x + kFitPitchX / 2 - 0.3);
                // Half way into the notches: one black run per notch between white plate.
                const int row = plate.row(edge + inwards * kNotchDepth / 2);
                int notches = 0;
                for (int column = from + 1; column <= to; ++column)
                    notches += plate.white(column - 1, row) && !plate.white(column, row) ? 1 : 0;
                QVERIFY2(notches == fit, qPrintable(QStringLiteral("fit %1 shows %2 notches").arg(fit).arg(notches)));
                // Deeper than the notches, the plate is whole.
                const int beyond = plate.row(edge + inwards * (kNotchDepth + 0.5));
                for (int column = from; column <= to; ++column)
                    QVERIFY(plate.white(column, beyond));
            }
        }
    }

    void dimensional_tiersAndRingMeasureTheirNominalSizes_data() { addPrinterRows(); }

    void dimensional_tiersAndRingMeasureTheirNominalSizes()
    {
        QFETCH(bool, printer75);
        QFETCH(int, thickness);
        CrushedPrintJob job;
        QVERIFY(load(Print::DimensionalAccuracy, printer75, thickness, job));
        const QPointF centre = blockCentre();
        int previousX = 0;
        for (int tier = 0; tier < kTierCount; ++tier) {
            // Above the chamfer on the lowest tier, half way up the others.
            const double height = tier == 0 ? (kChamferSize + kTierHeight) / 2 : (tier + 0.5) * kTierHeight;
            const Layer layer(job, layerAt(height, thickness), printer75);
            const int column = layer.column(centre.x());
            const int row = layer.row(centre.y());
            const int x = layer.whiteRunThrough(column, row, true);
            const int y = layer.whiteRunThrough(column, row, false);
            const TierSize nominal = kTierSizes[size_t(tier)];
            QVERIFY2(std::abs(x - nominal.x / layer.pixel()) <= 1.5,
                qPrintable(QStringLiteral("tier %1: %2 pixels along X").arg(tier).arg(x)));
            QVERIFY2(std::abs(y - nominal.y / layer.pixel()) <= 1.5,
                qPrintable(QStringLiteral("tier %1: %2 pixels along Y").arg(tier).arg(y)));
            // Measured on a perfect print, the sizes ask for no change of scale.
            QVERIFY(std::abs(scaleMultiplier(nominal.x, x * layer.pixel()) - 1.0) <= 1.5 * layer.pixel() / nominal.x);
            QVERIFY(std::abs(scaleMultiplier(nominal.y, y * layer.pixel()) - 1.0) <= 1.5 * layer.pixel() / nominal.y);
            if (tier == 0)
                previousX = x;
        }
        // The chamfer: the lowest layer stands back from the tier's walls.
        const Layer bottom(job, 0, printer75);
        const int inset = previousX - bottom.whiteRunThrough(bottom.column(centre.x()), bottom.row(centre.y()), true);
        const double expected = 2 * (kChamferSize - thickness * 0.0005) / bottom.pixel();
        QVERIFY2(std::abs(inset - expected) <= 2.0, qPrintable(QStringLiteral("%1 pixels narrower").arg(inset)));

        // The ring half way up its height: inner and outer diameters along both axes.
        const Layer ring(job, layerAt(kRingHeight / 2, thickness), printer75);
        const int column = ring.column(ringCentre().x());
        const int row = ring.row(ringCentre().y());
        for (bool horizontal : {true, false}) {
            // Across the ring: white wall, the black hole around the centre, white wall.
            const auto holes = ring.runs(column, row, horizontal, false);
            const int at = horizontal ? column : row;
            int inner = 0;
            int holeFirst = 0;
            int holeLast = 0;
            for (const auto &run : holes) {
                if (run.first <= at && at <= run.second) {
                    inner = run.second - run.first + 1;
                    holeFirst = run.first;
                    holeLast = run.second;
                }
            }
            const int before = horizontal ? ring.whiteRunThrough(holeFirst - 1, row, true)
                                          : ring.whiteRunThrough(column, holeFirst - 1, false);
            const int after = horizontal ? ring.whiteRunThrough(holeLast + 1, row, true)
                                         : ring.whiteRunThrough(column, holeLast + 1, false);
            const int outer = before + inner + after;
            const QString axis = horizontal ? QStringLiteral("X") : QStringLiteral("Y");
            QVERIFY2(std::abs(inner - kRingInnerDiameter / ring.pixel()) <= 1.5,
                qPrintable(QStringLiteral("inner %1 pixels along %2").arg(inner).arg(axis)));
            QVERIFY2(std::abs(outer - kRingOuterDiameter / ring.pixel()) <= 1.5,
                qPrintable(QStringLiteral("outer %1 pixels along %2").arg(outer).arg(axis)));
            const double multiplier = ringScaleMultiplier(outer * ring.pixel(), inner * ring.pixel());
            QVERIFY(std::abs(multiplier - 1.0) <= 1.5 * ring.pixel() / kRingInnerDiameter);
            QVERIFY(std::abs(ringBleed(outer * ring.pixel(), inner * ring.pixel())) <= ring.pixel());
        }
    }

private:
    void addJobRows()
    {
        QTest::addColumn<Print>("print");
        QTest::addColumn<bool>("printer75");
        QTest::addColumn<int>("thickness");
        for (Print print : {Print::Tolerance, Print::DimensionalAccuracy}) {
            for (int thickness : kLayerThicknesses) {
                for (bool printer75 : {true, false}) {
                    const QString name = jobResourcePath(print, printer75, thickness).section(QLatin1Char('/'), -1);
                    QTest::newRow(qPrintable(name)) << print << printer75 << thickness;
                }
            }
        }
    }

    bool load(Print print, bool printer75, int thickness, CrushedPrintJob &job)
    {
        QFile file(jobResourcePath(print, printer75, thickness));
        return job.loadCPJ(&file);
    }
};

QTEST_GUILESS_MAIN(TestCalibrationJobs)
#include "tst_calibrationjobs.moc"
