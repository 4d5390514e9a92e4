#include "resin.h"

#include "basiclogging.h"
#include "resinrollbackv3tov2.h"

#include <QDebug>
#include <QStringList>

#include <cmath>
#include <iterator>

namespace {

constexpr QChar entrySeparator = QLatin1Char('*');
constexpr QChar fieldSeparator = QLatin1Char('!');

constexpr int v2FieldCount = 19;
constexpr int oldFieldCount = 12;
// A version 2 entry: the heading, the name, then the settings.
constexpr int settingsFieldCount = v2FieldCount - 2;

// The names of the settings in entry order, as the log lines show them.
constexpr const char *settingNames[] = {
    "c20",
    "c50",
    "c100",
    "numAdhesionLayers",
    "a20",
    "a50",
    "a100",
    "aThickness",
    "scaleX20",
    "scaleY20",
    "fineTuneFactor20",
    "scaleX50",
    "scaleY50",
    "fineTuneFactor50",
    "scaleX100",
    "scaleY100",
    "fineTuneFactor100",
};
static_assert(std::size(settingNames) == settingsFieldCount, "one name per setting");

// Where the settings of one layer thickness are kept.
struct ThicknessFields {
    double ResinSettings::*cureTime;
    double ResinSettings::*adhesionCureTime;
    double ResinSettings::*scaleX;
    double ResinSettings::*scaleY;
    double ResinSettings::*fineTuneFactor;
};

// nullptr for a thickness that is not a layer thickness.
const ThicknessFields *fieldsAt(int thicknessUm)
{
    static constexpr ThicknessFields at20 = {&ResinSettings::c20, &ResinSettings::a20, &ResinSettings::scaleX20,
        &ResinSettings::scaleY20, &ResinSettings::fineTuneFactor20};
    static constexpr ThicknessFields at50 = {&ResinSettings::c50, &ResinSettings::a50, &ResinSettings::scaleX50,
        &ResinSettings::scaleY50, &ResinSettings::fineTuneFactor50};
    static constexpr ThicknessFields at100 = {&ResinSettings::c100, &ResinSettings::a100, &ResinSettings::scaleX100,
        &ResinSettings::scaleY100, &ResinSettings::fineTuneFactor100};
    switch (thicknessUm) {
    case 20:
        return &at20;
    case 50:
        return &at50;
    case 100:
        return &at100;
    default:
        return nullptr;
    }
}

constexpr double kNotOffered = -1.0;
constexpr double kUncalibrated = 1.0;

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString numberText(double value)
{
    return Resin::textFromDouble(value);
}

// The entries of a list text: the parts after each "*", empty parts kept. The text before
// the first "*" is not an entry, so a text without "*" has no entries.
QStringList entriesOf(const QString &text)
{
    QStringList parts = text.split(entrySeparator, Qt::KeepEmptyParts);
    parts.removeFirst(); // split always returns at least one part
    return parts;
}

QStringList fieldsOf(const QString &entry)
{
    return entry.split(fieldSeparator, Qt::KeepEmptyParts);
}

double readDouble(const QStringList &fields, int index)
{
    return Resin::doubleFromText(fields.value(index));
}

int readInt(const QStringList &fields, int index)
{
    return Resin::intFromText(fields.value(index));
}

int readTruncated(const QStringList &fields, int index)
{
    return Resin::truncatedIntFromText(fields.value(index));
}

// The separators are not escaped, so a name holding one would split its entry and leave the
// whole list damaged on reading, losing the numbers of every profile. The name is written
// without them instead.
QString writableName(const QString &name)
{
    if (!name.contains(entrySeparator) && !name.contains(fieldSeparator))
        return name;
    QString cleaned = name;
    cleaned.remove(entrySeparator).remove(fieldSeparator);
    logLine(QStringLiteral("MINOR_ERROR. Resin::toString. List separator removed from resin name: ") + quoted(name));
    return cleaned;
}

void appendEntry(QString &out, const Resin &r)
{
    out += entrySeparator;
    out += Resin::resinFormatText;
    out += fieldSeparator;
    out += writableName(r.name);
    const QStringList fields = r.settingsFields();
    for (const QString &field : fields) {
        out += fieldSeparator;
        out += field;
    }
}

Resin fromV2Fields(const QStringList &f)
{
    Resin r(f.value(1));
    r.setSettingsFromFields(f, 2);
    return r;
}

Resin fromOldFields(const QStringList &f)
{
    Resin r;
    r.name = f.value(0);
    r.c20 = readDouble(f, 1);
    r.c50 = readDouble(f, 2);
    r.c100 = readDouble(f, 3);
    r.numAdhesionLayers = readInt(f, 4);
    r.a20 = readDouble(f, 5);
    r.a50 = readDouble(f, 6);
    r.a100 = readDouble(f, 7);
    r.aThickness = readTruncated(f, 8);
    // The old form's only calibration set was made at 50 micron layers.
    r.scaleX50 = readDouble(f, 9);
    r.scaleY50 = readDouble(f, 10);
    r.fineTuneFactor50 = readDouble(f, 11);
    r.scaleX20 = r.scaleY20 = r.fineTuneFactor20 = 1.0;
    r.scaleX100 = r.scaleY100 = r.fineTuneFactor100 = 1.0;
    return r;
}

// One profile per entry, each read from its fields by fromFields.
QList<Resin> readEntries(const QString &text, Resin (*fromFields)(const QStringList &))
{
    QList<Resin> resins;
    const QStringList entries = entriesOf(text);
    for (const QString &entry : entries)
        resins.append(fromFields(fieldsOf(entry)));
    return resins;
}

} // namespace

bool Resin::operator==(const Resin &o) const
{
    return numAdhesionLayers == o.numAdhesionLayers && aThickness == o.aThickness && a20 == o.a20 && a50 == o.a50
        && a100 == o.a100 && c20 == o.c20 && c50 == o.c50 && c100 == o.c100 && scaleX20 == o.scaleX20
        && scaleY20 == o.scaleY20 && fineTuneFactor20 == o.fineTuneFactor20 && scaleX50 == o.scaleX50
        && scaleY50 == o.scaleY50 && fineTuneFactor50 == o.fineTuneFactor50 && scaleX100 == o.scaleX100
        && scaleY100 == o.scaleY100 && fineTuneFactor100 == o.fineTuneFactor100 && name == o.name;
}

QList<Resin> Resin::defaultResinList()
{
    struct Times {
        const char *name;
        double c20, c50, c100;
    };
    static const Times table[] = {
        {"Red", 5, 10, 15},
        {"Green", 5, 10, 15},
        {"Orange", 5, 10, 15},
        {"Gray", 5, 10, 15},
        {"Clear", 4, 7, 11},
        {"White", 4, 7, 11},
    };
    QList<Resin> list;
    for (const Times &t : table) {
        Resin r(QString::fromLatin1(t.name));
        r.c20 = t.c20;
        r.c50 = t.c50;
        r.c100 = t.c100;
        list.append(r);
    }
    return list;
}

QString Resin::toString(const QList<Resin> &resins)
{
    QString out;
    for (const Resin &r : resins)
        appendEntry(out, r);
    return out;
}

QList<Resin> Resin::fromString(const QString &text)
{
    if (text.isEmpty())
        return {};
    if (!text.contains(entrySeparator)) {
        logLine(QStringLiteral("Resin::fromString. No resin entry in text: ") + quoted(text));
        return {};
    }

    QString v2Text = text;
    if (isV3ResinFormat(text)) {
        logLine(QStringLiteral("Resin::fromString. is V3 format: ") + text);
        v2Text = convertV3ResinFormatToCurrentFormat(text);
        logLine(QStringLiteral("Resin::fromString. to v2 format: ") + v2Text);
    } else if (isOldResinFormat(text)) {
        return fromStringWithOldResinFormat(text);
    } else if (isCorruptedResinList(text)) {
        return fromCorruptedFixed(text);
    }

    logLine(QStringLiteral("Resin::fromString"));
    return readEntries(v2Text, fromV2Fields);
}

bool Resin::isOldResinFormat(const QString &text)
{
    // Only the first entry matters; the rest of a long list is not split.
    const int start = text.indexOf(entrySeparator);
    if (start < 0)
        return false;
    int end = text.indexOf(entrySeparator, start + 1);
    if (end < 0)
        end = text.size();
    const QStringList fields = fieldsOf(text.mid(start + 1, end - start - 1));
    const QString attribute1 = fields.first();
    const bool hasHeading = attribute1.contains(resinFormatHeading);
    logLine(QStringLiteral("Resin::isOldResinFormat. Attribute1: ") + attribute1
        + QStringLiteral(" Contains resinFormatHeading: ")
        + (hasHeading ? QStringLiteral("true") : QStringLiteral("false")));
    if (!hasHeading)
        return true;
    // A headed first entry of the old length is still read by the old rules; no writer
    // produces one.
    return fields.size() == oldFieldCount;
}

bool Resin::isCorruptedResinList(const QString &text)
{
    const QStringList entries = entriesOf(text);
    for (const QString &entry : entries) {
        if (entry.count(fieldSeparator) + 1 != v2FieldCount)
            return true;
    }
    return false;
}

bool Resin::isV3ResinFormat(const QString &text)
{
    return ResinRollbackV3toV2::isNewResinString(text);
}

bool Resin::isNumberNotWord(const QString &field)
{
    // "^-*[0-9,.]+$", checked by hand: a regular expression's "$" would also accept a
    // trailing newline.
    int i = 0;
    while (i < field.size() && field.at(i) == QLatin1Char('-'))
        ++i;
    if (i == field.size())
        return false;
    for (; i < field.size(); ++i) {
        const QChar c = field.at(i);
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && c != QLatin1Char(',') && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

QList<Resin> Resin::fromStringWithOldResinFormat(const QString &text)
{
    logLine(QStringLiteral(" Resin::fromStringWithOldResinFormat"));
    return readEntries(text, fromOldFields);
}

QList<Resin> Resin::fromCorruptedFixed(const QString &text)
{
    // Numbers of a damaged entry cannot be trusted, so only the name survives; the name is
    // the first real word, passing over the version heading so that a damaged version 2
    // entry keeps its resin's name.
    QList<Resin> resins;
    const QStringList entries = entriesOf(text);
    for (const QString &entry : entries) {
        Resin r(QStringLiteral("CORRUPTED RESIN"));
        const QStringList fields = fieldsOf(entry);
        for (const QString &field : fields) {
            if (!field.isEmpty() && !isNumberNotWord(field) && !field.contains(resinFormatHeading)) {
                r.name = field;
                break;
            }
        }
        resins.append(r);
    }
    return resins;
}

QString Resin::convertV3ResinFormatToCurrentFormat(const QString &text)
{
    if (!isV3ResinFormat(text)) {
        logLine(QStringLiteral("ERROR -- Resin::convertV3ResinFormatToCurrentFormat. Not v3. Resin String: ")
            + quoted(text));
    }
    return ResinRollbackV3toV2::convertNewResinStringToV2String(text);
}

QString Resin::textFromDouble(double value)
{
    return QString::number(value, 'g', 6);
}

// Numbers come from the network and from settings files. "nan" and "inf" read as 0 too: the
// C-locale conversion accepts them, but no writer produces them and they would turn into
// endless cure times or unbounded image scales downstream.
double Resin::doubleFromText(const QString &field)
{
    bool ok = false;
    const double value = field.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

int Resin::intFromText(const QString &field)
{
    bool ok = false;
    const int value = field.toInt(&ok, 10);
    return ok ? value : 0;
}

// "20.7" is 20, "-20.7" is -20. A value outside the integer range cannot be represented and
// reads as 0, as an integer field that overflows does.
int Resin::truncatedIntFromText(const QString &field)
{
    const double value = doubleFromText(field);
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return 0;
    return static_cast<int>(value);
}

void Resin::printInfo() const
{
    logLine(QStringLiteral("Printing resin. Name: ") + name + settingsLogText());
}

QStringList ResinSettings::settingsFields() const
{
    return {
        numberText(c20),
        numberText(c50),
        numberText(c100),
        QString::number(numAdhesionLayers),
        numberText(a20),
        numberText(a50),
        numberText(a100),
        QString::number(aThickness),
        numberText(scaleX20),
        numberText(scaleY20),
        numberText(fineTuneFactor20),
        numberText(scaleX50),
        numberText(scaleY50),
        numberText(fineTuneFactor50),
        numberText(scaleX100),
        numberText(scaleY100),
        numberText(fineTuneFactor100),
    };
}

void ResinSettings::setSettingsFromFields(const QStringList &f, int first)
{
    c20 = readDouble(f, first);
    c50 = readDouble(f, first + 1);
    c100 = readDouble(f, first + 2);
    numAdhesionLayers = readInt(f, first + 3);
    a20 = readDouble(f, first + 4);
    a50 = readDouble(f, first + 5);
    a100 = readDouble(f, first + 6);
    aThickness = readTruncated(f, first + 7);
    scaleX20 = readDouble(f, first + 8);
    scaleY20 = readDouble(f, first + 9);
    fineTuneFactor20 = readDouble(f, first + 10);
    scaleX50 = readDouble(f, first + 11);
    scaleY50 = readDouble(f, first + 12);
    fineTuneFactor50 = readDouble(f, first + 13);
    scaleX100 = readDouble(f, first + 14);
    scaleY100 = readDouble(f, first + 15);
    fineTuneFactor100 = readDouble(f, first + 16);
}

QString ResinSettings::settingsLogText() const
{
    const QStringList fields = settingsFields();
    Q_ASSERT(fields.size() == settingsFieldCount);
    QString text;
    for (int i = 0; i < fields.size(); ++i)
        text += QLatin1Char(' ') + QLatin1String(settingNames[i]) + QStringLiteral(": ") + fields.at(i);
    return text;
}

bool ResinSettings::isLayerThickness(int thicknessUm)
{
    return fieldsAt(thicknessUm) != nullptr;
}

double ResinSettings::cureTime(int thicknessUm) const
{
    const ThicknessFields *at = fieldsAt(thicknessUm);
    return at ? this->*(at->cureTime) : kNotOffered;
}

double ResinSettings::adhesionCureTime(int thicknessUm) const
{
    const ThicknessFields *at = fieldsAt(thicknessUm);
    return at ? this->*(at->adhesionCureTime) : kNotOffered;
}

double ResinSettings::scaleX(int thicknessUm) const
{
    const ThicknessFields *at = fieldsAt(thicknessUm);
    return at ? this->*(at->scaleX) : kUncalibrated;
}

double ResinSettings::scaleY(int thicknessUm) const
{
    const ThicknessFields *at = fieldsAt(thicknessUm);
    return at ? this->*(at->scaleY) : kUncalibrated;
}

double ResinSettings::fineTuneFactor(int thicknessUm) const
{
    const ThicknessFields *at = fieldsAt(thicknessUm);
    return at ? this->*(at->fineTuneFactor) : kUncalibrated;
}

bool ResinSettings::isCalibrated(int thicknessUm) const
{
    return scaleX(thicknessUm) != kUncalibrated || scaleY(thicknessUm) != kUncalibrated
        || fineTuneFactor(thicknessUm) != kUncalibrated;
}

void ResinSettings::setCureTime(int thicknessUm, double seconds)
{
    if (const ThicknessFields *at = fieldsAt(thicknessUm))
        this->*(at->cureTime) = seconds;
}

void ResinSettings::setAdhesionCureTime(int thicknessUm, double seconds)
{
    if (const ThicknessFields *at = fieldsAt(thicknessUm))
        this->*(at->adhesionCureTime) = seconds;
}

void ResinSettings::setScale(int thicknessUm, double x, double y)
{
    if (const ThicknessFields *at = fieldsAt(thicknessUm)) {
        this->*(at->scaleX) = x;
        this->*(at->scaleY) = y;
    }
}

void ResinSettings::setFineTuneFactor(int thicknessUm, double factor)
{
    if (const ThicknessFields *at = fieldsAt(thicknessUm))
        this->*(at->fineTuneFactor) = factor;
}
