#include "logcapture.h"
#include "namelist.h"
#include "resin.h"

#include <QRandomGenerator>
#include <QtTest>

#include <iterator>

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
QList<double> settingsOf(const Resin &r)
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

} // namespace

class TestResin : public QObject
{
    Q_OBJECT

private slots:
    // ---- Writing ----
    void toString_defaultList_isSixVersion2EntriesByteForByte_emptyListIsEmptyText()
    {
        QCOMPARE(Resin::toString(Resin::defaultResinList()), defaultListText);
        QCOMPARE(Resin::toString({}), QString());
        LogCapture log;
        QVERIFY(Resin::fromString(QString()).isEmpty());
    }

    void toString_numbers_useGNotationWithSixDigits_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("written");

        QTest::newRow("whole number") << 5.0 << "5";
        QTest::newRow("minus one") << -1.0 << "-1";
        QTest::newRow("rounded to six digits") << 0.98765432 << "0.987654";
        QTest::newRow("just below a million") << 999999.0 << "999999";
        QTest::newRow("a million takes the exponent") << 1e6 << "1e+06";
        QTest::newRow("below 0.0001 takes the exponent") << 0.00001 << "1e-05";
    }

    void toString_numbers_useGNotationWithSixDigits()
    {
        QFETCH(double, value);
        QFETCH(QString, written);

        Resin r(QStringLiteral("Probe"));
        r.c50 = value;
        r.fineTuneFactor100 = value;
        const QStringList fields = Resin::toString({r}).split(QLatin1Char('!'));
        QCOMPARE(fields.value(3), written);
        QCOMPARE(fields.value(18), written);
    }

    void toString_nameWithSeparators_keepsTheListReadable()
    {
        // A separator inside a name would damage the list and cost every profile its numbers.
        QList<Resin> resins = calibratedList();
        resins[0].name = QStringLiteral("Red*Blue!");

        LogCapture log;
        const QString text = Resin::toString(resins);
        QCOMPARE(log.lines(),
            QStringList {"MINOR_ERROR. Resin::toString. List separator removed from resin name: "
                         "\"Red*Blue!\""});
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(read.size(), resins.size());
        QCOMPARE(read.first().name, QStringLiteral("RedBlue"));
        for (int i = 1; i < resins.size(); ++i)
            QVERIFY(read.at(i) == resins.at(i));
        QCOMPARE(read.first().fineTuneFactor50, 1.3);
    }

    // ---- Reading version 2 ----
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
        QCOMPARE(read.size(), resins.size());
        for (int i = 0; i < resins.size(); ++i)
            QVERIFY2(read.at(i) == resins.at(i), qPrintable(QStringLiteral("profile %1").arg(i)));
        QCOMPARE(Resin::toString(read), text);
    }

    void fromString_version2Entry_fieldsLandInTheirPlaces()
    {
        const QString text = QStringLiteral(
            "*ResinFormatVersion:2!Probe!1.5!2.5!3.5!4!5.5!6.5!7.5!8!9.1!9.2!9.3!9.4!9.5!9.6!9.7!9.8!9.9");
        LogCapture log;
        const QList<Resin> read = Resin::fromString(text);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.first().name, QStringLiteral("Probe"));
        QCOMPARE(settingsOf(read.first()),
            (QList<double> {1.5, 2.5, 3.5, 4, 5.5, 6.5, 7.5, 8, 9.1, 9.2, 9.3, 9.4, 9.5, 9.6, 9.7, 9.8, 9.9}));
        QCOMPARE(Resin::toString(read), text);
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
        QTest::newRow("infinity") << "inf" << 0 << 0 << 0.0;
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
            QCOMPARE(read.size(), 1);
            QCOMPARE(read.first().name, QStringLiteral("Red"));
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
        const Resin before = calibratedList().first();
        QCOMPARE((QList<double> {before.cureTime(thickness), before.adhesionCureTime(thickness),
                     before.scaleX(thickness), before.scaleY(thickness), before.fineTuneFactor(thickness)}),
            read);
        QCOMPARE(before.isCalibrated(thickness), Resin::isLayerThickness(thickness));

        Resin after = before;
        after.setCureTime(thickness, 2);
        after.setAdhesionCureTime(thickness, 3);
        after.setScale(thickness, 4, 5);
        after.setFineTuneFactor(thickness, 6);
        int changed = 0;
        const QList<double> settingsBefore = settingsOf(before);
        const QList<double> settingsAfter = settingsOf(after);
        for (int i = 0; i < settingsBefore.size(); ++i)
            changed += settingsBefore.at(i) != settingsAfter.at(i);
        QCOMPARE(changed, Resin::isLayerThickness(thickness) ? 5 : 0);
        if (Resin::isLayerThickness(thickness))
            QCOMPARE((QList<double> {after.cureTime(thickness), after.adhesionCureTime(thickness),
                         after.scaleX(thickness), after.scaleY(thickness), after.fineTuneFactor(thickness)}),
                (QList<double> {2, 3, 4, 5, 6}));
    }

    // ---- Old format ----
    void fromString_oldEntry_factorsLandAt50Microns_writtenAsVersion2()
    {
        LogCapture log;
        QCOMPARE(Resin::toString(Resin::fromString(oldRedText)),
            QStringLiteral("*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"));

        // A second, truncated entry reads its missing fields as zero, its missing factors as 1.
        const QList<Resin> read = Resin::fromString(oldGrayText + QStringLiteral("*Blue!7"));
        QCOMPARE(namesOf(read), (QStringList {"Gray", "Blue"}));
        QCOMPARE(
            settingsOf(read.at(0)), (QList<double> {8, 9, 10, 4, 20, 21, 22, 50, 1, 1, 1, 1.01, 0.99, 0.85, 1, 1, 1}));
        QCOMPARE(settingsOf(read.at(1)), (QList<double> {7, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1}));
    }

    void isOldResinFormat_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("old");

        QTest::newRow("old list") << (oldRedText + oldGrayText) << true;
        QTest::newRow("version 2 default list") << defaultListText << false;
        QTest::newRow("heading with twelve fields") << "*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1" << true;
        QTest::newRow("version 2 entry then old entry") << (v2Entry("Red") + oldGrayText) << false;
        QTest::newRow("version 3 entry")
            << "*ResinFormatVersion:3!1001!Gray!1.0!6!10!14!3!45!45!45!20!1!1!1!1!1!1!1!1!1" << false;
        QTest::newRow("no star") << "Red!5!10!15!3!20!20!20!20!1!1!1" << false;
    }

    void isOldResinFormat()
    {
        QFETCH(QString, text);
        QFETCH(bool, old);
        LogCapture log;
        QCOMPARE(Resin::isOldResinFormat(text), old);
    }

    // ---- Damaged lists ----
    void fromString_damagedList_keepsCountOrderAndNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("old entry after a version 2 entry")
            << (v2Entry("Red") + oldGrayText + v2Entry("White")) << QStringList {"Red", "Gray", "White"};
        QTest::newRow("version 2 entry missing a field keeps its name")
            << (QStringLiteral("*ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1") + v2Entry("Green"))
            << QStringList {"Red", "Green"};
        QTest::newRow("entry with a field too many")
            << (v2Entry("Red") + "!1" + v2Entry("Green")) << QStringList {"Red", "Green"};
        QTest::newRow("entry of numbers only")
            << (v2Entry("Red") + "*1!2!-3!4.5!,!.") << QStringList {"Red", "CORRUPTED RESIN"};
        QTest::newRow("empty entry from a stray star")
            << (v2Entry("Red") + "*" + v2Entry("Green")) << QStringList {"Red", "CORRUPTED RESIN", "Green"};
        QTest::newRow("name after numbers and empty fields")
            << (v2Entry("Red") + "*ResinFormatVersion:2!!--5!1,5!Teal!Other") << QStringList {"Red", "Teal"};
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

    void isNumberNotWord_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("number");

        QTest::newRow("several minus signs") << "--5" << true;
        QTest::newRow("comma") << "1,5" << true;
        QTest::newRow("lone point") << "." << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("minus alone") << "-" << false;
        QTest::newRow("plus sign") << "+5" << false;
        QTest::newRow("digit then letter") << "5a" << false;
        QTest::newRow("trailing newline") << "5\n" << false;
        QTest::newRow("minus inside") << "5-5" << false;
        QTest::newRow("non-ASCII digit") << QString(QChar(0x0663)) << false;
    }

    void isNumberNotWord()
    {
        QFETCH(QString, field);
        QFETCH(bool, number);
        QCOMPARE(Resin::isNumberNotWord(field), number);
    }

    // ---- Version 3 lists (recognition itself is covered with the rollback, in tst_resinv3) ----
    void fromString_listWithVersion2Heading_isNeverConverted()
    {
        // A version 3 entry inside a version 2 list is a damaged entry, not a reason to convert
        // (and drop) the version 2 profiles around it.
        const QString text = v2Entry("Red")
            + QStringLiteral("*ResinFormatVersion:3!1001!Catalogue Gray!1.0!6!10!14!3!45!45!45!20!1!1!1!1!1!1!1!1!1")
            + v2Entry("Own Mix");
        LogCapture log;
        QCOMPARE(namesOf(Resin::fromString(text)), (QStringList {"Red", "Catalogue Gray", "Own Mix"}));
        for (const QString &line : log.lines())
            QVERIFY2(!line.contains(QStringLiteral("V3")) && !line.contains(QStringLiteral("v3")), qPrintable(line));
    }

    // ---- Robustness: the readers get text from the network and from settings files. ----
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

    void fromString_randomText_neverFailsAndNormalisesInOneStep()
    {
        // Whatever a list text holds, reading it gives one profile per entry (at most), and the
        // list written from the result reads back to the same text.
        const QStringList tokens = {"ResinFormatVersion:2", "ResinFormatVersion:3", "ResinFormatVersion:", "1001",
            "5001", "Red", "5", "-1", "20.7", "", ".", ",", "nan", "1e999", " ", "*", "!", "\n"};
        const int fieldCounts[] = {0, 1, 2, 11, 12, 13, 18, 19, 20, 21, 22};
        QRandomGenerator random(20240611u);

        for (int round = 0; round < 500; ++round) {
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
};

QTEST_GUILESS_MAIN(TestResin)
#include "tst_resin.moc"
