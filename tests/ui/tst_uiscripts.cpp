// The pages' script helpers against the C++ they stand for: the fine-tune pages turn the
// user's findings into factor changes with calibration.js, which must mean what the
// calibration prints were designed with (calibrationdesign.h); and the support density
// the side panel hands the editor must land on the level the user chose.
#include "calibrationdesign.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

constexpr double kTolerance = 1e-12;

QList<double> numbers(const QJSValue &array)
{
    QList<double> list;
    for (const QVariant &value : array.toVariant().toList())
        list << value.toDouble();
    return list;
}

} // namespace

class TestUiScripts : public QObject
{
    Q_OBJECT

private:
    QJSValue call(const char *script, const char *function, const QJSValueList &arguments = {})
    {
        QJSValue callee = scripts(script).property(QString::fromLatin1(function));
        if (!callee.isCallable())
            qFatal("%s.%s is not a function", script, function);
        const QJSValue result = callee.call(arguments);
        if (result.isError())
            qFatal("%s.%s: %s", script, function, qPrintable(result.toString()));
        return result;
    }

    QQmlEngine engine;
    std::unique_ptr<QObject> holder;

    QJSValue scripts(const char *script)
    {
        return engine.toScriptValue(holder.get()).property(QString::fromLatin1(script));
    }

    // The page's function of that name, given `arguments`, against the design's `expected`.
    void expectSame(const char *function, const QJSValueList &arguments, double expected)
    {
        const double page = call("calibration", function, arguments).toNumber();
        QVERIFY2(std::abs(page - expected) < kTolerance,
            qPrintable(QStringLiteral("%1: page %2, design %3").arg(QLatin1String(function)).arg(page).arg(expected)));
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(tessora_qml);
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\n"
                          "import \"qrc:/qml/calibration.js\" as Calibration\n"
                          "import \"qrc:/qml/format.js\" as Format\n"
                          "QtObject { property var calibration: Calibration; property var format: Format }\n",
            QUrl(QStringLiteral("qrc:/scripttest.qml")));
        holder.reset(component.create());
        QVERIFY2(holder, qPrintable(component.errorString()));
    }

    void constantsAndLists_matchTheDesign()
    {
        const QJSValue calibration = scripts("calibration");
        QCOMPARE(calibration.property("fitCount").toInt(), Calibration::kFitCount);
        QCOMPARE(calibration.property("referenceFit").toInt(), Calibration::kReferenceFit);
        QCOMPARE(calibration.property("pinDiameter").toNumber(), Calibration::kPinDiameter);
        const QList<int> fits = Calibration::fitNumbers();
        QCOMPARE(numbers(call("calibration", "fitNumbers")), QList<double>(fits.begin(), fits.end()));
        QCOMPARE(numbers(call("calibration", "nominalSizesX")), Calibration::nominalSizesX());
        QCOMPARE(numbers(call("calibration", "nominalSizesY")), Calibration::nominalSizesY());
    }

    // (The scripts' ring and factor-clamping functions serve no page: they are left out.)
    void fitFunctions_matchTheDesignForEveryNumber()
    {
        for (int fit = -2; fit <= Calibration::kFitCount + 2; ++fit) {
            expectSame("clearanceForFit", {fit}, Calibration::clearanceForFit(fit));
            expectSame("fineTuneChangeForFit", {fit}, Calibration::fineTuneChangeForFit(fit));
        }
        // A number between fits is not a fit: it changes nothing.
        QCOMPARE(call("calibration", "fineTuneChangeForFit", {2.5}).toNumber(), 0.0);
    }

    void scaleMultipliers_matchTheDesign_data()
    {
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<double>("c");
        QTest::addColumn<double>("d");
        QTest::newRow("exact") << 40.0 << 40.0 << 20.0 << 20.0;
        QTest::newRow("grown") << 20.0 << 20.3 << 40.0 << 40.5;
        QTest::newRow("shrunk") << 10.0 << 9.8 << 30.0 << 29.6;
        QTest::newRow("nothing measured") << 30.0 << 0.0 << 40.0 << 0.0;
        QTest::newRow("negative") << 30.0 << -1.0 << 40.0 << 39.0;
        QTest::newRow("steps reversed") << 30.0 << 31.0 << 20.0 << 20.5;
    }

    void scaleMultipliers_matchTheDesign()
    {
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(double, c);
        QFETCH(double, d);
        expectSame("scaleMultiplier", {a, b}, Calibration::scaleMultiplier(a, b));
        expectSame("scaleMultiplierFromSteps", {a, b, c, d}, Calibration::scaleMultiplierFromSteps(a, b, c, d));
    }

    void tierMultiplier_usesStepsWhenTwoTiersAreMeasured()
    {
        QJSValue nominals = engine.newArray(3);
        QJSValue measured = engine.newArray(3);
        const QList<double> sizes = Calibration::nominalSizesX();
        // A print 1 % too small everywhere, with outlines grown 0.1 mm per side by bleed.
        const double scale = 0.99, bleed = 0.1;
        for (int i = 0; i < 3; ++i) {
            nominals.setProperty(quint32(i), sizes.at(i));
            measured.setProperty(quint32(i), sizes.at(i) * scale + 2 * bleed);
        }
        // All three tiers: the difference of the outer ones, which bleed does not change.
        QVERIFY(std::abs(call("calibration", "tierMultiplier", {nominals, measured}).toNumber() - 1 / scale) < 1e-9);
        QCOMPARE(call("calibration", "tierMultiplier", {nominals, measured}).toNumber(),
            Calibration::scaleMultiplierFromSteps(
                sizes.at(2), sizes.at(2) * scale + 2 * bleed, sizes.at(0), sizes.at(0) * scale + 2 * bleed));
        // One tier only: the plain ratio.
        measured.setProperty(0, 0);
        measured.setProperty(2, 0);
        QCOMPARE(call("calibration", "tierMultiplier", {nominals, measured}).toNumber(),
            Calibration::scaleMultiplier(sizes.at(1), sizes.at(1) * scale + 2 * bleed));
        // None: no change.
        measured.setProperty(1, 0);
        QCOMPARE(call("calibration", "tierMultiplier", {nominals, measured}).toNumber(), 1.0);
    }

    void supportDensity_landsOnTheChosenLevel()
    {
        // The editor hands the support engine the integer part of 50 / density as its level.
        for (int level = 1; level <= 100; ++level) {
            const double density = call("format", "supportDensityForLevel", {level}).toNumber();
            QCOMPARE(int(std::floor(50.0 / density)), level);
        }
    }

    void minutesText_showsHoursAndMinutes()
    {
        QCOMPARE(call("format", "minutesText", {0}).toString(), QStringLiteral("0 min"));
        QCOMPARE(call("format", "minutesText", {63}).toString(), QStringLiteral("1 h 03 min"));
        QCOMPARE(call("format", "minutesText", {600}).toString(), QStringLiteral("10 h 00 min"));
        QCOMPARE(call("format", "minutesText", {-1}).toString(), QStringLiteral("not offered"));
    }

    void localPath_dropsTheFileScheme()
    {
        QCOMPARE(call("format", "localPath", {QStringLiteral("file:///C:/jobs/a%20b.stl")}).toString(),
            QStringLiteral("C:/jobs/a b.stl"));
        QCOMPARE(call("format", "localPath", {QStringLiteral("file:///home/u/part.OBJ")}).toString(),
            QStringLiteral("/home/u/part.OBJ"));
        QCOMPARE(call("format", "localPath", {QStringLiteral("/home/u/part.stl")}).toString(),
            QStringLiteral("/home/u/part.stl"));
        QVERIFY(call("format", "isImportable", {QStringLiteral("/a/part.STL")}).toBool());
        QVERIFY(!call("format", "isImportable", {QStringLiteral("/a/part.stla")}).toBool());
        QVERIFY(call("format", "isPrintJob", {QStringLiteral("/a/JOB.SSJ")}).toBool());
    }
};

QTEST_GUILESS_MAIN(TestUiScripts)
#include "tst_uiscripts.moc"
