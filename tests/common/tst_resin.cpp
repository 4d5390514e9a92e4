#include "logcapture.h"
#include "namelist.h"
#include "resin.h"

#include <QRandomGenerator>
#include <QtTest>

#include <iterator>

Q_DECLARE_METATYPE(Resin)

namespace {

const QString defaultListText = QStringLiteral(
    "*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
    "*ResinFormatVersion:2!Green!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
    "*ResinFormatVersion:2!Orange!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
    "*ResinFormatVersion:2!Gray!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
    "*ResinFormatVersion:2!Clear!4!7!11!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
    "*ResinFormatVersion:2!White!4!7!11!3!20!20!20!20!1!1!1!1!1!1!1!1!1");

const QString oldRedText = QStringLiteral("*Red!5!10!15!3!20!20!20!20!1!1!1");
const QString oldGrayText = QStringLiteral("*Gray!8!9!10!4!20!21!22!50!1.01!.99!.85");

QString v2Entry(const QString &name, const QString &c20 = QStringLiteral("5"))
{
    return QStringLiteral("*ResinFormatVersion:2!") + name + QLatin1Char('!') + c20
        + QStringLiteral("!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1");
}

QStringList entryFields(const QString &listText, int entryIndex)
{
    return listText.split(QLatin1Char('*')).value(entryIndex + 1).split(QLatin1Char('!'));
}

// A list whose every number differs from the defaults and from each other.
QList<Resin> calibratedList()
{
    QList<Resin> list;
    for (int i = 0; i < 4; ++i) {
        Resin r(QStringLiteral("Calibrated %1").arg(i));
        r.numAdhesionLayers = 2 + i;
        r.aThickness = 30 + i;
        r.a20 = 41.5 + i;
        r.a50 = 35.25 + i;
        r.a100 = 28.125 + i;
        r.c20 = -1;
        r.c50 = 3.6; // literals, so that no sum drifts past six digits
        r.c100 = 7.2;
        r.scaleX20 = 1.0125;
        r.scaleY20 = 0.987654;
        r.fineTuneFactor20 = 0.7;
        r.scaleX50 = 1.00001;
        r.scaleY50 = 0.95;
        r.fineTuneFactor50 = 1.3;
        r.scaleX100 = 0.9;
        r.scaleY100 = 1.1;
        r.fineTuneFactor100 = 0.85;
        list << r;
    }
    return list;
}

} // namespace

class TestResin : public QObject
{
    Q_OBJECT

private slots:
    // Writing
    void toString_defaultList_isSixVersion2EntriesByteForByte();
    void toString_numbers_useGNotationWithSixDigits_data();
    void toString_numbers_useGNotationWithSixDigits();
    void emptyList_andEmptyText_correspond();
    void toString_nameWithSeparators_keepsTheListReadable();

    // Reading version 2
    void fromString_writtenList_readsBackIdentical_data();
    void fromString_writtenList_readsBackIdentical();
    void fromString_version2Entry_fieldsLandInTheirPlaces();
    void fromString_numberFields_convertWithCLocaleRules_data();
    void fromString_numberFields_convertWithCLocaleRules();
    void fromString_doubleFields_unconvertibleReadAsZero_data();
    void fromString_doubleFields_unconvertibleReadAsZero();

    // Old format
    void fromString_oldEntry_readsAndWritesAsVersion2();
    void fromString_oldEntry_factorsLandAt50Microns();
    void fromString_oldEntryWithMissingFields_readsThemAsZero();
    void isOldResinFormat_data();
    void isOldResinFormat();

    // Damaged lists
    void isCorruptedResinList_data();
    void isCorruptedResinList();
    void fromString_damagedList_keepsCountOrderAndNames_data();
    void fromString_damagedList_keepsCountOrderAndNames();
    void isNumberNotWord_data();
    void isNumberNotWord();

    // Texts without entries
    void fromString_textWithoutStar_isEmptyListAndOneLogLine_data();
    void fromString_textWithoutStar_isEmptyListAndOneLogLine();

    // Version 3 recognition
    void isV3ResinFormat_data();
    void isV3ResinFormat();
    void fromString_listWithVersion2Heading_isNeverConverted();
    void fromString_version3List_isConvertedAndLogged();
    void convertV3ResinFormatToCurrentFormat_notV3_logsAndReturnsTextUnchanged();

    // Robustness
    void fromString_strayStarsAndBangs_giveOneProfilePerStar_data();
    void fromString_strayStarsAndBangs_giveOneProfilePerStar();
    void fromString_randomText_neverFailsAndNormalisesInOneStep();
    void fromString_hugeTexts_areReadCompletely();

    void printInfo_logsOneLineWithNameAndNumbers();
};

// ---------------------------------------------------------------------------------------------
// Writing

void TestResin::toString_defaultList_isSixVersion2EntriesByteForByte()
{
    QCOMPARE(Resin::resinFormatText, QStringLiteral("ResinFormatVersion:2"));

    const QString text = Resin::toString(Resin::defaultResinList());
    QCOMPARE(text, defaultListText);

    const QStringList entries = text.split(QLatin1Char('*')).mid(1);
    QCOMPARE(entries.size(), 6);
    for (const QString &entry : entries) {
        QVERIFY2(entry.startsWith(QStringLiteral("ResinFormatVersion:2!")), qPrintable(entry));
        QCOMPARE(entry.split(QLatin1Char('!')).size(), 19);
    }
}

void TestResin::toString_numbers_useGNotationWithSixDigits_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("written");

    QTest::newRow("whole number") << 5.0 << "5";
    QTest::newRow("fraction") << 0.9 << "0.9";
    QTest::newRow("minus one") << -1.0 << "-1";
    QTest::newRow("rounded to six digits") << 0.98765432 << "0.987654";
    QTest::newRow("a million takes the exponent") << 1e6 << "1e+06";
    QTest::newRow("just below a million") << 999999.0 << "999999";
    QTest::newRow("rounding up to a million") << 1234567.0 << "1.23457e+06";
    QTest::newRow("smallest without exponent") << 0.0001 << "0.0001";
    QTest::newRow("below 0.0001 takes the exponent") << 0.00001 << "1e-05";
}

void TestResin::toString_numbers_useGNotationWithSixDigits()
{
    QFETCH(double, value);
    QFETCH(QString, written);

    Resin r(QStringLiteral("Probe"));
    r.c50 = value;
    r.fineTuneFactor100 = value;
    const QStringList fields = entryFields(Resin::toString({r}), 0);
    QCOMPARE(fields.value(3), written);
    QCOMPARE(fields.value(18), written);
}

void TestResin::emptyList_andEmptyText_correspond()
{
    QCOMPARE(Resin::toString({}), QString());
    LogCapture log;
    QVERIFY(Resin::fromString(QString()).isEmpty());
    QVERIFY(Resin::fromString(QStringLiteral("")).isEmpty());
}

void TestResin::toString_nameWithSeparators_keepsTheListReadable()
{
    // A separator inside a name would damage the list and cost every profile its numbers.
    QList<Resin> resins = calibratedList();
    resins[0].name = QStringLiteral("Red*Blue!");

    LogCapture log;
    const QString text = Resin::toString(resins);
    QCOMPARE(log.lines(), QStringList{"MINOR_ERROR. Resin::toString. List separator removed from resin name: "
                                      "\"Red*Blue!\""});
    const QList<Resin> read = Resin::fromString(text);
    QCOMPARE(read.size(), resins.size());
    QCOMPARE(read.first().name, QStringLiteral("RedBlue"));
    for (int i = 1; i < resins.size(); ++i)
        QVERIFY(read.at(i) == resins.at(i));
    QCOMPARE(read.first().fineTuneFactor50, 1.3);
}

// ---------------------------------------------------------------------------------------------
// Reading version 2

void TestResin::fromString_writtenList_readsBackIdentical_data()
{
    QTest::addColumn<QList<Resin>>("resins");

    QTest::newRow("default list") << Resin::defaultResinList();
    QTest::newRow("calibrated list") << calibratedList();
    QList<Resin> unusualNames{Resin(QStringLiteral("Résine Ω 2")), Resin(QStringLiteral(" spaced ")),
                              Resin(QString()), Resin(QStringLiteral("Gray"))};
    QTest::newRow("unusual and repeated names") << (unusualNames + Resin::defaultResinList());
}

void TestResin::fromString_writtenList_readsBackIdentical()
{
    QFETCH(QList<Resin>, resins);

    const QString text = Resin::toString(resins);
    LogCapture log;
    const QList<Resin> read = Resin::fromString(text);
    QCOMPARE(read.size(), resins.size());
    for (int i = 0; i < resins.size(); ++i)
        QVERIFY2(read.at(i) == resins.at(i), qPrintable(QStringLiteral("profile %1").arg(i)));
    QCOMPARE(Resin::toString(read), text);
}

void TestResin::fromString_version2Entry_fieldsLandInTheirPlaces()
{
    LogCapture log;
    const QList<Resin> read = Resin::fromString(QStringLiteral(
        "*ResinFormatVersion:2!Probe!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9"));
    QCOMPARE(read.size(), 1);
    const Resin &r = read.first();
    QCOMPARE(r.name, QStringLiteral("Probe"));
    QCOMPARE(r.c20, 1.5);
    QCOMPARE(r.c50, 2.5);
    QCOMPARE(r.c100, 3.5);
    QCOMPARE(r.numAdhesionLayers, 4);
    QCOMPARE(r.a20, 5.5);
    QCOMPARE(r.a50, 6.5);
    QCOMPARE(r.a100, 7.5);
    QCOMPARE(r.aThickness, 8);
    QCOMPARE(r.scaleX20, 9.1);
    QCOMPARE(r.scaleY20, 9.2);
    QCOMPARE(r.fineTuneFactor20, 9.3);
    QCOMPARE(r.scaleX50, 9.4);
    QCOMPARE(r.scaleY50, 9.5);
    QCOMPARE(r.fineTuneFactor50, 9.6);
    QCOMPARE(r.scaleX100, 9.7);
    QCOMPARE(r.scaleY100, 9.8);
    QCOMPARE(r.fineTuneFactor100, 9.9);
    QVERIFY(log.lines().contains(QStringLiteral("Resin::fromString")));
}

void TestResin::fromString_numberFields_convertWithCLocaleRules_data()
{
    QTest::addColumn<QString>("thicknessText");
    QTest::addColumn<QString>("layersText");
    QTest::addColumn<int>("thickness");
    QTest::addColumn<int>("layers");

    QTest::newRow("20.7 truncates, 3.5 fails") << "20.7" << "3.5" << 20 << 0;
    QTest::newRow("negative truncates toward zero") << "-20.7" << "-3" << -20 << -3;
    QTest::newRow("exponent thickness, signed count") << "1e2" << "+4" << 100 << 4;
    QTest::newRow("words read as zero") << "thick" << "three" << 0 << 0;
    QTest::newRow("empty fields read as zero") << "" << "" << 0 << 0;
    QTest::newRow("out of integer range reads as zero") << "1e12" << "99999999999" << 0 << 0;
    QTest::newRow("not a finite number") << "nan" << "0x3" << 0 << 0;
}

void TestResin::fromString_numberFields_convertWithCLocaleRules()
{
    QFETCH(QString, thicknessText);
    QFETCH(QString, layersText);
    QFETCH(int, thickness);
    QFETCH(int, layers);

    const QString v2 = QStringLiteral("*ResinFormatVersion:2!Red!5!10!15!%1!20!20!20!%2!1!1!1!1!1!1!1!1!1")
                           .arg(layersText, thicknessText);
    const QString old = QStringLiteral("*Red!5!10!15!%1!20!20!20!%2!1!1!1").arg(layersText, thicknessText);

    LogCapture log;
    for (const QString &text : {v2, old}) {
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.first().name, QStringLiteral("Red"));
        QCOMPARE(read.first().aThickness, thickness);
        QCOMPARE(read.first().numAdhesionLayers, layers);
        QCOMPARE(read.first().c100, 15.0);
    }
}

void TestResin::fromString_doubleFields_unconvertibleReadAsZero_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("value");

    QTest::newRow("leading point") << ".99" << 0.99;
    QTest::newRow("exponent form") << "1e+06" << 1e6;
    QTest::newRow("decimal comma is not C locale") << "1,5" << 0.0;
    QTest::newRow("word") << "fast" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("overflow") << "1e999" << 0.0;
    QTest::newRow("infinity") << "inf" << 0.0;
    QTest::newRow("not a number") << "nan" << 0.0;
}

void TestResin::fromString_doubleFields_unconvertibleReadAsZero()
{
    QFETCH(QString, field);
    QFETCH(double, value);

    LogCapture log;
    const QList<Resin> read = Resin::fromString(
        QStringLiteral("*ResinFormatVersion:2!Red!%1!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!%1").arg(field));
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.first().c20, value);
    QCOMPARE(read.first().fineTuneFactor100, value);
    QCOMPARE(read.first().c50, 10.0);
}

// ---------------------------------------------------------------------------------------------
// Old format

void TestResin::fromString_oldEntry_readsAndWritesAsVersion2()
{
    LogCapture log;
    const QList<Resin> read = Resin::fromString(oldRedText);
    QCOMPARE(read.size(), 1);
    Resin expected(QStringLiteral("Red"));
    expected.c20 = 5;
    expected.c50 = 10;
    expected.c100 = 15;
    QVERIFY(read.first() == expected);
    QCOMPARE(Resin::toString(read),
             QStringLiteral("*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"));
    QVERIFY(log.lines().contains(QStringLiteral(" Resin::fromStringWithOldResinFormat")));
    QVERIFY(log.lines().contains(QStringLiteral(
        "Resin::isOldResinFormat. Attribute1: Red Contains resinFormatHeading: false")));
}

void TestResin::fromString_oldEntry_factorsLandAt50Microns()
{
    LogCapture log;
    const QList<Resin> read = Resin::fromString(oldGrayText);
    QCOMPARE(read.size(), 1);
    const Resin &r = read.first();
    QCOMPARE(r.name, QStringLiteral("Gray"));
    QCOMPARE(r.c20, 8.0);
    QCOMPARE(r.c50, 9.0);
    QCOMPARE(r.c100, 10.0);
    QCOMPARE(r.numAdhesionLayers, 4);
    QCOMPARE(r.a20, 20.0);
    QCOMPARE(r.a50, 21.0);
    QCOMPARE(r.a100, 22.0);
    QCOMPARE(r.aThickness, 50);
    QCOMPARE(r.scaleX50, 1.01);
    QCOMPARE(r.scaleY50, 0.99);
    QCOMPARE(r.fineTuneFactor50, 0.85);
    for (double factor : {r.scaleX20, r.scaleY20, r.fineTuneFactor20, r.scaleX100, r.scaleY100,
                          r.fineTuneFactor100})
        QCOMPARE(factor, 1.0);
}

void TestResin::fromString_oldEntryWithMissingFields_readsThemAsZero()
{
    LogCapture log;
    const QList<Resin> read = Resin::fromString(oldGrayText + QStringLiteral("*Blue!7"));
    QCOMPARE(namesOf(read), (QStringList{"Gray", "Blue"}));
    const Resin &blue = read.at(1);
    QCOMPARE(blue.c20, 7.0);
    QCOMPARE(blue.c50, 0.0);
    QCOMPARE(blue.aThickness, 0);
    QCOMPARE(blue.scaleX50, 0.0);
    QCOMPARE(blue.scaleX20, 1.0);
    QCOMPARE(blue.fineTuneFactor100, 1.0);
}

void TestResin::isOldResinFormat_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("old");

    QTest::newRow("old list") << (oldRedText + oldGrayText) << true;
    QTest::newRow("text before the first star is ignored") << ("garbage" + oldRedText) << true;
    QTest::newRow("version 2 default list") << defaultListText << false;
    QTest::newRow("heading with twelve fields") << "*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1" << true;
    QTest::newRow("version 2 entry then old entry") << (v2Entry("Red") + oldGrayText) << false;
    QTest::newRow("version 3 entry") << "*ResinFormatVersion:3!1001!Gray!1.0!6!10!14!3!45!45!45!20!1!1!1!1!1!1!1!1!1"
                                     << false;
    QTest::newRow("empty text") << "" << false;
    QTest::newRow("no star") << "Red!5!10!15!3!20!20!20!20!1!1!1" << false;
}

void TestResin::isOldResinFormat()
{
    QFETCH(QString, text);
    QFETCH(bool, old);
    LogCapture log;
    QCOMPARE(Resin::isOldResinFormat(text), old);
}

// ---------------------------------------------------------------------------------------------
// Damaged lists

void TestResin::isCorruptedResinList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("corrupted");

    QTest::newRow("default list") << defaultListText << false;
    QTest::newRow("version 2 entry then old entry") << (v2Entry("Red") + oldGrayText) << true;
    QTest::newRow("entry with twenty fields") << (v2Entry("Red") + "!1") << true;
    QTest::newRow("trailing star") << (defaultListText + "*") << true;
    QTest::newRow("empty text") << "" << false;
    QTest::newRow("no star") << "ResinFormatVersion:2!Red" << false;
}

void TestResin::isCorruptedResinList()
{
    QFETCH(QString, text);
    QFETCH(bool, corrupted);
    QCOMPARE(Resin::isCorruptedResinList(text), corrupted);
}

void TestResin::fromString_damagedList_keepsCountOrderAndNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("old entry after a version 2 entry")
        << (v2Entry("Red") + oldGrayText + v2Entry("White")) << QStringList{"Red", "Gray", "White"};
    QTest::newRow("version 2 entry missing a field keeps its name")
        << (QStringLiteral("*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1") + v2Entry("Green"))
        << QStringList{"Red", "Green"};
    QTest::newRow("entry of numbers only")
        << (v2Entry("Red") + "*1!2!-3!4.5!,!.") << QStringList{"Red", "CORRUPTED RESIN"};
    QTest::newRow("empty entry from a stray star")
        << (v2Entry("Red") + "*" + v2Entry("Green")) << QStringList{"Red", "CORRUPTED RESIN", "Green"};
    QTest::newRow("heading only") << "*ResinFormatVersion:2" << QStringList{"CORRUPTED RESIN"};
    QTest::newRow("name after numbers and empty fields")
        << (v2Entry("Red") + "*ResinFormatVersion:2!!--5!1,5!Teal!Other") << QStringList{"Red", "Teal"};
}

void TestResin::fromString_damagedList_keepsCountOrderAndNames()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);

    LogCapture log;
    const QList<Resin> read = Resin::fromString(text);
    QCOMPARE(namesOf(read), names);
    // Numbers of a damaged list are not trusted: every profile carries the defaults.
    for (const Resin &r : read) {
        QVERIFY(r == Resin(r.name));
        QCOMPARE(r.c20, 5.0);
        QCOMPARE(r.c50, 10.0);
        QCOMPARE(r.c100, 15.0);
    }
    QCOMPARE(Resin::fromCorruptedFixed(text), read);
}

void TestResin::isNumberNotWord_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("number");

    QTest::newRow("digits") << "15" << true;
    QTest::newRow("minus") << "-1" << true;
    QTest::newRow("several minus signs") << "--5" << true;
    QTest::newRow("point first") << ".99" << true;
    QTest::newRow("comma") << "1,5" << true;
    QTest::newRow("lone point") << "." << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("minus alone") << "-" << false;
    QTest::newRow("plus sign") << "+5" << false;
    QTest::newRow("exponent") << "1e5" << false;
    QTest::newRow("digit then letter") << "5a" << false;
    QTest::newRow("trailing newline") << "5\n" << false;
    QTest::newRow("leading space") << " 5" << false;
    QTest::newRow("minus inside") << "5-5" << false;
    QTest::newRow("word") << "Red" << false;
    QTest::newRow("non-ASCII digit") << QString(QChar(0x0663)) << false;
}

void TestResin::isNumberNotWord()
{
    QFETCH(QString, field);
    QFETCH(bool, number);
    QCOMPARE(Resin::isNumberNotWord(field), number);
}

// ---------------------------------------------------------------------------------------------
// Texts without entries

void TestResin::fromString_textWithoutStar_isEmptyListAndOneLogLine_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("old entry without star") << "Red!5!10!15!3!20!20!20!20!1!1!1";
    QTest::newRow("version 2 entry without star") << "ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1";
    QTest::newRow("version 3 heading without star") << "ResinFormatVersion:3!1001!Gray";
    QTest::newRow("blank") << "   ";
}

void TestResin::fromString_textWithoutStar_isEmptyListAndOneLogLine()
{
    QFETCH(QString, text);

    LogCapture log;
    QVERIFY(Resin::fromString(text).isEmpty());
    QCOMPARE(log.lines(), QStringList{"Resin::fromString. No resin entry in text: \"" + text + "\""});
    QVERIFY(!Resin::isOldResinFormat(text));
    QVERIFY(!Resin::isCorruptedResinList(text));
}

// ---------------------------------------------------------------------------------------------
// Version 3 recognition

void TestResin::isV3ResinFormat_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("v3");

    const QString v3Entry =
        QStringLiteral("*ResinFormatVersion:3!1003!Clear!1.0!5!10!15!3!30!30!30!20!1!1!1!1!1!1!1!1!1");
    QTest::newRow("version 3 entry") << v3Entry << true;
    QTest::newRow("any other version") << "*ResinFormatVersion:4!x" << true;
    QTest::newRow("version 2 default list") << defaultListText << false;
    QTest::newRow("old list") << (oldRedText + oldGrayText) << false;
    QTest::newRow("version 3 entry after a version 2 entry") << (v2Entry("Red") + v3Entry) << false;
    QTest::newRow("version 2 heading inside an old name") << (oldRedText + "*xResinFormatVersion:2x!" + v3Entry)
                                                          << false;
    QTest::newRow("empty") << "" << false;
}

void TestResin::isV3ResinFormat()
{
    QFETCH(QString, text);
    QFETCH(bool, v3);
    QCOMPARE(Resin::isV3ResinFormat(text), v3);
}

void TestResin::fromString_listWithVersion2Heading_isNeverConverted()
{
    // A version 3 entry inside a version 2 list is a damaged entry, not a reason to convert
    // (and drop) the version 2 profiles around it.
    const QString text = v2Entry("Red")
        + QStringLiteral("*ResinFormatVersion:3!1001!Catalogue Gray!1.0!6!10!14!3!45!45!45!20!1!1!1!1!1!1!1!1!1")
        + v2Entry("Own Mix");
    LogCapture log;
    const QList<Resin> read = Resin::fromString(text);
    QCOMPARE(namesOf(read), (QStringList{"Red", "Catalogue Gray", "Own Mix"}));
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains(QStringLiteral("V3")) && !line.contains(QStringLiteral("v3")), qPrintable(line));
}

void TestResin::fromString_version3List_isConvertedAndLogged()
{
    const QString text =
        QStringLiteral("*ResinFormatVersion:3!5001!Unknown!1.0!1!2!3!3!20!20!20!20!1!1!1!1!1!1!1!1!1"
                       "*ResinFormatVersion:3!1003!Catalogue Clear!2.0!5!10!15!3!30!31!32!20!1!1!1!0.9!1!1!1!1!1");
    const QString v2Text =
        QStringLiteral("*ResinFormatVersion:2!Clear!5!10!15!3!30!31!32!20!1!1!1!0.9!1!1!1!1!1");

    LogCapture log;
    const QList<Resin> read = Resin::fromString(text);
    QCOMPARE(Resin::toString(read), v2Text);
    QVERIFY(log.lines().contains(QStringLiteral("Resin::fromString. is V3 format: ") + text));
    QVERIFY(log.lines().contains(QStringLiteral("Resin::fromString. to v2 format: ") + v2Text));
}

void TestResin::convertV3ResinFormatToCurrentFormat_notV3_logsAndReturnsTextUnchanged()
{
    LogCapture log;
    QCOMPARE(Resin::convertV3ResinFormatToCurrentFormat(defaultListText), defaultListText);
    QVERIFY(!log.lines().isEmpty());
    QCOMPARE(log.lines().first(),
             QStringLiteral("ERROR -- Resin::convertV3ResinFormatToCurrentFormat. Not v3. Resin String: \"")
                 + defaultListText + "\"");
}

// ---------------------------------------------------------------------------------------------
// Robustness: the readers get text from the network and from settings files.

void TestResin::fromString_strayStarsAndBangs_giveOneProfilePerStar_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("lone star") << "*";
    QTest::newRow("two stars") << "**";
    QTest::newRow("star and bangs") << "*!!!";
    QTest::newRow("bangs then star") << "!!!*!";
    QTest::newRow("heading then stars") << "*ResinFormatVersion:2***";
    QTest::newRow("empty first entry before a version 2 entry") << ("*" + v2Entry("Red"));
    QTest::newRow("heading only entries") << "*ResinFormatVersion:2*ResinFormatVersion:2!";
    QTest::newRow("twelve bangs") << "*!!!!!!!!!!!!";
    QTest::newRow("nineteen fields all empty") << "*!!!!!!!!!!!!!!!!!!";
    QTest::newRow("heading and eighteen empty fields") << "*ResinFormatVersion:2!!!!!!!!!!!!!!!!!!";
}

void TestResin::fromString_strayStarsAndBangs_giveOneProfilePerStar()
{
    QFETCH(QString, text);
    LogCapture log;
    QCOMPARE(Resin::fromString(text).size(), text.count(QLatin1Char('*')));
}

void TestResin::fromString_randomText_neverFailsAndNormalisesInOneStep()
{
    // Whatever a list text holds, reading it gives one profile per entry (at most), and the
    // list written from the result reads back to the same text.
    const QStringList tokens = {
        "ResinFormatVersion:2", "ResinFormatVersion:3", "ResinFormatVersion:", "1001", "4007", "5001",
        "Red", "Gray", "5", "-1", "20.7", "3.5", "", ".", ",", "nan", "inf", "1e999", "1e12", " ",
        "*", "!", "\n", QString(QChar(0x00e9)),
    };
    const int fieldCounts[] = {0, 1, 2, 11, 12, 13, 18, 19, 20, 21, 22};
    QRandomGenerator random(20240611u);

    for (int round = 0; round < 3000; ++round) {
        QString text;
        if (random.bounded(4) == 0)
            text += tokens.at(random.bounded(tokens.size()));
        const int entries = random.bounded(5);
        for (int e = 0; e < entries; ++e) {
            text += QLatin1Char('*');
            const int fields = fieldCounts[random.bounded(int(std::size(fieldCounts)))];
            for (int f = 0; f < fields; ++f) {
                if (f > 0)
                    text += QLatin1Char('!');
                if (f == 0 && random.bounded(2) == 0)
                    text += random.bounded(2) ? "ResinFormatVersion:2" : "ResinFormatVersion:3";
                else
                    text += tokens.at(random.bounded(tokens.size()));
            }
        }

        LogCapture log;
        const QList<Resin> read = Resin::fromString(text);
        QVERIFY2(read.size() <= text.count(QLatin1Char('*')), qPrintable(text));
        const QString written = Resin::toString(read);
        QVERIFY2(Resin::toString(Resin::fromString(written)) == written, qPrintable(text));
    }
}

void TestResin::fromString_hugeTexts_areReadCompletely()
{
    LogCapture log;

    QString manyEntries;
    for (int i = 0; i < 20000; ++i)
        manyEntries += defaultListText;
    QCOMPARE(Resin::fromString(manyEntries).size(), 120000);

    const QString longName(5000000, QLatin1Char('x'));
    const QList<Resin> oneLongEntry = Resin::fromString(QStringLiteral("*") + longName);
    QCOMPARE(oneLongEntry.size(), 1);
    QCOMPARE(oneLongEntry.first().name.size(), longName.size());

    const QString manyFields = QStringLiteral("*ResinFormatVersion:2!Red") + QString(1000000, QLatin1Char('!'));
    QCOMPARE(namesOf(Resin::fromString(manyFields)), QStringList{"Red"});
}

void TestResin::printInfo_logsOneLineWithNameAndNumbers()
{
    Resin r = calibratedList().first();
    LogCapture log;
    r.printInfo();
    QCOMPARE(log.lines().size(), 1);
    const QString line = log.lines().first();
    QVERIFY2(line.startsWith(QStringLiteral("Printing resin. Name: Calibrated 0")), qPrintable(line));
    for (const char *value : {"41.5", "35.25", "28.125", "3.6", "7.2", "1.0125", "0.987654", "1.00001", "0.85"})
        QVERIFY2(line.contains(QLatin1String(value)), value);
}

QTEST_GUILESS_MAIN(TestResin)
#include "tst_resin.moc"
