#include "resinv3.h"

#include "resin.h"

#include <QDebug>

namespace {

constexpr QChar entrySeparator = QLatin1Char('*');
constexpr QChar fieldSeparator = QLatin1Char('!');
constexpr int v3FieldCount = 21;

// Separators are not escaped: a text field holding one would break the entry apart, so it is
// written without them.
QString writableText(const QString &text)
{
    if (!text.contains(entrySeparator) && !text.contains(fieldSeparator))
        return text;
    QString cleaned = text;
    cleaned.remove(entrySeparator).remove(fieldSeparator);
    qDebug().noquote() << QStringLiteral("MINOR_ERROR. ResinV3::toString. List separator removed from text field: \"")
            + text + QLatin1Char('"');
    return cleaned;
}

QString numberText(double value)
{
    return Resin::textFromDouble(value);
}

} // namespace

ResinV3::ResinV3(const QString &entry)
{
    if (!entry.isEmpty())
        setV3ResinFromAttributes(entry.split(fieldSeparator, Qt::KeepEmptyParts));
}

void ResinV3::setV3ResinFromAttributes(const QStringList &a)
{
    if (a.size() < v3FieldCount) {
        name = QStringLiteral("CORRUPTEDRESIN");
        resinId = QStringLiteral("CORRUPTED");
        return;
    }
    resinFormatVersion = 3.0;
    resinId = a.at(1);
    name = a.at(2);
    userFacingVersion = a.at(3);
    setSettingsFromFields(a, 4);
}

QString ResinV3::toString() const
{
    const QStringList fields = QStringList {getResinFormatVersionString(), writableText(resinId), writableText(name),
                                   writableText(userFacingVersion)}
        + settingsFields();
    return fields.join(fieldSeparator);
}

QString ResinV3::getResinFormatVersionString() const
{
    return resinFormatVersionHeader + numberText(resinFormatVersion);
}

Resin ResinV3::toResin() const
{
    Resin r(name);
    static_cast<ResinSettings &>(r) = *this;
    return r;
}

QString ResinV3::toV2String() const
{
    // Written by the version 2 writer itself, so both forms of a version 2 entry agree.
    return Resin::toString(QList<Resin> {toResin()});
}

// A version 3 record reads the cure times of any other thickness at 50 microns.
double ResinV3::getCureTime(int thickness) const
{
    return cureTime(isLayerThickness(thickness) ? thickness : 50);
}

double ResinV3::getAdhesionLayerCureTime(int thickness) const
{
    return adhesionCureTime(isLayerThickness(thickness) ? thickness : 50);
}

double ResinV3::getScaleX(int thickness) const
{
    return scaleX(thickness);
}

double ResinV3::getScaleY(int thickness) const
{
    return scaleY(thickness);
}

double ResinV3::getFineTuneFactor(int thickness) const
{
    return fineTuneFactor(thickness);
}

bool ResinV3::isPremium() const
{
    return !name.contains(QLatin1String("corvantis"), Qt::CaseInsensitive);
}

void ResinV3::updateCalibrationVariables(const ResinV3 &other)
{
    scaleX20 = other.scaleX20;
    scaleY20 = other.scaleY20;
    fineTuneFactor20 = other.fineTuneFactor20;
    scaleX50 = other.scaleX50;
    scaleY50 = other.scaleY50;
    fineTuneFactor50 = other.fineTuneFactor50;
    scaleX100 = other.scaleX100;
    scaleY100 = other.scaleY100;
    fineTuneFactor100 = other.fineTuneFactor100;
}

void ResinV3::printInfo() const
{
    qDebug().noquote() << QStringLiteral("Printing resin. ID: ") + resinId + QStringLiteral(" User facing Version: ")
            + userFacingVersion + QStringLiteral(" Name: ") + name + QStringLiteral(" Format version: ")
            + numberText(resinFormatVersion) + settingsLogText();
}
