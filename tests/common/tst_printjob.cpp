#include "printjob.h"

#include <QtTest>

#include <limits>

// The print job line between desktop and printer, and the times derived from
// a job on either side.
class TestPrintJob : public QObject
{
    Q_OBJECT

private slots:
    // Fine-tuned cure time
    void fineTuneFactor_isClampedToRange_data();
    void fineTuneFactor_isClampedToRange();
    void fineTuneFactor_neverScalesAdhesionLayers();

    // Total time, printer rule and desktop estimate
    void hundredLayerJob_printer31Minutes_desktop29Minutes();
    void totalTimes_clampOnlyOnPrinter();
    void totalTimes_absurdValues_giveZeroInsteadOfOverflow();

    // Text form
    void exampleLine_setsEveryField();
    void exampleRecord_toString_givesTenElements();
    void toString_doubles_sixSignificantDigits_data();
    void toString_doubles_sixSignificantDigits();
    void toStringThenSetFromString_keepsEveryField();
    void unconvertibleElements_readAsZero();
    void shortLine_readsMissingElementsAsZero_data();
    void shortLine_readsMissingElementsAsZero();
    void isCompleteLine_needsKeywordAndTenFields_data();
    void isCompleteLine_needsKeywordAndTenFields();

    // Log
    void printInfo_writesOneLineWithEveryField();
};

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

void TestPrintJob::fineTuneFactor_isClampedToRange_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("expectedSeconds");
    QTest::newRow("0.5 below range, clamped to 0.7") << 0.5 << 7.0;
    QTest::newRow("0.7 lower bound") << 0.7 << 7.0;
    QTest::newRow("1.1 inside range") << 1.1 << 11.0;
    QTest::newRow("1.3 upper bound") << 1.3 << 13.0;
    QTest::newRow("1.5 above range, clamped to 1.3") << 1.5 << 13.0;
}

void TestPrintJob::fineTuneFactor_isClampedToRange()
{
    QFETCH(double, factor);
    QFETCH(double, expectedSeconds);
    PrintJob job;
    job.cureTime = 10.0;
    job.fineTuneFactor = factor;
    QCOMPARE(job.getFineTuneFactorCureTime(), expectedSeconds);
}

void TestPrintJob::fineTuneFactor_neverScalesAdhesionLayers()
{
    // All layers are adhesion layers: only their cure time and the movement count.
    PrintJob job = exampleJob();
    job.numAdhesionLayers = job.numImages;
    const int withFactorOne = job.printerTotalMinutes();
    job.fineTuneFactor = 1.3;
    QCOMPARE(job.printerTotalMinutes(), withFactorOne);
    QCOMPARE(withFactorOne, (100 * 30 + 100 * 10) / 60);
}

void TestPrintJob::hundredLayerJob_printer31Minutes_desktop29Minutes()
{
    const PrintJob job = exampleJob();
    QCOMPARE(job.printerTotalMinutes(), 31); // (150 + 760 + 1000) / 60 = 31.8
    QCOMPARE(job.desktopEstimateMinutes(), 29); // (760 + 150 + 875) / 60 = 29.75
}

void TestPrintJob::totalTimes_clampOnlyOnPrinter()
{
    PrintJob job = exampleJob();
    job.fineTuneFactor = 2.0;
    // Printer: 5 * 30 + 95 * 8 * 1.3 + 100 * 10 = 2138 s
    QCOMPARE(job.printerTotalMinutes(), 35);
    // Desktop: 2.0 * 8 * 95 + 5 * 30 + 100 * 8.75 = 2545 s
    QCOMPARE(job.desktopEstimateMinutes(), 42);
}

void TestPrintJob::totalTimes_absurdValues_giveZeroInsteadOfOverflow()
{
    PrintJob job = exampleJob();
    job.cureTime = 1e300;
    job.numImages = std::numeric_limits<int>::max();
    job.numAdhesionLayers = std::numeric_limits<int>::min();
    QCOMPARE(job.printerTotalMinutes(), 0);
    QCOMPARE(job.desktopEstimateMinutes(), 0);
}

void TestPrintJob::exampleLine_setsEveryField()
{
    PrintJob job;
    job.setFromString(QStringLiteral("Status_SendingPrintJob,5,30,8,100,100,100,Clear,1,1,1"));
    QCOMPARE(job.numAdhesionLayers, 5);
    QCOMPARE(job.adhesionLayerCureTime, 30.0);
    QCOMPARE(job.cureTime, 8.0);
    QCOMPARE(job.layerThickness, 100);
    QCOMPARE(job.adhesionThickness, 100);
    QCOMPARE(job.numImages, 100);
    QCOMPARE(job.resinName, QStringLiteral("Clear"));
    QCOMPARE(job.scaleX, 1.0);
    QCOMPARE(job.scaleY, 1.0);
    QCOMPARE(job.fineTuneFactor, 1.0);
}

void TestPrintJob::exampleRecord_toString_givesTenElements()
{
    QCOMPARE(exampleJob().toString(), QStringLiteral("5,30,8,100,100,100,Clear,1,1,1"));
}

void TestPrintJob::toString_doubles_sixSignificantDigits_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("2.5") << 2.5 << QStringLiteral("2.5");
    QTest::newRow("8.0 without trailing zeros") << 8.0 << QStringLiteral("8");
    QTest::newRow("0.000012 in exponent form") << 0.000012 << QStringLiteral("1.2e-05");
    QTest::newRow("rounded to 6 digits") << 1.23456789 << QStringLiteral("1.23457");
}

void TestPrintJob::toString_doubles_sixSignificantDigits()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    PrintJob job;
    job.adhesionLayerCureTime = value;
    job.cureTime = value;
    job.scaleX = value;
    job.scaleY = value;
    job.fineTuneFactor = value;
    const QStringList fields = job.toString().split(QLatin1Char(','));
    QCOMPARE(fields.size(), 10);
    for (int index : {1, 2, 7, 8, 9})
        QCOMPARE(fields.at(index), expected);
}

void TestPrintJob::toStringThenSetFromString_keepsEveryField()
{
    PrintJob sent = exampleJob();
    sent.adhesionLayerCureTime = 27.25;
    sent.scaleX = 1.01;
    sent.scaleY = 0.99;
    sent.fineTuneFactor = 1.15;
    sent.resinName = QStringLiteral("Tough Grey");

    PrintJob received;
    received.setFromString(QStringLiteral("Status_SendingPrintJob,") + sent.toString());
    QCOMPARE(received.toString(), sent.toString());
    QCOMPARE(received.scaleX, 1.01);
    QCOMPARE(received.resinName, QStringLiteral("Tough Grey"));
}

void TestPrintJob::unconvertibleElements_readAsZero()
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
}

void TestPrintJob::shortLine_readsMissingElementsAsZero_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("expectedAdhesionLayers");
    QTest::addColumn<double>("expectedScaleX");
    QTest::newRow("empty") << QString() << 0 << 0.0;
    QTest::newRow("keyword only") << QStringLiteral("Status_SendingPrintJob") << 0 << 0.0;
    QTest::newRow("three fields") << QStringLiteral("Kw,5,30,8") << 5 << 0.0;
    QTest::newRow("nine fields") << QStringLiteral("Kw,5,30,8,100,100,100,Clear,1.5,1") << 5 << 1.5;
}

void TestPrintJob::shortLine_readsMissingElementsAsZero()
{
    QFETCH(QString, line);
    QFETCH(int, expectedAdhesionLayers);
    QFETCH(double, expectedScaleX);
    PrintJob job = exampleJob();
    job.setFromString(line);
    QCOMPARE(job.numAdhesionLayers, expectedAdhesionLayers);
    QCOMPARE(job.scaleX, expectedScaleX);
    QCOMPARE(job.fineTuneFactor, 0.0); // element 10 is missing in every row
}

void TestPrintJob::isCompleteLine_needsKeywordAndTenFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("complete");
    QTest::newRow("example") << QStringLiteral("Kw,5,30,8,100,100,100,Clear,1,1,1") << true;
    QTest::newRow("empty fields count") << QStringLiteral("Kw,,,,,,,,,,") << true;
    QTest::newRow("toString without keyword") << exampleJob().toString() << false;
    QTest::newRow("empty") << QString() << false;
}

void TestPrintJob::isCompleteLine_needsKeywordAndTenFields()
{
    QFETCH(QString, line);
    QFETCH(bool, complete);
    QCOMPARE(PrintJob::isCompleteLine(line), complete);
}

void TestPrintJob::printInfo_writesOneLineWithEveryField()
{
    PrintJob job = exampleJob();
    job.scaleX = 1.01;
    QTest::ignoreMessage(QtDebugMsg,
                         "**PrintJob Info** Cure Time: 8 Num adhesion layers: 5 Adhesion Layer cure "
                         "time: 30 Adhesion thickness: 100 Layer Thickness: 100 num images: 100 "
                         "Resin name: Clear ScaleX: 1.01 ScaleY: 1 fineTuneFactor: 1");
    job.printInfo();
}

QTEST_GUILESS_MAIN(TestPrintJob)
#include "tst_printjob.moc"
