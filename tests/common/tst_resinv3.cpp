#include "logcapture.h"
#include "namelist.h"
#include "resin.h"
#include "resinrollbackv3tov2.h"
#include "resinv3.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// One row of a typical version 3 list. Numbers are kept as the text they are written as.
struct CatalogueRow
{
    const char *id;
    const char *c20;
    const char *c50;
    const char *c100;
    const char *adhesion;
    const char *version;
};

const CatalogueRow typicalList[] = {
    {"1001", "6", "10", "14", "45", "1.0"},    {"1002", "6", "10", "14", "45", "1.0"},
    {"1003", "5", "10", "15", "30", "1.0"},    {"1004", "5", "10", "15", "30", "1.0"},
    {"1005", "-1", "2.2", "3.6", "20", "1.0"}, {"2001", "-1", "6", "7.2", "35", "1.0"},
    {"2002", "-1", "6", "7.2", "35", "2.0"},   {"3001", "-1", "6", "7.5", "15", "1.0"},
    {"3002", "-1", "3", "5", "15", "1.0"},     {"3003", "-1", "5", "6", "20", "1.0"},
    {"3004", "-1", "6", "8.4", "20", "2.0"},   {"3005", "-1", "3.6", "5", "20", "2.0"},
    {"3006", "-1", "4.4", "8", "25", "1.0"},   {"3007", "-1", "3.5", "4", "15", "1.0"},
    {"4001", "-1", "4", "6", "20", "1.0"},     {"4002", "-1", "5", "6", "30", "1.0"},
    {"4003", "-1", "10", "15", "30", "1.0"},   {"4004", "-1", "5", "7.5", "30", "1.0"},
    {"4005", "4", "6", "12", "30", "1.0"},     {"4006", "3", "4", "6", "30", "1.0"},
    {"4007", "3.5", "5", "7", "30", "1.0"},    {"4008", "3.6", "4", "-1", "30", "1.0"},
    {"4009", "6", "8", "15", "30", "1.0"},     {"4010", "-1", "4", "6", "20", "1.0"},
};

// The names that version 2 profiles of the catalogue resins carry.
const QList<QPair<QString, QString>> v2Names = {
    {"1001", "Gray"},
    {"1002", "Dental Model"},
    {"1003", "Clear"},
    {"1004", "White"},
    {"1005", "Surgical Guide"},
    {"2001", "Die Stone Beige"},
    {"3001", "Castable Violet"},
    {"3002", "Flexible Black"},
    {"3003", "Tough Gray"},
    {"3004", "High Temp Amber"},
    {"3005", "Ceramic White"},
    {"4001", "Corvantis Standard Black"},
    {"4002", "Corvantis Standard White"},
    {"4003", "Corvantis Clear"},
    {"4004", "Corvantis Tough Blue"},
    {"4005", "Corvantis Model Gray"},
    {"4006", "Corvantis Rapid Ivory"},
    {"4007", "Corvantis Flex Green"},
    {"4008", "Corvantis Draft Gray"},
    {"4009", "Corvantis Dental Peach"},
    {"4010", "Corvantis Castable Red"},
};

QString v2NameOf(const QString &id)
{
    for (const auto &pair : v2Names) {
        if (pair.first == id)
            return pair.second;
    }
    return QString();
}

const QString allOnes = QStringLiteral("1!1!1!1!1!1!1!1!1");

// Version 3 names differ from the version 2 ones, so that the converter's renaming shows.
QString v3Entry(const CatalogueRow &row, const QString &factors = allOnes)
{
    const QString a = QString::fromLatin1(row.adhesion);
    return QStringLiteral("*ResinFormatVersion:3!%1!Catalogue resin %1!%2!%3!%4!%5!3!%6!%6!%6!20!%7")
        .arg(QLatin1String(row.id), QLatin1String(row.version), QLatin1String(row.c20),
             QLatin1String(row.c50), QLatin1String(row.c100), a, factors);
}

QString expectedV2Entry(const CatalogueRow &row, const QString &factors = allOnes)
{
    const QString a = QString::fromLatin1(row.adhesion);
    return QStringLiteral("*ResinFormatVersion:2!%1!%2!%3!%4!3!%5!%5!%5!20!%6")
        .arg(v2NameOf(QLatin1String(row.id)), QLatin1String(row.c20), QLatin1String(row.c50),
             QLatin1String(row.c100), a, factors);
}

// The typical list, with the calibration of a few resins changed by id.
QString typicalListText(const QHash<QString, QString> &factorsById = {})
{
    QString text;
    for (const CatalogueRow &row : typicalList)
        text += v3Entry(row, factorsById.value(QLatin1String(row.id), allOnes));
    return text;
}

bool knownToV2(const CatalogueRow &row)
{
    return !v2NameOf(QLatin1String(row.id)).isEmpty();
}

// A record whose every number differs from the defaults and from each other.
ResinV3 probe()
{
    ResinV3 r;
    r.resinId = QStringLiteral("3004");
    r.name = QStringLiteral("Probe");
    r.userFacingVersion = QStringLiteral("2.0");
    r.c20 = 1.5;
    r.c50 = 2.5;
    r.c100 = 3.5;
    r.numAdhesionLayers = 4;
    r.a20 = 5.5;
    r.a50 = 6.5;
    r.a100 = 7.5;
    r.aThickness = 8;
    r.scaleX20 = 9.1;
    r.scaleY20 = 9.2;
    r.fineTuneFactor20 = 9.3;
    r.scaleX50 = 9.4;
    r.scaleY50 = 9.5;
    r.fineTuneFactor50 = 9.6;
    r.scaleX100 = 9.7;
    r.scaleY100 = 9.8;
    r.fineTuneFactor100 = 9.9;
    return r;
}

const QString probeText = QStringLiteral(
    "ResinFormatVersion:3!3004!Probe!2.0!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9");

} // namespace

class TestResinV3 : public QObject
{
    Q_OBJECT

private slots:
    // The version 3 record
    void defaultRecord_writesVersion3WithDefaultCureTimes();
    void entryText_fieldsLandInTheirPlacesAndRoundTrip();
    void toString_textFieldsWithSeparators_keepTheEntryReadable();
    void setV3ResinFromAttributes_tooFewFields_marksCorruptedAndKeepsValues_data();
    void setV3ResinFromAttributes_tooFewFields_marksCorruptedAndKeepsValues();
    void setV3ResinFromAttributes_setsVersion3WhateverField0Says_data();
    void setV3ResinFromAttributes_setsVersion3WhateverField0Says();
    void numberFields_unconvertibleReadAsZero();
    void valuesByThickness_data();
    void valuesByThickness();
    void isPremium_data();
    void isPremium();
    void updateCalibrationVariables_copiesOnlyTheNineFactors();
    void toV2String_isVersion2EntryWithoutIdAndVersion();
    void printInfo_logsOneLineWithIdAndVersion();

    // Rollback to version 2
    void isNewResinString_data();
    void isNewResinString();
    void doesV3ResinExistInV2_data();
    void doesV3ResinExistInV2();
    void getV2NameOfV3Resin_knownIds_giveTheirV2Names();
    void getV2NameOfV3Resin_unknownId_logsAndKeepsOwnName();
    void v2Names_onlyOutsideBrandIsNotPremium();
    void convert_typicalList_keepsKnownResinsInOrderWithV2Names();
    void convert_typicalList_readByResinFromString();
    void convert_calibrationSurvives();
    void convert_shortOrEmptyEntries_areDropped_data();
    void convert_shortOrEmptyEntries_areDropped();
    void convert_notNewText_logsAndReturnsTextUnchanged();
    void convert_randomText_givesOnlyWellFormedKnownEntries();
};

// ---------------------------------------------------------------------------------------------
// The version 3 record

void TestResinV3::defaultRecord_writesVersion3WithDefaultCureTimes()
{
    const ResinV3 r;
    QCOMPARE(r.getResinFormatVersionString(), QStringLiteral("ResinFormatVersion:3"));
    QCOMPARE(r.toString(), QStringLiteral("ResinFormatVersion:3!!!1.0!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"));
    QCOMPARE(ResinV3(QString()).toString(), r.toString());
}

void TestResinV3::entryText_fieldsLandInTheirPlacesAndRoundTrip()
{
    QCOMPARE(probe().toString(), probeText);

    const ResinV3 read(probeText);
    QCOMPARE(read.resinId, QStringLiteral("3004"));
    QCOMPARE(read.name, QStringLiteral("Probe"));
    QCOMPARE(read.userFacingVersion, QStringLiteral("2.0"));
    QCOMPARE(read.c20, 1.5);
    QCOMPARE(read.c50, 2.5);
    QCOMPARE(read.c100, 3.5);
    QCOMPARE(read.numAdhesionLayers, 4);
    QCOMPARE(read.a20, 5.5);
    QCOMPARE(read.a50, 6.5);
    QCOMPARE(read.a100, 7.5);
    QCOMPARE(read.aThickness, 8);
    QCOMPARE(read.scaleX20, 9.1);
    QCOMPARE(read.scaleY20, 9.2);
    QCOMPARE(read.fineTuneFactor20, 9.3);
    QCOMPARE(read.scaleX50, 9.4);
    QCOMPARE(read.scaleY50, 9.5);
    QCOMPARE(read.fineTuneFactor50, 9.6);
    QCOMPARE(read.scaleX100, 9.7);
    QCOMPARE(read.scaleY100, 9.8);
    QCOMPARE(read.fineTuneFactor100, 9.9);
    QCOMPARE(read.toString(), probeText);

    // Fields past the 21st are ignored.
    QCOMPARE(ResinV3(probeText + QStringLiteral("!extra!fields")).toString(), probeText);
}

void TestResinV3::toString_textFieldsWithSeparators_keepTheEntryReadable()
{
    ResinV3 r = probe();
    r.resinId = QStringLiteral("30*04");
    r.name = QStringLiteral("Pro!be");
    r.userFacingVersion = QStringLiteral("2.0!");

    LogCapture log;
    QCOMPARE(r.toString(), probeText);
    QCOMPARE(log.lines().size(), 3);
    QCOMPARE(r.toV2String(), probe().toV2String());
}

void TestResinV3::setV3ResinFromAttributes_tooFewFields_marksCorruptedAndKeepsValues_data()
{
    QTest::addColumn<int>("fieldCount");
    QTest::newRow("no field") << 0;
    QTest::newRow("one field") << 1;
    QTest::newRow("version 2 length") << 19;
    QTest::newRow("one short") << 20;
}

void TestResinV3::setV3ResinFromAttributes_tooFewFields_marksCorruptedAndKeepsValues()
{
    QFETCH(int, fieldCount);

    ResinV3 r = probe();
    r.resinFormatVersion = 2;
    r.setV3ResinFromAttributes(probeText.split(QLatin1Char('!')).mid(0, fieldCount));
    QCOMPARE(r.name, QStringLiteral("CORRUPTEDRESIN"));
    QCOMPARE(r.resinId, QStringLiteral("CORRUPTED"));

    ResinV3 expected = probe();
    expected.resinFormatVersion = 2;
    expected.name = r.name;
    expected.resinId = r.resinId;
    QCOMPARE(r.toString(), expected.toString());
}

void TestResinV3::setV3ResinFromAttributes_setsVersion3WhateverField0Says_data()
{
    QTest::addColumn<QString>("field0");
    QTest::newRow("version 3 heading") << "ResinFormatVersion:3";
    QTest::newRow("other version") << "ResinFormatVersion:7.5";
    QTest::newRow("junk") << "junk";
    QTest::newRow("empty") << "";
}

void TestResinV3::setV3ResinFromAttributes_setsVersion3WhateverField0Says()
{
    QFETCH(QString, field0);

    QStringList fields = probeText.split(QLatin1Char('!'));
    fields[0] = field0;
    ResinV3 r;
    r.resinFormatVersion = 2;
    r.setV3ResinFromAttributes(fields);
    QCOMPARE(r.toString(), probeText);
}

void TestResinV3::numberFields_unconvertibleReadAsZero()
{
    const ResinV3 r(QStringLiteral("ResinFormatVersion:3!1001!Gray!1.0!x!1,5!nan!3.5!!inf!1e999!20.7!1!1!1!1!1!1!1!1!-"));
    QCOMPARE(r.c20, 0.0);
    QCOMPARE(r.c50, 0.0);
    QCOMPARE(r.c100, 0.0);
    QCOMPARE(r.numAdhesionLayers, 0);
    QCOMPARE(r.a20, 0.0);
    QCOMPARE(r.a50, 0.0);
    QCOMPARE(r.a100, 0.0);
    QCOMPARE(r.aThickness, 20);
    QCOMPARE(r.fineTuneFactor100, 0.0);
}

void TestResinV3::valuesByThickness_data()
{
    QTest::addColumn<int>("thickness");
    QTest::addColumn<double>("cure");
    QTest::addColumn<double>("adhesionCure");
    QTest::addColumn<double>("scaleX");
    QTest::addColumn<double>("scaleY");
    QTest::addColumn<double>("fineTune");

    QTest::newRow("20 microns") << 20 << 1.5 << 5.5 << 9.1 << 9.2 << 9.3;
    QTest::newRow("50 microns") << 50 << 2.5 << 6.5 << 9.4 << 9.5 << 9.6;
    QTest::newRow("100 microns") << 100 << 3.5 << 7.5 << 9.7 << 9.8 << 9.9;
    // Times fall back to the middle thickness; factors to no correction.
    QTest::newRow("75 microns") << 75 << 2.5 << 6.5 << 1.0 << 1.0 << 1.0;
    QTest::newRow("zero") << 0 << 2.5 << 6.5 << 1.0 << 1.0 << 1.0;
    QTest::newRow("negative") << -20 << 2.5 << 6.5 << 1.0 << 1.0 << 1.0;
}

void TestResinV3::valuesByThickness()
{
    QFETCH(int, thickness);
    QFETCH(double, cure);
    QFETCH(double, adhesionCure);
    QFETCH(double, scaleX);
    QFETCH(double, scaleY);
    QFETCH(double, fineTune);

    const ResinV3 r = probe();
    QCOMPARE(r.getCureTime(thickness), cure);
    QCOMPARE(r.getAdhesionLayerCureTime(thickness), adhesionCure);
    QCOMPARE(r.getScaleX(thickness), scaleX);
    QCOMPARE(r.getScaleY(thickness), scaleY);
    QCOMPARE(r.getFineTuneFactor(thickness), fineTune);
}

void TestResinV3::isPremium_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("premium");

    QTest::newRow("own brand") << "Surgical Guide" << true;
    QTest::newRow("empty name") << "" << true;
    QTest::newRow("outside brand") << "Corvantis Clear" << false;
    QTest::newRow("upper case") << "CORVANTIS TOUGH BLUE" << false;
    QTest::newRow("inside a word") << "NewCorvantisMix" << false;
    QTest::newRow("misspelt") << "Corvantys Clear" << true;
}

void TestResinV3::isPremium()
{
    QFETCH(QString, name);
    QFETCH(bool, premium);
    ResinV3 r;
    r.name = name;
    QCOMPARE(r.isPremium(), premium);
}

void TestResinV3::updateCalibrationVariables_copiesOnlyTheNineFactors()
{
    ResinV3 target;
    target.resinId = QStringLiteral("1001");
    target.name = QStringLiteral("Gray");
    const ResinV3 source = probe();

    target.updateCalibrationVariables(source);

    ResinV3 expected;
    expected.resinId = QStringLiteral("1001");
    expected.name = QStringLiteral("Gray");
    for (int thickness : {20, 50, 100}) {
        QCOMPARE(target.getScaleX(thickness), source.getScaleX(thickness));
        QCOMPARE(target.getScaleY(thickness), source.getScaleY(thickness));
        QCOMPARE(target.getFineTuneFactor(thickness), source.getFineTuneFactor(thickness));
    }
    // Everything but the factors stays as it was.
    const QStringList targetFields = target.toString().split(QLatin1Char('!'));
    const QStringList expectedFields = expected.toString().split(QLatin1Char('!'));
    QCOMPARE(targetFields.mid(0, 12), expectedFields.mid(0, 12));
}

void TestResinV3::toV2String_isVersion2EntryWithoutIdAndVersion()
{
    const QString v2 = probe().toV2String();
    QCOMPARE(v2, QStringLiteral("*ResinFormatVersion:2!Probe!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9"));

    LogCapture log;
    const QList<Resin> read = Resin::fromString(v2);
    QCOMPARE(read.size(), 1);
    QCOMPARE(Resin::toString(read), v2);
}

void TestResinV3::printInfo_logsOneLineWithIdAndVersion()
{
    LogCapture log;
    probe().printInfo();
    QCOMPARE(log.lines().size(), 1);
    const QString line = log.lines().first();
    QVERIFY2(line.startsWith(QStringLiteral("Printing resin. ID: 3004")), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral(" User facing Version: 2.0")), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("Probe")) && line.contains(QStringLiteral("9.9")), qPrintable(line));
}

// ---------------------------------------------------------------------------------------------
// Rollback to version 2

void TestResinV3::isNewResinString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNew");

    QTest::newRow("typical version 3 list") << typicalListText() << true;
    QTest::newRow("version 2 default list") << Resin::toString(Resin::defaultResinList()) << false;
    QTest::newRow("old list") << "*Red!5!10!15!3!20!20!20!20!1!1!1*Gray!8!9!10!4!20!21!22!50!1.01!.99!.85" << false;
    QTest::newRow("version 3 list with one version 2 entry")
        << (typicalListText() + Resin::toString({Resin(QStringLiteral("Red"))})) << false;
    QTest::newRow("heading without version") << "*ResinFormatVersion!x" << true;
    QTest::newRow("version 20 contains version 2") << "*ResinFormatVersion:20!x" << false;
    QTest::newRow("empty") << "" << false;
}

void TestResinV3::isNewResinString()
{
    QFETCH(QString, text);
    QFETCH(bool, isNew);
    QCOMPARE(ResinRollbackV3toV2::isNewResinString(text), isNew);
    QCOMPARE(Resin::isV3ResinFormat(text), isNew);
}

void TestResinV3::doesV3ResinExistInV2_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("exists");

    for (const auto &pair : v2Names)
        QTest::addRow("%s", qPrintable(pair.first)) << pair.first << true;
    for (const char *id : {"2002", "3006", "3007", "5001", "1000", "4011", "", "CORRUPTED", " 1001", "1001 ", "01001",
                           "1001.0"})
        QTest::addRow("unknown '%s'", id) << QString::fromLatin1(id) << false;
}

void TestResinV3::doesV3ResinExistInV2()
{
    QFETCH(QString, id);
    QFETCH(bool, exists);
    ResinV3 r;
    r.resinId = id;
    QCOMPARE(ResinRollbackV3toV2::doesV3ResinExistInV2(r), exists);
}

void TestResinV3::getV2NameOfV3Resin_knownIds_giveTheirV2Names()
{
    LogCapture log;
    for (const auto &pair : v2Names) {
        ResinV3 r;
        r.resinId = pair.first;
        r.name = QStringLiteral("Catalogue name");
        QCOMPARE(ResinRollbackV3toV2::getV2NameOfV3Resin(r), pair.second);
    }
    QVERIFY(log.lines().isEmpty());
}

void TestResinV3::getV2NameOfV3Resin_unknownId_logsAndKeepsOwnName()
{
    ResinV3 r;
    r.resinId = QStringLiteral("3006");
    r.name = QStringLiteral("Catalogue name");
    LogCapture log;
    QCOMPARE(ResinRollbackV3toV2::getV2NameOfV3Resin(r), QStringLiteral("Catalogue name"));
    QCOMPARE(log.lines(),
             QStringList{"ERROR -- ResinRollbackV3toV2::getV2NameOfV3Resin. Not a v2 resin. Resin id: 3006"});
}

void TestResinV3::v2Names_onlyOutsideBrandIsNotPremium()
{
    for (const auto &pair : v2Names) {
        ResinV3 r;
        r.resinId = pair.first;
        r.name = ResinRollbackV3toV2::getV2NameOfV3Resin(r);
        const bool outsideBrand = pair.first.startsWith(QLatin1Char('4')) || pair.first.startsWith(QLatin1Char('5'));
        QVERIFY2(r.isPremium() != outsideBrand, qPrintable(r.name));
    }
}

void TestResinV3::convert_typicalList_keepsKnownResinsInOrderWithV2Names()
{
    QString expected;
    for (const CatalogueRow &row : typicalList) {
        if (knownToV2(row))
            expected += expectedV2Entry(row);
    }

    LogCapture log;
    const QString converted = ResinRollbackV3toV2::convertNewResinStringToV2String(typicalListText());
    QCOMPARE(converted, expected);

    const QStringList entries = converted.split(QLatin1Char('*')).mid(1);
    QCOMPARE(entries.size(), 21);
    QStringList names;
    for (const QString &entry : entries) {
        const QStringList fields = entry.split(QLatin1Char('!'));
        QCOMPARE(fields.size(), 19);
        QCOMPARE(fields.first(), QStringLiteral("ResinFormatVersion:2"));
        names << fields.at(1);
    }
    QStringList expectedNames;
    for (const auto &pair : v2Names)
        expectedNames << pair.second;
    QCOMPARE(names, expectedNames);
    QVERIFY(entries.at(4).startsWith(QStringLiteral("ResinFormatVersion:2!Surgical Guide!-1!2.2!3.6!")));
    QVERIFY(entries.at(18).startsWith(QStringLiteral("ResinFormatVersion:2!Corvantis Draft Gray!3.6!4!-1!")));
    QVERIFY(!converted.contains(QStringLiteral("Catalogue resin")));
}

void TestResinV3::convert_typicalList_readByResinFromString()
{
    LogCapture log;
    const QList<Resin> read = Resin::fromString(typicalListText());

    QStringList expectedNames;
    for (const auto &pair : v2Names)
        expectedNames << pair.second;
    QCOMPARE(namesOf(read), expectedNames);

    const Resin &surgical = read.at(4);
    QCOMPARE(surgical.c20, -1.0);
    QCOMPARE(surgical.c50, 2.2);
    QCOMPARE(surgical.c100, 3.6);
    QCOMPARE(surgical.a50, 20.0);
    const Resin &gray = read.at(0);
    QCOMPARE(gray.a20, 45.0);
    QCOMPARE(gray.a100, 45.0);
    QCOMPARE(gray.numAdhesionLayers, 3);
    QCOMPARE(gray.aThickness, 20);

    // Stored as version 2 from now on.
    QCOMPARE(Resin::toString(read), ResinRollbackV3toV2::convertNewResinStringToV2String(typicalListText()));
}

void TestResinV3::convert_calibrationSurvives()
{
    const QString text = typicalListText({
        {"4007", "1!1!1!0.9!1!0.7!0.9!1!1.1"},
        {"4009", "1.1!0.9!0.9!1!1!1!1!1!1"},
    });

    LogCapture log;
    const QList<Resin> read = Resin::fromString(text);
    QCOMPARE(read.size(), 21);

    const Resin &flex = read.at(17);
    QCOMPARE(flex.name, QStringLiteral("Corvantis Flex Green"));
    QCOMPARE(flex.scaleX20, 1.0);
    QCOMPARE(flex.scaleY20, 1.0);
    QCOMPARE(flex.fineTuneFactor20, 1.0);
    QCOMPARE(flex.scaleX50, 0.9);
    QCOMPARE(flex.scaleY50, 1.0);
    QCOMPARE(flex.fineTuneFactor50, 0.7);
    QCOMPARE(flex.scaleX100, 0.9);
    QCOMPARE(flex.scaleY100, 1.0);
    QCOMPARE(flex.fineTuneFactor100, 1.1);

    const Resin &peach = read.at(19);
    QCOMPARE(peach.name, QStringLiteral("Corvantis Dental Peach"));
    QCOMPARE(peach.scaleX20, 1.1);
    QCOMPARE(peach.scaleY20, 0.9);
    QCOMPARE(peach.fineTuneFactor20, 0.9);
    QCOMPARE(peach.fineTuneFactor50, 1.0);

    // No other resin picked up the changed factors.
    for (int i = 0; i < read.size(); ++i) {
        if (i == 17 || i == 19)
            continue;
        QCOMPARE(read.at(i).fineTuneFactor50, 1.0);
        QCOMPARE(read.at(i).scaleX20, 1.0);
    }
}

void TestResinV3::convert_shortOrEmptyEntries_areDropped_data()
{
    QTest::addColumn<QString>("middle");

    const QString full = v3Entry(typicalList[2]);
    QTest::newRow("twenty fields") << full.left(full.lastIndexOf(QLatin1Char('!')));
    QTest::newRow("id only") << "*ResinFormatVersion:3!1003";
    QTest::newRow("empty entry") << "*";
    QTest::newRow("no field after the heading") << "*ResinFormatVersion:3";
}

void TestResinV3::convert_shortOrEmptyEntries_areDropped()
{
    QFETCH(QString, middle);

    const QString text = v3Entry(typicalList[0]) + middle + v3Entry(typicalList[3]);
    LogCapture log;
    QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(text),
             expectedV2Entry(typicalList[0]) + expectedV2Entry(typicalList[3]));
}

void TestResinV3::convert_notNewText_logsAndReturnsTextUnchanged()
{
    const QString text = Resin::toString(Resin::defaultResinList());
    LogCapture log;
    QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(text), text);
    QCOMPARE(log.lines(),
             QStringList{"ERROR -- ResinRollbackV3toV2::convertNewResinStringListToV2StringList. Not new string. "
                         "String: \"" + text + "\""});
}

void TestResinV3::convert_randomText_givesOnlyWellFormedKnownEntries()
{
    QStringList knownNames;
    for (const auto &pair : v2Names)
        knownNames << pair.second;
    const QStringList tokens = {"ResinFormatVersion:3", "ResinFormatVersion", "1001", "4007", "5001", "3006",
                                "", "-1", "2.2", "x", "*", "!", "nan", "1e999"};
    QRandomGenerator random(7u);

    for (int round = 0; round < 2000; ++round) {
        QString text = QStringLiteral("ResinFormatVersion:3");
        const int entries = random.bounded(4);
        for (int e = 0; e < entries; ++e) {
            text += QLatin1Char('*');
            const int fields = 18 + random.bounded(6);
            for (int f = 0; f < fields; ++f) {
                if (f > 0)
                    text += QLatin1Char('!');
                text += tokens.at(random.bounded(tokens.size()));
            }
        }

        LogCapture log;
        const QString converted = ResinRollbackV3toV2::convertNewResinStringToV2String(text);
        const QStringList out = converted.split(QLatin1Char('*'));
        QVERIFY2(out.first().isEmpty(), qPrintable(text));
        QVERIFY2(out.size() - 1 <= text.count(QLatin1Char('*')), qPrintable(text));
        for (const QString &entry : out.mid(1)) {
            const QStringList fields = entry.split(QLatin1Char('!'));
            QCOMPARE(fields.size(), 19);
            QCOMPARE(fields.first(), QStringLiteral("ResinFormatVersion:2"));
            QVERIFY2(knownNames.contains(fields.at(1)), qPrintable(entry));
        }
    }
}

QTEST_GUILESS_MAIN(TestResinV3)
#include "tst_resinv3.moc"
