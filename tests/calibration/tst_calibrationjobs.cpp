// The twelve built-in calibration jobs as the program reads them from its resources: their
// header, their layers, footprint and volume, and the fit clearances measured on their layer
// images against the design. (The other features follow from the meshes, checked against
// the design in tst_calibrationmodels, and from the slicer's exactness.)
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
    double pixel() const { return m_pixel; }

    // Black pixels whose centres lie within `radius` of a point of the model frame, as an
    // area in mm2; with a quadrant (0 to 3, counter-clockwise from +x), only those in it.
    double blackArea(const QPointF &centre, double radius, int quadrant = -1) const
    {
        int black = 0;
        const int reach = int(std::ceil(radius / m_pixel)) + 1;
        const int column = int(std::floor(m_centreX + centre.x() / m_pixel));
        const int row = int(std::floor(m_centreY - centre.y() / m_pixel));
        for (int r = row - reach; r <= row + reach; ++r) {
            for (int c = column - reach; c <= column + reach; ++c) {
                // From the point to the pixel's centre.
                const QPointF offset(
                    (c + 0.5 - m_centreX) * m_pixel - centre.x(), (m_centreY - r - 0.5) * m_pixel - centre.y());
                const int side = offset.y() >= 0 ? (offset.x() >= 0 ? 0 : 1) : (offset.x() < 0 ? 2 : 3);
                if (quadrant >= 0 && side != quadrant)
                    continue;
                const bool white = m_image.valid(c, r) && qRed(m_image.pixel(c, r)) > 127;
                if (std::hypot(offset.x(), offset.y()) <= radius && !white)
                    ++black;
            }
        }
        return black * m_pixel * m_pixel;
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

} // namespace

class TestCalibrationJobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Calibration::initResources();
        Calibration::initResources(); // a second call is harmless
        // The twelve jobs, each loaded below.
        QCOMPARE(jobResourcePaths().size(), 12);
        QCOMPARE(jobResourcePath(Print::Tolerance, false, 75), QString());
    }

    void jobs_loadWithTheirHeaderFootprintAndVolume_data()
    {
        addJobRows({Print::Tolerance, Print::DimensionalAccuracy});
    }

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
        for (int layer = 0; layer < layers; ++layer) {
            const CrushedBitMap *map = job.getCBMSlice(layer);
            QVERIFY2(map && map->whitePixels() > 0, qPrintable(QStringLiteral("layer %1 is empty").arg(layer)));
        }

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

    void tolerance_gapsAreTheFitsClearances_pinsCentred_data() { addJobRows({Print::Tolerance}); }

    void tolerance_gapsAreTheFitsClearances_pinsCentred()
    {
        QFETCH(bool, printer75);
        QFETCH(int, thickness);
        CrushedPrintJob job;
        QFile file(jobResourcePath(Print::Tolerance, printer75, thickness));
        QVERIFY(job.loadCPJ(&file));
        // Half way up the plate, above the relief (the relief is in the mesh's volume).
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
    }

private:
    void addJobRows(const QList<Print> &prints)
    {
        QTest::addColumn<Print>("print");
        QTest::addColumn<bool>("printer75");
        QTest::addColumn<int>("thickness");
        for (Print print : prints) {
            for (int thickness : kLayerThicknesses) {
                for (bool printer75 : {true, false}) {
                    const QString name = jobResourcePath(print, printer75, thickness).section(QLatin1Char('/'), -1);
                    QTest::newRow(qPrintable(name)) << print << printer75 << thickness;
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCalibrationJobs)
#include "tst_calibrationjobs.moc"
