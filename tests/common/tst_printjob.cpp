#include "printjob.h"

#include <QtTest>

#include <limits>

namespace {

PrintJob exampleJob()
{
    PrintJob job;
    job.numAdhesionLayers = 5;
    job.adhesionLayerCureTime = 30.0;
    job.cureTime = 8.0;
    job.layerThickness = 100;
    job.adhesionThickness = 100;
    job.numImages = 100;
    job.resinName = QStringLiteral("Clear");
    return job;
}

} // namespace

// The print job line between desktop and printer, and the times derived from
// a job on either side.
class TestPrintJob : public QObject
{
    Q_OBJECT

private slots:
    void fineTuneFactor_isClampedToRange_neverScalesAdhesionLayers()
    {
        PrintJob job;
        job.cureTime = 10.0;
        for (const auto &factorAndSeconds : {QPair<double, double> {0.5, 7.0}, {1.1, 11.0}, {1.5, 13.0}}) {
            job.fineTuneFactor = factorAndSeconds.first;
            QCOMPARE(job.getFineTuneFactorCureTime(), factorAndSeconds.second);
        }

        // All layers are adhesion layers: only their cure time and the movement count.
        job = exampleJob();
        job.numAdhesionLayers = job.numImages;
        QCOMPARE(job.printerTotalMinutes(), 66); // (100 * 30 + 100 * 10) / 60
        job.fineTuneFactor = 1.3;
        QCOMPARE(job.printerTotalMinutes(), 66);
    }

    void totalTimes_hundredLayerJob_clampOnlyOnPrinter_absurdValuesGiveZero()
    {
        PrintJob job = exampleJob();
        QCOMPARE(job.printerTotalMinutes(), 31); // (150 + 760 + 1000) / 60 = 31.8
        QCOMPARE(job.desktopEstimateMinutes(), 29); // (760 + 150 + 875) / 60 = 29.75

        job.fineTuneFactor = 2.0;
        QCOMPARE(job.printerTotalMinutes(), 35); // 5 * 30 + 95 * 8 * 1.3 + 100 * 10 = 2138 s
        QCOMPARE(job.desktopEstimateMinutes(), 42); // 2.0 * 8 * 95 + 5 * 30 + 100 * 8.75 = 2545 s

        job.cureTime = 1e300;
        job.numImages = std::numeric_limits<int>::max();
        job.numAdhesionLayers = std::numeric_limits<int>::min();
        QCOMPARE(job.printerTotalMinutes(), 0);
        QCOMPARE(job.desktopEstimateMinutes(), 0);
    }

    void exampleLine_setsEveryField()
    {
        PrintJob job;
        job.setFromString(QStringLiteral("Status_SendingPrintJob,5,27.25,8,100,50,120,Tough Grey,1.01,0.99,1.15"));
        QCOMPARE(job.numAdhesionLayers, 5);
        QCOMPARE(job.adhesionLayerCureTime, 27.25);
        QCOMPARE(job.cureTime, 8.0);
        QCOMPARE(job.layerThickness, 100);
        QCOMPARE(job.adhesionThickness, 50);
        QCOMPARE(job.numImages, 120);
        QCOMPARE(job.resinName, QStringLiteral("Tough Grey"));
        QCOMPARE(job.scaleX, 1.01);
        QCOMPARE(job.scaleY, 0.99);
        QCOMPARE(job.fineTuneFactor, 1.15);
    }

    void exampleRecord_toString_givesTenElements_doublesWithSixDigits()
    {
        PrintJob job = exampleJob();
        QCOMPARE(job.toString(), QStringLiteral("5,30,8,100,100,100,Clear,1,1,1"));
        job.layerThickness = 50;
        job.numImages = 120;
        job.cureTime = 1.23456789;
        job.scaleY = 0.000012;
        QCOMPARE(job.toString(), QStringLiteral("5,30,1.23457,50,100,120,Clear,1,1.2e-05,1"));
    }

    void unconvertibleOrMissingElements_readAsZero()
    {
        PrintJob job;
        job.setFromString(QStringLiteral("Kw,five,,8s,1e2,0x10,7.5,,nan,inf,-"));
        QCOMPARE(job.numAdhesionLayers, 0);
        QCOMPARE(job.adhesionLayerCureTime, 0.0);
        QCOMPARE(job.cureTime, 0.0);
        QCOMPARE(job.layerThickness, 0); // integers are decimal only
        QCOMPARE(job.adhesionThickness, 0);
        QCOMPARE(job.numImages, 0);
        QCOMPARE(job.resinName, QString());
        // Non-finite numbers would reach timers and image sizes; they read as 0.
        QCOMPARE(job.scaleX, 0.0);
        QCOMPARE(job.scaleY, 0.0);
        QCOMPARE(job.fineTuneFactor, 0.0);

        // A short line: what is there is read, the rest is 0.
        for (const auto &line :
            {QStringLiteral(""), QStringLiteral("Kw,5,30,8"), QStringLiteral("Kw,5,30,8,100,100,100,Clear,1.5,1")}) {
            job = exampleJob();
            job.setFromString(line);
            QCOMPARE(job.numAdhesionLayers, line.isEmpty() ? 0 : 5);
            QCOMPARE(job.scaleX, line.endsWith(QLatin1String(",1")) ? 1.5 : 0.0);
            QCOMPARE(job.fineTuneFactor, 0.0);
        }
    }

    void isCompleteLine_needsKeywordAndTenFields()
    {
        QVERIFY(PrintJob::isCompleteLine(QStringLiteral("Kw,5,30,8,100,100,100,Clear,1,1,1")));
        QVERIFY(PrintJob::isCompleteLine(QStringLiteral("Kw,,,,,,,,,,"))); // empty fields count
        QVERIFY(!PrintJob::isCompleteLine(exampleJob().toString())); // no keyword
        QVERIFY(!PrintJob::isCompleteLine(QString()));
    }

    void lineProblem_refusesNonsenseValues_data()
    {
        // One element of a good line replaced, and whether the line is refused then.
        QTest::addColumn<int>("element");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("refused");
        static const struct {
            int element;
            const char *text;
            bool refused;
        } rows[] = {{8, "0.5", false}, {9, "2", false}, {3, "600", false}, {2, "0", false}, {10, "5", false},
            {4, "1", false}, {5, "1000", false}, {8, "0", true}, {9, "-1", true}, {8, "2.01", true}, {8, "inf", true},
            {9, "one", true}, {3, "0", true}, {3, "600.5", true}, {3, "nan", true}, {2, "-1", true}, {2, "3600", true},
            {6, "0", true}, {6, "3000000000", true}, {1, "3000000000", true}, {1, "-2", true}, {4, "0", true},
            {5, "1001", true}, {4, "50.5", true}, {10, "0", true}, {10, "", true}};
        for (const auto &row : rows)
            QTest::addRow("element %d = '%s'", row.element, row.text)
                << row.element << QString::fromLatin1(row.text) << row.refused;
    }

    void lineProblem_refusesNonsenseValues()
    {
        QFETCH(int, element);
        QFETCH(QString, text);
        QFETCH(bool, refused);
        QStringList parts = QStringLiteral("Kw,5,30,8,100,100,100,Clear,1,1,1").split(',');
        parts[element] = text;
        QCOMPARE(PrintJob::lineProblem(parts.join(',')).isEmpty(), !refused);
        PrintJob job; // a record the desktop fills is judged alike
        job.setFromString(parts.join(','));
        QVERIFY(refused || job.problem().isEmpty());
        QVERIFY(!PrintJob::lineProblem(QStringLiteral("Kw,5,30,8")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPrintJob)
#include "tst_printjob.moc"
