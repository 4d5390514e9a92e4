// Resin lists: the version 2 list the programs store and send, the old list it replaced,
// damaged lists, and version 3 lists with their rollback to version 2. (The fuzz target
// resinlist replays random lists: every stored list reads back as itself.)
#include "logcapture.h"
#include "namelist.h"
#include "resin.h"
#include "resinrollbackv3tov2.h"
#include "resinv3.h"

#include <QtTest>

Q_DECLARE_METATYPE(Resin)

namespace {

const QString defaultListText = QStringLiteral("*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
                                               "*ResinFormatVersion:2!Green!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
                                               "*ResinFormatVersion:2!Orange!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
                                               "*ResinFormatVersion:2!Gray!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
                                               "*ResinFormatVersion:2!Clear!4!7!11!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
                                               "*ResinFormatVersion:2!White!4!7!11!3!20!20!20!20!1!1!1!1!1!1!1!1!1");

const QString oldRedText = QStringLiteral("*Red!5!10!15!3!20!20!20!20!1!1!1");
const QString oldGrayText = QStringLiteral("*Gray!8!9!10!4!20!21!22!50!1.01!.99!.85");

QString v2Entry(const QString &name)
{
    return QStringLiteral("*ResinFormatVersion:2!") + name + QStringLiteral("!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1");
}

// The seventeen settings in entry order.
QList<double> settingsOf(const ResinSettings &r)
{
    return {r.c20, r.c50, r.c100, double(r.numAdhesionLayers), r.a20, r.a50, r.a100, double(r.aThickness), r.scaleX20,
        r.scaleY20, r.fineTuneFactor20, r.scaleX50, r.scaleY50, r.fineTuneFactor50, r.scaleX100, r.scaleY100,
        r.fineTuneFactor100};
}

// A list whose every number differs from the defaults and from each other.
QList<Resin> calibratedList()
{
    QList<Resin> list;
    for (int i = 0; i < 4; ++i) {
        Resin r(QStringLiteral("Calibrated %1").arg(i));
        r.numAdhesionLayers = 2 + i;
        r.aThickness = 30 + i;
        r.a20 = 41.5 + i, r.a50 = 35.25 + i, r.a100 = 28.125 + i;
        r.c20 = -1, r.c50 = 3.6, r.c100 = 7.2; // literals, so that no sum drifts past six digits
        r.scaleX20 = 1.0125, r.scaleY20 = 0.987654, r.fineTuneFactor20 = 0.7;
        r.scaleX50 = 1.00001, r.scaleY50 = 0.95, r.fineTuneFactor50 = 1.3;
        r.scaleX100 = 0.9, r.scaleY100 = 1.1, r.fineTuneFactor100 = 0.85;
        list << r;
    }
    return list;
}

// A version 3 record whose every number differs from the defaults and from each other, and
// the same settings as a version 2 entry.
const QString probeText = QStringLiteral(
    "ResinFormatVersion:3!3004!Probe!2.0!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9");
const QString probeV2Text
    = QStringLiteral("*ResinFormatVersion:2!Probe!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9");

// A typical version 3 list: catalogue ids with the version 2 names their profiles carry.
// Profiles are matched by exact name, so these texts must never change. An empty name marks
// an id that has no version 2 profile: the rollback drops it.
const QList<QPair<QString, QString>> catalogue = {{"1001", "Gray"}, {"1002", "Dental Model"}, {"1003", "Clear"},
    {"1004", "White"}, {"1005", "Surgical Guide"}, {"2001", "Die Stone Beige"}, {"2002", ""},
    {"3001", "Castable Violet"}, {"3002", "Flexible Black"}, {"3003", "Tough Gray"}, {"3004", "High Temp Amber"},
    {"3005", "Ceramic White"}, {"3006", ""}, {"3007", ""}, {"4001", "Corvantis Standard Black"},
    {"4002", "Corvantis Standard White"}, {"4003", "Corvantis Clear"}, {"4004", "Corvantis Tough Blue"},
    {"4005", "Corvantis Model Gray"}, {"4006", "Corvantis Rapid Ivory"}, {"4007", "Corvantis Flex Green"},
    {"4008", "Corvantis Draft Gray"}, {"4009", "Corvantis Dental Peach"}, {"4010", "Corvantis Castable Red"}};

// Entry `index` of the typical list (without its "*"): numbers that differ from entry to
// entry, and a catalogue name that differs from the version 2 one, so that renaming shows.
QString v3Entry(int index, const QString &factors = QStringLiteral("1!1!1!1!1!1!1!1!1"))
{
    const QString id = catalogue.at(index).first;
    return QStringLiteral("ResinFormatVersion:3!%1!Catalogue resin %1!1.0!%2!%3!%4!3!%5!%5!%5!20!%6")
        .arg(id)
        .arg(index == 0 ? -1 : index)
        .arg(index + 0.5)
        .arg(index + 0.25)
        .arg(20 + index)
        .arg(factors);
}

QString typicalListText(const QHash<int, QString> &factorsByIndex = {})
{
    QString text;
    for (int i = 0; i < catalogue.size(); ++i)
        text += QLatin1Char('*') + (factorsByIndex.contains(i) ? v3Entry(i, factorsByIndex[i]) : v3Entry(i));
    return text;
}

} // namespace

class TestResin : public QObject
{
    Q_OBJECT

private slots:
    // ---- Version 2 lists ----
    void toString_defaultList_isSixVersion2EntriesByteForByte_emptyListIsEmptyText()
    {
        QCOMPARE(Resin::toString(Resin::defaultResinList()), defaultListText);
        QCOMPARE(Resin::toString({}), QString());
        LogCapture log;
        QVERIFY(Resin::fromString(QString()).isEmpty());
    }

    void toString_nameWithSeparators_keepsTheListReadable()
    {
        // A separator inside a name would damage the list and cost every profile its numbers.
        QList<Resin> resins = calibratedList();
        resins[0].name = QStringLiteral("Red*Blue!");
        LogCapture log;
        const QList<Resin> read = Resin::fromString(Resin::toString(resins));
        QCOMPARE(log.lines().filter(QStringLiteral("MINOR_ERROR. Resin::toString")).size(), 1);
        QCOMPARE(read.size(), resins.size());
        resins[0].name = QStringLiteral("RedBlue");
        QCOMPARE(read, resins);
    }

    void fromString_writtenList_readsBackIdentical_data()
    {
        QTest::addColumn<QList<Resin>>("resins");
        QTest::newRow("calibrated list") << calibratedList();
        QList<Resin> unusualNames {Resin(QStringLiteral("Résine Ω 2")), Resin(QStringLiteral(" spaced ")),
            Resin(QString()), Resin(QStringLiteral("Gray"))};
        QTest::newRow("unusual and repeated names") << (unusualNames + Resin::defaultResinList());
    }

    void fromString_writtenList_readsBackIdentical()
    {
        QFETCH(QList<Resin>, resins);
        const QString text = Resin::toString(resins);
        LogCapture log;
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(read, resins);
        QCOMPARE(Resin::toString(read), text);
    }

    void fromString_version2Entry_fieldsLandInTheirPlaces()
    {
        LogCapture log;
        const QList<Resin> read = Resin::fromString(probeV2Text);
        QCOMPARE(namesOf(read), QStringList {"Probe"});
        QCOMPARE(settingsOf(read.first()),
            (QList<double> {1.5, 2.5, 3.5, 4, 5.5, 6.5, 7.5, 8, 9.1, 9.2, 9.3, 9.4, 9.5, 9.6, 9.7, 9.8, 9.9}));
        QCOMPARE(Resin::toString(read), probeV2Text);
    }

    void fromString_numberFields_convertWithCLocaleRules_data()
    {
        // The same text in an integer field (numAdhesionLayers), the truncated one (aThickness)
        // and a double field (c20).
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("integer");
        QTest::addColumn<int>("truncated");
        QTest::addColumn<double>("number");

        QTest::newRow("20.7 truncates, is no integer") << "20.7" << 0 << 20 << 20.7;
        QTest::newRow("negative truncates toward zero") << "-20.7" << 0 << -20 << -20.7;
        QTest::newRow("signed") << "+4" << 4 << 4 << 4.0;
        QTest::newRow("exponent form") << "1e+06" << 0 << 1000000 << 1e6;
        QTest::newRow("leading point") << ".99" << 0 << 0 << 0.99;
        QTest::newRow("out of integer range") << "99999999999" << 0 << 0 << 99999999999.0;
        QTest::newRow("decimal comma is not C locale") << "1,5" << 0 << 0 << 0.0;
        QTest::newRow("hexadecimal") << "0x3" << 0 << 0 << 0.0;
        QTest::newRow("overflow") << "1e999" << 0 << 0 << 0.0;
        QTest::newRow("not a number") << "nan" << 0 << 0 << 0.0;
    }

    void fromString_numberFields_convertWithCLocaleRules()
    {
        QFETCH(QString, field);
        QFETCH(int, integer);
        QFETCH(int, truncated);
        QFETCH(double, number);

        const QString v2
            = QStringLiteral("*ResinFormatVersion:2!Red!%1!10!15!%1!20!20!20!%1!1!1!1!1!1!1!1!1!%1").arg(field);
        const QString old = QStringLiteral("*Red!%1!10!15!%1!20!20!20!%1!1!1!1").arg(field);
        LogCapture log;
        for (const QString &text : {v2, old}) {
            const QList<Resin> read = Resin::fromString(text);
            QCOMPARE(namesOf(read), QStringList {"Red"});
            QCOMPARE(read.first().numAdhesionLayers, integer);
            QCOMPARE(read.first().aThickness, truncated);
            QCOMPARE(read.first().c20, number);
            QCOMPARE(read.first().c100, 15.0);
        }
        QCOMPARE(Resin::fromString(v2).first().fineTuneFactor100, number);
    }

    // ---- Settings by layer thickness ----
    void byThickness_readsAndWritesOnlyTheSettingsOfThatThickness_data()
    {
        QTest::addColumn<int>("thickness");
        QTest::addColumn<QList<double>>("read"); // cure, adhesion cure, scale X, scale Y, fine tune
        QTest::newRow("20") << 20 << QList<double> {-1, 41.5, 1.0125, 0.987654, 0.7};
        QTest::newRow("50") << 50 << QList<double> {3.6, 35.25, 1.00001, 0.95, 1.3};
        QTest::newRow("100") << 100 << QList<double> {7.2, 28.125, 0.9, 1.1, 0.85};
        // Not a layer thickness: not offered, not calibrated, and nothing is written.
        QTest::newRow("75") << 75 << QList<double> {-1, -1, 1, 1, 1};
        QTest::newRow("0") << 0 << QList<double> {-1, -1, 1, 1, 1};
    }

    void byThickness_readsAndWritesOnlyTheSettingsOfThatThickness()
    {
        QFETCH(int, thickness);
        QFETCH(QList<double>, read);
        const auto valuesAt = [thickness](const Resin &r) {
            return QList<double> {r.cureTime(thickness), r.adhesionCureTime(thickness), r.scaleX(thickness),
                r.scaleY(thickness), r.fineTuneFactor(thickness)};
        };
        const Resin before = calibratedList().first();
        QCOMPARE(valuesAt(before), read);
        QCOMPARE(before.isCalibrated(thickness), Resin::isLayerThickness(thickness));

        Resin after = before;
        after.setCureTime(thickness, 2);
        after.setAdhesionCureTime(thickness, 3);
        after.setScale(thickness, 4, 5);
        after.setFineTuneFactor(thickness, 6);
        int changed = 0;
        for (int i = 0; i < settingsOf(before).size(); ++i)
            changed += settingsOf(before).at(i) != settingsOf(after).at(i);
        QCOMPARE(changed, Resin::isLayerThickness(thickness) ? 5 : 0);
        if (Resin::isLayerThickness(thickness))
            QCOMPARE(valuesAt(after), (QList<double> {2, 3, 4, 5, 6}));
    }

    // ---- Old lists ----
    void fromString_oldEntry_factorsLandAt50Microns_writtenAsVersion2()
    {
        LogCapture log;
        QCOMPARE(Resin::toString(Resin::fromString(oldRedText)), v2Entry("Red"));

        // A second, truncated entry reads its missing fields as zero, its missing factors as 1.
        const QList<Resin> read = Resin::fromString(oldGrayText + QStringLiteral("*Blue!7"));
        QCOMPARE(namesOf(read), (QStringList {"Gray", "Blue"}));
        QCOMPARE(
            settingsOf(read.at(0)), (QList<double> {8, 9, 10, 4, 20, 21, 22, 50, 1, 1, 1, 1.01, 0.99, 0.85, 1, 1, 1}));
        QCOMPARE(settingsOf(read.at(1)), (QList<double> {7, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1}));
    }

    // ---- Damaged lists ----
    void fromString_damagedList_keepsCountOrderAndNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("old entry after a version 2 entry")
            << (v2Entry("Red") + oldGrayText + v2Entry("White")) << QStringList {"Red", "Gray", "White"};
        QTest::newRow("version 2 entry missing a field keeps its name")
            << (v2Entry("Red").chopped(2) + v2Entry("Green")) << QStringList {"Red", "Green"};
        QTest::newRow("entry with a field too many")
            << (v2Entry("Red") + "!1" + v2Entry("Green")) << QStringList {"Red", "Green"};
        QTest::newRow("entry of numbers only")
            << (v2Entry("Red") + "*1!2!-3!4.5!,!.") << QStringList {"Red", "CORRUPTED RESIN"};
        QTest::newRow("empty entry from a stray star")
            << (v2Entry("Red") + "*" + v2Entry("Green")) << QStringList {"Red", "CORRUPTED RESIN", "Green"};
        // Fields that look like numbers ("--5", "1,5") are not names.
        QTest::newRow("name after numbers and empty fields")
            << (v2Entry("Red") + "*ResinFormatVersion:2!!--5!1,5!Teal!Other") << QStringList {"Red", "Teal"};
        // A version 3 entry inside a version 2 list is a damaged entry, not a reason to convert
        // (and drop) the version 2 profiles around it.
        QTest::newRow("version 3 entry in a version 2 list")
            << (v2Entry("Red") + QLatin1Char('*') + probeText + v2Entry("Own Mix"))
            << QStringList {"Red", "Probe", "Own Mix"};
    }

    void fromString_damagedList_keepsCountOrderAndNames()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, names);

        LogCapture log;
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(namesOf(read), names);
        // Numbers of a damaged list are not trusted: every profile carries the defaults.
        for (const Resin &r : read)
            QVERIFY(r == Resin(r.name));
        QCOMPARE(Resin::fromCorruptedFixed(text), read);
    }

    void fromString_strayStarsAndBangs_giveOneProfilePerStar_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no star") << "Red!5!10!15!3!20!20!20!20!1!1!1";
        QTest::newRow("version 3 entry without star") << "ResinFormatVersion:3!1001!Gray";
        QTest::newRow("two stars") << "**";
        QTest::newRow("heading only entries") << "*ResinFormatVersion:2*ResinFormatVersion:2!";
        QTest::newRow("twelve bangs") << "*!!!!!!!!!!!!";
        QTest::newRow("heading and eighteen empty fields") << "*ResinFormatVersion:2!!!!!!!!!!!!!!!!!!";
    }

    void fromString_strayStarsAndBangs_giveOneProfilePerStar()
    {
        QFETCH(QString, text);
        LogCapture log;
        QCOMPARE(Resin::fromString(text).size(), text.count(QLatin1Char('*')));
    }

    // ---- Version 3 lists, rolled back to version 2 ----
    void rollback_typicalList_keepsKnownResinsInOrderWithV2NamesAndCalibration()
    {
        // Two resins calibrated: their factors travel with them, and only with them.
        const QHash<int, QString> calibrated
            = {{20, QStringLiteral("1!1!1!0.9!1!0.7!0.9!1!1.1")}, {22, QStringLiteral("1.1!0.9!0.9!1!1!1!1!1!1")}};
        const QString text = typicalListText(calibrated);
        // The expected entries: the records under their version 2 names, unknown ids left out.
        QString expected;
        QStringList v2Names;
        for (int i = 0; i < catalogue.size(); ++i) {
            if (catalogue.at(i).second.isEmpty())
                continue;
            ResinV3 record(calibrated.contains(i) ? v3Entry(i, calibrated[i]) : v3Entry(i));
            record.name = catalogue.at(i).second;
            expected += record.toV2String();
            v2Names << record.name;
        }

        LogCapture log;
        QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(text), expected);
        QVERIFY(log.lines().isEmpty());
        // Read through Resin::fromString, and stored as version 2 from now on.
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(namesOf(read), v2Names);
        QCOMPARE(Resin::toString(read), expected);

        // Every field of a record lands in its place of the version 2 entry.
        QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(QLatin1Char('*') + probeText),
            QString(probeV2Text).replace(QStringLiteral("Probe"), QStringLiteral("High Temp Amber")));
    }

    void rollback_shortOrEmptyEntries_areDropped_data()
    {
        QTest::addColumn<QString>("middle");
        const QString full = QLatin1Char('*') + v3Entry(2);
        QTest::newRow("twenty fields") << full.left(full.lastIndexOf(QLatin1Char('!')));
        QTest::newRow("id only") << "*ResinFormatVersion:3!1003";
        QTest::newRow("empty entry") << "*";
    }

    void rollback_shortOrEmptyEntries_areDropped()
    {
        QFETCH(QString, middle);
        const QString text = QLatin1Char('*') + v3Entry(0) + middle + QLatin1Char('*') + v3Entry(3);
        LogCapture log;
        QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(text),
            ResinRollbackV3toV2::convertNewResinStringToV2String(
                QLatin1Char('*') + v3Entry(0) + QLatin1Char('*') + v3Entry(3)));
        QCOMPARE(Resin::fromString(text).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestResin)
#include "tst_resin.moc"
