// The twelve built-in calibration jobs as the program reads them from its resources: their
// header, their layers, footprint and volume. (Their features follow from the meshes,
// checked against the design in tst_calibrationmodels, and from the slicer's exactness.)
#include "calibration.h"
#include "calibrationmodels.h"
#include "crushedprintjob.h"
#include "ssj.h"

#include <QFile>
#include <QtTest>

#include <cmath>

using namespace Calibration;

Q_DECLARE_METATYPE(Calibration::Print)

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

        const bool tolerance = print == Print::Tolerance;
        const double height = tolerance ? kToleranceModelHeight : kDimensionalModelHeight;
        const double expectedLayers = height / (thickness * 0.001);
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
        const double pixel = printer75 ? 0.075 : 0.1;
        const QRect bounds = job.whiteBounds();
        const QSizeF size = tolerance ? toleranceModelSize() : dimensionalModelSize();
        QVERIFY2(std::abs(bounds.width() - size.width() / pixel) <= 2.0,
            qPrintable(QStringLiteral("%1 pixels wide").arg(bounds.width())));
        QVERIFY2(std::abs(bounds.height() - size.height() / pixel) <= 2.0,
            qPrintable(QStringLiteral("%1 pixels deep").arg(bounds.height())));
        QVERIFY(std::abs((bounds.left() + bounds.right() + 1) / 2.0 - 640) <= 2.0);
        QVERIFY(std::abs((bounds.top() + bounds.bottom() + 1) / 2.0 - 400) <= 2.0);
        QVERIFY(bounds.left() >= 50 && bounds.right() <= 1229 && bounds.top() >= 50 && bounds.bottom() <= 749);
        const double meshVolumeMm3 = meshVolume(tolerance ? toleranceModel() : dimensionalAccuracyModel());
        const double sliced = double(job.totalWhitePixels()) * pixel * pixel * thickness * 0.001;
        QVERIFY2(std::abs(sliced - meshVolumeMm3) < 0.01 * meshVolumeMm3,
            qPrintable(QStringLiteral("sliced %1 mm3, model %2 mm3").arg(sliced).arg(meshVolumeMm3)));
    }
};

QTEST_GUILESS_MAIN(TestCalibrationJobs)
#include "tst_calibrationjobs.moc"
