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
    c20 = Resin::doubleFromText(a.at(4));
    c50 = Resin::doubleFromText(a.at(5));
    c100 = Resin::doubleFromText(a.at(6));
    numAdhesionLayers = Resin::intFromText(a.at(7));
    a20 = Resin::doubleFromText(a.at(8));
    a50 = Resin::doubleFromText(a.at(9));
    a100 = Resin::doubleFromText(a.at(10));
    aThickness = Resin::truncatedIntFromText(a.at(11));
    scaleX20 = Resin::doubleFromText(a.at(12));
    scaleY20 = Resin::doubleFromText(a.at(13));
    fineTuneFactor20 = Resin::doubleFromText(a.at(14));
    scaleX50 = Resin::doubleFromText(a.at(15));
    scaleY50 = Resin::doubleFromText(a.at(16));
    fineTuneFactor50 = Resin::doubleFromText(a.at(17));
    scaleX100 = Resin::doubleFromText(a.at(18));
    scaleY100 = Resin::doubleFromText(a.at(19));
    fineTuneFactor100 = Resin::doubleFromText(a.at(20));
}

QString ResinV3::toString() const
{
    const QStringList fields = {
        getResinFormatVersionString(), writableText(resinId), writableText(name),
        writableText(userFacingVersion),
        numberText(c20), numberText(c50), numberText(c100),
        QString::number(numAdhesionLayers),
        numberText(a20), numberText(a50), numberText(a100),
        QString::number(aThickness),
        numberText(scaleX20), numberText(scaleY20), numberText(fineTuneFactor20),
        numberText(scaleX50), numberText(scaleY50), numberText(fineTuneFactor50),
        numberText(scaleX100), numberText(scaleY100), numberText(fineTuneFactor100),
    };
    return fields.join(fieldSeparator);
}

QString ResinV3::getResinFormatVersionString() const
{
    return resinFormatVersionHeader + numberText(resinFormatVersion);
}

QString ResinV3::toV2String() const
{
    // Written by the version 2 writer itself, so both forms of a version 2 entry agree.
    Resin r(name);
    r.c20 = c20;
    r.c50 = c50;
    r.c100 = c100;
    r.numAdhesionLayers = numAdhesionLayers;
    r.a20 = a20;
    r.a50 = a50;
    r.a100 = a100;
    r.aThickness = aThickness;
    r.scaleX20 = scaleX20;
    r.scaleY20 = scaleY20;
    r.fineTuneFactor20 = fineTuneFactor20;
    r.scaleX50 = scaleX50;
    r.scaleY50 = scaleY50;
    r.fineTuneFactor50 = fineTuneFactor50;
    r.scaleX100 = scaleX100;
    r.scaleY100 = scaleY100;
    r.fineTuneFactor100 = fineTuneFactor100;
    return Resin::toString(QList<Resin>{r});
}

double ResinV3::getCureTime(int thickness) const
{
    if (thickness == 20)
        return c20;
    if (thickness == 100)
        return c100;
    return c50;
}

double ResinV3::getAdhesionLayerCureTime(int thickness) const
{
    if (thickness == 20)
        return a20;
    if (thickness == 100)
        return a100;
    return a50;
}

double ResinV3::getScaleX(int thickness) const
{
    switch (thickness) {
    case 20: return scaleX20;
    case 50: return scaleX50;
    case 100: return scaleX100;
    default: return 1.0;
    }
}

double ResinV3::getScaleY(int thickness) const
{
    switch (thickness) {
    case 20: return scaleY20;
    case 50: return scaleY50;
    case 100: return scaleY100;
    default: return 1.0;
    }
}

double ResinV3::getFineTuneFactor(int thickness) const
{
    switch (thickness) {
    case 20: return fineTuneFactor20;
    case 50: return fineTuneFactor50;
    case 100: return fineTuneFactor100;
    default: return 1.0;
    }
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
    qDebug().noquote() << QStringLiteral("Printing resin. ID: ") + resinId
            + QStringLiteral(" User facing Version: ") + userFacingVersion
            + QStringLiteral(" Name: ") + name
            + QStringLiteral(" Format version: ") + numberText(resinFormatVersion)
            + QStringLiteral(" c20: ") + numberText(c20)
            + QStringLiteral(" c50: ") + numberText(c50)
            + QStringLiteral(" c100: ") + numberText(c100)
            + QStringLiteral(" numAdhesionLayers: ") + QString::number(numAdhesionLayers)
            + QStringLiteral(" a20: ") + numberText(a20)
            + QStringLiteral(" a50: ") + numberText(a50)
            + QStringLiteral(" a100: ") + numberText(a100)
            + QStringLiteral(" aThickness: ") + QString::number(aThickness)
            + QStringLiteral(" scaleX20: ") + numberText(scaleX20)
            + QStringLiteral(" scaleY20: ") + numberText(scaleY20)
            + QStringLiteral(" fineTuneFactor20: ") + numberText(fineTuneFactor20)
            + QStringLiteral(" scaleX50: ") + numberText(scaleX50)
            + QStringLiteral(" scaleY50: ") + numberText(scaleY50)
            + QStringLiteral(" fineTuneFactor50: ") + numberText(fineTuneFactor50)
            + QStringLiteral(" scaleX100: ") + numberText(scaleX100)
            + QStringLiteral(" scaleY100: ") + numberText(scaleY100)
            + QStringLiteral(" fineTuneFactor100: ") + numberText(fineTuneFactor100);
}
