// What the calibration prints mean: the fits of the tolerance print and the fine-tune
// change each answer gives, and the scale multipliers from the dimensional print's sizes.
#include "calibrationdesign.h"
#include "printjob.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace Calibration;

namespace {

// What a printer with this true scale and bleed makes of a nominal outer size.
double printedOuter(double nominal, double scale, double bleed)
{
    return nominal * scale + 2 * bleed;
}

double printedInner(double nominal, double scale, double bleed)
{
    return nominal * scale - 2 * bleed;
}

} // namespace

class TestCalibrationDesign : public QObject
{
    Q_OBJECT

private slots:
    void fineTune_referenceKeeps_smallFitsFreeLengthen_largeShorten_unknownNothing()
    {
        // The reference fit keeps the exposure. Gaps that open below it: too little light, a
        // positive change; small gaps fused so that only larger fits come free: too much light, a
        // negative change.
        QVERIFY(kReferenceFit > 1 && kReferenceFit < kFitCount);
        QCOMPARE(fineTuneChangeForFit(kReferenceFit), 0.0);
        QCOMPARE(adjustedFineTuneFactor(1.1, kReferenceFit), 1.1);
        for (int fit = 1; fit < kReferenceFit; ++fit)
            QVERIFY2(fineTuneChangeForFit(fit) > 0, qPrintable(QString::number(fit)));
        for (int fit = kReferenceFit + 1; fit <= kFitCount; ++fit)
            QVERIFY2(fineTuneChangeForFit(fit) < 0, qPrintable(QString::number(fit)));
        // Each fit further away asks for the same further step.
        for (int fit = 1; fit < kFitCount; ++fit)
            QVERIFY(qFuzzyCompare(fineTuneChangeForFit(fit) - fineTuneChangeForFit(fit + 1), kFineTuneStepPerFit));
        // A fit that is not on the plate changes nothing.
        for (int fit : {0, -1, kFitCount + 1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
            QCOMPARE(fineTuneChangeForFit(fit), 0.0);
            QCOMPARE(clearanceForFit(fit), 0.0);
        }
        QCOMPARE(adjustedFineTuneFactor(0.9, 0), 0.9);
    }

    void fineTune_answersStayWithinThePrinterRange()
    {
        // Repeated answers stop at the ends of the range, which is the printer's: it applies a
        // factor at an end as it is, and clamps one beyond.
        PrintJob job;
        job.cureTime = 10.0;
        for (int fit : {1, kFitCount}) {
            double factor = 1.0;
            for (int round = 0; round < 10; ++round)
                factor = adjustedFineTuneFactor(factor, fit);
            QCOMPARE(factor, fit == 1 ? kMaxFineTuneFactor : kMinFineTuneFactor);
            job.fineTuneFactor = factor;
            QVERIFY(qFuzzyCompare(job.getFineTuneFactorCureTime(), 10.0 * factor));
            job.fineTuneFactor = factor + (fit == 1 ? 0.2 : -0.2);
            QVERIFY(qFuzzyCompare(job.getFineTuneFactorCureTime(), 10.0 * factor));
        }
    }

    void layout_fitsNotchesTiersAndRingStayApart()
    {
        const double pinRadius = kPinDiameter / 2;
        const double widestHole = pinRadius + clearanceForFit(kFitCount) + kReliefClearance;
        for (int fit : fitNumbers()) {
            const QPointF centre = fitCentre(fit);
            // The widest hole keeps at least a millimetre of plate to the edges and the notches.
            QVERIFY(std::abs(centre.x()) + widestHole + 1.0 <= kPlateWidth / 2);
            const double edge = notchEdgeY(fit);
            QVERIFY(std::abs(edge - centre.y()) - kNotchDepth - widestHole >= 1.0);
            QVERIFY(std::abs(centre.y()) - widestHole >= 1.0); // apart from the other row
            for (int other : fitNumbers()) {
                if (other != fit)
                    QVERIFY(QLineF(centre, fitCentre(other)).length() >= 2 * widestHole + 1.0);
            }
            // The count of notches is the fit number, they stay on the plate and leave a wider gap
            // to the next fit's notches than between their own.
            const QList<double> notches = notchCentresX(fit);
            QCOMPARE(notches.size(), fit);
            QVERIFY(notches.first() - kNotchWidth / 2 >= -kPlateWidth / 2 + 0.5);
            QVERIFY(notches.last() + kNotchWidth / 2 <= kPlateWidth / 2 - 0.5);
            QVERIFY(std::abs((notches.first() + notches.last()) / 2 - centre.x()) < 1e-9);
            for (int other : fitNumbers()) {
                if (other == fit || notchEdgeY(other) != edge)
                    continue;
                for (double x : notchCentresX(other)) {
                    for (double own : notches)
                        QVERIFY(std::abs(x - own) - kNotchWidth >= 2 * (kNotchPitch - kNotchWidth));
                }
            }
        }
        QCOMPARE(notchCentresX(0).size(), 0);

        // A few millimetres tall: 20-micron jobs stay at 150 layers or fewer. (Both footprints
        // fit the smaller platform: tst_calibrationjobs.)
        QVERIFY(kToleranceModelHeight / 0.02 <= 150.0 + 1e-9);
        QVERIFY(kDimensionalModelHeight / 0.02 <= 150.0 + 1e-9);
        // Block and ring side by side, not overlapping.
        QVERIFY(
            ringCentre().x() - kRingOuterDiameter / 2 - (blockCentre().x() + kTierSizes[0].x / 2) >= kRingGap - 1e-9);
        // Every tier is longer along X than along Y, and narrower than the one below.
        for (int tier = 0; tier < kTierCount; ++tier) {
            QVERIFY(kTierSizes[size_t(tier)].x > kTierSizes[size_t(tier)].y);
            if (tier > 0) {
                QVERIFY(kTierSizes[size_t(tier)].x < kTierSizes[size_t(tier) - 1].x);
                QVERIFY(kTierSizes[size_t(tier)].y < kTierSizes[size_t(tier) - 1].y);
            }
        }
    }

    void scale_stepsAndRingLeaveBleedOut_data()
    {
        QTest::addColumn<double>("trueScale");
        QTest::addColumn<double>("bleed");
        QTest::newRow("overexposed, large") << 1.015 << 0.08;
        QTest::newRow("overexposed, small") << 0.98 << 0.05;
        QTest::newRow("underexposed, large") << 1.01 << -0.04;
        QTest::newRow("exact") << 1.0 << 0.0;
    }

    void scale_stepsAndRingLeaveBleedOut()
    {
        QFETCH(double, trueScale);
        QFETCH(double, bleed);
        const QList<double> sizes = nominalSizesY();
        const double smallest = sizes.last();
        const double largest = sizes.first();
        const double steps = scaleMultiplierFromSteps(
            smallest, printedOuter(smallest, trueScale, bleed), largest, printedOuter(largest, trueScale, bleed));
        QVERIFY2(std::abs(steps * trueScale - 1.0) < 1e-9, qPrintable(QString::number(steps)));

        const double outer = printedOuter(kRingOuterDiameter, trueScale, bleed);
        const double inner = printedInner(kRingInnerDiameter, trueScale, bleed);
        const double ring = ringScaleMultiplier(outer, inner);
        QVERIFY2(std::abs(ring * trueScale - 1.0) < 1e-9, qPrintable(QString::number(ring)));
        QVERIFY2(
            std::abs(ringBleed(outer, inner) - bleed) < 1e-9, qPrintable(QString::number(ringBleed(outer, inner))));

        // The plain ratio of one block takes bleed for scale: it is off by the bleed's share.
        if (bleed != 0.0) {
            const double plain = scaleMultiplier(smallest, printedOuter(smallest, trueScale, bleed));
            QVERIFY(std::abs(plain * trueScale - 1.0) > 1e-3);
        }
    }

    void scale_measurementsThatAreNoSizeLeaveTheFactor_data()
    {
        QTest::addColumn<double>("first");
        QTest::addColumn<double>("second");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("zero") << 0.0 << 0.0;
        QTest::newRow("negative") << -20.0 << -12.0;
        QTest::newRow("not a number") << nan << nan;
        QTest::newRow("swapped") << 12.0 << 20.0;
        QTest::newRow("equal") << 15.0 << 15.0;
    }

    void scale_measurementsThatAreNoSizeLeaveTheFactor()
    {
        QFETCH(double, first);
        QFETCH(double, second);
        // first and second stand for the larger and the smaller size (outer and inner).
        QCOMPARE(ringScaleMultiplier(first, second), 1.0);
        QCOMPARE(ringBleed(first, second), 0.0);
        QCOMPARE(scaleMultiplierFromSteps(10.0, second, 30.0, first), 1.0);
        if (!(first > 0)) {
            QCOMPARE(scaleMultiplier(20.0, first), 1.0);
            QCOMPARE(scaleMultiplier(first, 20.0), 1.0);
        }
    }
};

QTEST_GUILESS_MAIN(TestCalibrationDesign)
#include "tst_calibrationdesign.moc"
