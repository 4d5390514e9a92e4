#include "logcapture.h"
#include "namelist.h"
#include "resin.h"
#include "resinrollbackv3tov2.h"
#include "resinv3.h"

#include <QtTest>

namespace {

// One row of a typical version 3 list. Numbers are kept as the text they are written as.
struct CatalogueRow {
    const char *id;
    const char *c20;
    const char *c50;
    const char *c100;
    const char *adhesion;
    const char *version;
};

const CatalogueRow typicalList[] = {
    {"1001", "6", "10", "14", "45", "1.0"},
    {"1002", "6", "10", "14", "45", "1.0"},
    {"1003", "5", "10", "15", "30", "1.0"},
    {"1004", "5", "10", "15", "30", "1.0"},
    {"1005", "-1", "2.2", "3.6", "20", "1.0"},
    {"2001", "-1", "6", "7.2", "35", "1.0"},
    {"2002", "-1", "6", "7.2", "35", "2.0"},
    {"3001", "-1", "6", "7.5", "15", "1.0"},
    {"3002", "-1", "3", "5", "15", "1.0"},
    {"3003", "-1", "5", "6", "20", "1.0"},
    {"3004", "-1", "6", "8.4", "20", "2.0"},
    {"3005", "-1", "3.6", "5", "20", "2.0"},
    {"3006", "-1", "4.4", "8", "25", "1.0"},
    {"3007", "-1", "3.5", "4", "15", "1.0"},
    {"4001", "-1", "4", "6", "20", "1.0"},
    {"4002", "-1", "5", "6", "30", "1.0"},
    {"4003", "-1", "10", "15", "30", "1.0"},
    {"4004", "-1", "5", "7.5", "30", "1.0"},
    {"4005", "4", "6", "12", "30", "1.0"},
    {"4006", "3", "4", "6", "30", "1.0"},
    {"4007", "3.5", "5", "7", "30", "1.0"},
    {"4008", "3.6", "4", "-1", "30", "1.0"},
    {"4009", "6", "8", "15", "30", "1.0"},
    {"4010", "-1", "4", "6", "20", "1.0"},
};

const QString allOnes = QStringLiteral("1!1!1!1!1!1!1!1!1");

// Version 3 names differ from the version 2 ones, so that the converter's renaming shows.
QString v3Entry(const CatalogueRow &row, const QString &factors = allOnes)
{
    const QString a = QString::fromLatin1(row.adhesion);
    return QStringLiteral("*ResinFormatVersion:3!%1!Catalogue resin %1!%2!%3!%4!%5!3!%6!%6!%6!20!%7")
        .arg(QLatin1String(row.id), QLatin1String(row.version), QLatin1String(row.c20), QLatin1String(row.c50),
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

// The version 2 entries of typicalList[0] and typicalList[3].
const QString grayV2 = QStringLiteral("*ResinFormatVersion:2!Gray!6!10!14!3!45!45!45!20!1!1!1!1!1!1!1!1!1");
const QString whiteV2 = QStringLiteral("*ResinFormatVersion:2!White!5!10!15!3!30!30!30!20!1!1!1!1!1!1!1!1!1");

// The names version 2 profiles of the catalogue resins carry, in catalogue order. Profiles
// are matched by exact name, so these texts must never change.
const QStringList v2Names = {
    "Gray",
    "Dental Model",
    "Clear",
    "White",
    "Surgical Guide",
    "Die Stone Beige",
    "Castable Violet",
    "Flexible Black",
    "Tough Gray",
    "High Temp Amber",
    "Ceramic White",
    "Corvantis Standard Black",
    "Corvantis Standard White",
    "Corvantis Clear",
    "Corvantis Tough Blue",
    "Corvantis Model Gray",
    "Corvantis Rapid Ivory",
    "Corvantis Flex Green",
    "Corvantis Draft Gray",
    "Corvantis Dental Peach",
    "Corvantis Castable Red",
};

QList<double> factorsOf(const ResinSettings &r)
{
    return {r.scaleX20, r.scaleY20, r.fineTuneFactor20, r.scaleX50, r.scaleY50, r.fineTuneFactor50, r.scaleX100,
        r.scaleY100, r.fineTuneFactor100};
}

// A record whose every number differs from the defaults and from each other.
const QString probeText = QStringLiteral(
    "ResinFormatVersion:3!3004!Probe!2.0!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9");

ResinV3 probe()
{
    return ResinV3(probeText);
}

} // namespace

class TestResinV3 : public QObject
{
    Q_OBJECT

private slots:
    // ---- The version 3 record ----
    void defaultRecord_writesVersion3WithDefaultCureTimes()
    {
        const ResinV3 r;
        QCOMPARE(r.getResinFormatVersionString(), QStringLiteral("ResinFormatVersion:3"));
        QCOMPARE(r.toString(), QStringLiteral("ResinFormatVersion:3!!!1.0!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"));
        QCOMPARE(ResinV3(QString()).toString(), r.toString());
    }

    void entryText_fieldsLandInTheirPlacesAndRoundTrip()
    {
        const ResinV3 read(probeText);
        QCOMPARE(read.resinId, QStringLiteral("3004"));
        QCOMPARE(read.name, QStringLiteral("Probe"));
        QCOMPARE(read.userFacingVersion, QStringLiteral("2.0"));
        QCOMPARE((QList<double> {read.c20, read.c50, read.c100, double(read.numAdhesionLayers), read.a20, read.a50,
                     read.a100, double(read.aThickness)}),
            (QList<double> {1.5, 2.5, 3.5, 4, 5.5, 6.5, 7.5, 8}));
        QCOMPARE(factorsOf(read), (QList<double> {9.1, 9.2, 9.3, 9.4, 9.5, 9.6, 9.7, 9.8, 9.9}));
        QCOMPARE(read.toString(), probeText);

        // Fields past the 21st are ignored.
        QCOMPARE(ResinV3(probeText + QStringLiteral("!extra!fields")).toString(), probeText);
    }

    void toString_textFieldsWithSeparators_keepTheEntryReadable()
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

    void setV3ResinFromAttributes_tooFewFields_marksCorruptedAndKeepsValues_data()
    {
        QTest::addColumn<int>("fieldCount");
        QTest::newRow("no field") << 0;
        QTest::newRow("one short") << 20;
    }

    void setV3ResinFromAttributes_tooFewFields_marksCorruptedAndKeepsValues()
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

    void setV3ResinFromAttributes_setsVersion3WhateverField0Says()
    {
        for (const QString field0 : {"ResinFormatVersion:7.5", ""}) {
            QStringList fields = probeText.split(QLatin1Char('!'));
            fields[0] = field0;
            ResinV3 r;
            r.resinFormatVersion = 2;
            r.setV3ResinFromAttributes(fields);
            QCOMPARE(r.toString(), probeText);
        }
    }

    void valuesByThickness_data()
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
    }

    void valuesByThickness()
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

    void isPremium_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("premium");

        QTest::newRow("own brand") << "Surgical Guide" << true;
        QTest::newRow("outside brand") << "Corvantis Clear" << false;
        QTest::newRow("upper case") << "CORVANTIS TOUGH BLUE" << false;
        QTest::newRow("inside a word") << "NewCorvantisMix" << false;
    }

    void isPremium()
    {
        QFETCH(QString, name);
        QFETCH(bool, premium);
        ResinV3 r;
        r.name = name;
        QCOMPARE(r.isPremium(), premium);
    }

    void updateCalibrationVariables_copiesOnlyTheNineFactors()
    {
        ResinV3 target;
        target.resinId = QStringLiteral("1001");
        target.name = QStringLiteral("Gray");
        const QString before = target.toString();

        target.updateCalibrationVariables(probe());

        QCOMPARE(factorsOf(target), factorsOf(probe()));
        // Everything but the factors stays as it was.
        QCOMPARE(target.toString().split(QLatin1Char('!')).mid(0, 12), before.split(QLatin1Char('!')).mid(0, 12));
    }

    void toV2String_isVersion2EntryWithoutIdAndVersion()
    {
        // The entry that tst_resin reads field by field.
        QCOMPARE(probe().toV2String(),
            QStringLiteral(
                "*ResinFormatVersion:2!Probe!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9"));
    }

    // ---- Rollback to version 2 ----
    void isNewResinString_data()
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
    }

    void isNewResinString()
    {
        QFETCH(QString, text);
        QFETCH(bool, isNew);
        QCOMPARE(ResinRollbackV3toV2::isNewResinString(text), isNew);
        QCOMPARE(Resin::isV3ResinFormat(text), isNew);
    }

    void doesV3ResinExistInV2_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("exists");

        QTest::newRow("first") << "1001" << true;
        QTest::newRow("last") << "4010" << true;
        for (const char *id : {"2002", "4011", "", " 1001", "01001"})
            QTest::addRow("unknown '%s'", id) << QString::fromLatin1(id) << false;
    }

    void doesV3ResinExistInV2()
    {
        QFETCH(QString, id);
        QFETCH(bool, exists);
        ResinV3 r;
        r.resinId = id;
        QCOMPARE(ResinRollbackV3toV2::doesV3ResinExistInV2(r), exists);
    }

    void getV2NameOfV3Resin_unknownId_logsAndKeepsOwnName()
    {
        ResinV3 r;
        r.resinId = QStringLiteral("3006");
        r.name = QStringLiteral("Catalogue name");
        LogCapture log;
        QCOMPARE(ResinRollbackV3toV2::getV2NameOfV3Resin(r), QStringLiteral("Catalogue name"));
        QCOMPARE(log.lines(),
            QStringList {"ERROR -- ResinRollbackV3toV2::getV2NameOfV3Resin. Not a v2 resin. Resin id: 3006"});
    }

    void convert_typicalList_keepsKnownResinsInOrderWithV2Names()
    {
        LogCapture log;
        const QString converted = ResinRollbackV3toV2::convertNewResinStringToV2String(typicalListText());
        QVERIFY(log.lines().isEmpty());

        const QStringList entries = converted.split(QLatin1Char('*')).mid(1);
        QStringList names;
        for (const QString &entry : entries) {
            const QStringList fields = entry.split(QLatin1Char('!'));
            QCOMPARE(fields.size(), 19);
            QCOMPARE(fields.first(), QStringLiteral("ResinFormatVersion:2"));
            names << fields.at(1);
        }
        QCOMPARE(names, v2Names);
        QVERIFY(converted.startsWith(grayV2));
        QCOMPARE(entries.at(4),
            QStringLiteral("ResinFormatVersion:2!Surgical Guide!-1!2.2!3.6!3!20!20!20!20!1!1!1!1!1!1!1!1!1"));
        QCOMPARE(entries.at(18),
            QStringLiteral("ResinFormatVersion:2!Corvantis Draft Gray!3.6!4!-1!3!30!30!30!20!1!1!1!1!1!1!1!1!1"));

        // Read through Resin::fromString, and stored as version 2 from now on.
        const QList<Resin> read = Resin::fromString(typicalListText());
        QCOMPARE(namesOf(read), v2Names);
        QCOMPARE(Resin::toString(read), converted);
    }

    void convert_calibrationSurvives()
    {
        const QString text = typicalListText({
            {"4007", "1!1!1!0.9!1!0.7!0.9!1!1.1"},
            {"4009", "1.1!0.9!0.9!1!1!1!1!1!1"},
        });

        LogCapture log;
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(read.size(), 21);
        QCOMPARE(read.at(17).name, QStringLiteral("Corvantis Flex Green"));
        QCOMPARE(factorsOf(read.at(17)), (QList<double> {1, 1, 1, 0.9, 1, 0.7, 0.9, 1, 1.1}));
        QCOMPARE(read.at(19).name, QStringLiteral("Corvantis Dental Peach"));
        QCOMPARE(factorsOf(read.at(19)), (QList<double> {1.1, 0.9, 0.9, 1, 1, 1, 1, 1, 1}));

        // No other resin picked up the changed factors.
        for (int i = 0; i < read.size(); ++i) {
            if (i != 17 && i != 19)
                QCOMPARE(factorsOf(read.at(i)), QVector<double>(9, 1.0).toList());
        }
    }

    void convert_shortOrEmptyEntries_areDropped_data()
    {
        QTest::addColumn<QString>("middle");

        const QString full = v3Entry(typicalList[2]);
        QTest::newRow("twenty fields") << full.left(full.lastIndexOf(QLatin1Char('!')));
        QTest::newRow("id only") << "*ResinFormatVersion:3!1003";
        QTest::newRow("empty entry") << "*";
    }

    void convert_shortOrEmptyEntries_areDropped()
    {
        QFETCH(QString, middle);

        const QString text = v3Entry(typicalList[0]) + middle + v3Entry(typicalList[3]);
        LogCapture log;
        QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(text), grayV2 + whiteV2);
    }

    void convert_notNewText_logsAndReturnsTextUnchanged()
    {
        const QString text = Resin::toString(Resin::defaultResinList());
        LogCapture log;
        QCOMPARE(ResinRollbackV3toV2::convertNewResinStringToV2String(text), text);
        QCOMPARE(log.lines(),
            QStringList {"ERROR -- ResinRollbackV3toV2::convertNewResinStringListToV2StringList. Not new string. "
                         "String: \""
                + text + "\""});
    }
};

QTEST_GUILESS_MAIN(TestResinV3)
#include "tst_resinv3.moc"
