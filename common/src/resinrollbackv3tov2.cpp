#include "resinrollbackv3tov2.h"

#include "resinv3.h"

#include <QDebug>
#include <QStringList>

namespace {

struct V2Resin {
    const char *id;
    const char *v2Name;
};

// The catalogue resins that version 2 knows, with the names their version 2 profiles carry.
// Profiles are matched by exact name, so these texts must never change.
constexpr V2Resin v2Resins[] = {
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

const V2Resin *findV2Resin(const QString &id)
{
    for (const V2Resin &r : v2Resins) {
        if (id == QLatin1String(r.id))
            return &r;
    }
    return nullptr;
}

} // namespace

bool ResinRollbackV3toV2::isNewResinString(const QString &text)
{
    if (text.contains(QLatin1String("ResinFormatVersion:2")))
        return false;
    return text.contains(QLatin1String("ResinFormatVersion"));
}

bool ResinRollbackV3toV2::doesV3ResinExistInV2(const ResinV3 &resin)
{
    return findV2Resin(resin.resinId) != nullptr;
}

QString ResinRollbackV3toV2::getV2NameOfV3Resin(const ResinV3 &resin)
{
    if (const V2Resin *known = findV2Resin(resin.resinId))
        return QString::fromLatin1(known->v2Name);
    qDebug().noquote() << QStringLiteral("ERROR -- ResinRollbackV3toV2::getV2NameOfV3Resin. Not a v2 resin. Resin id: ")
            + resin.resinId;
    return resin.name;
}

QString ResinRollbackV3toV2::convertNewResinStringToV2String(const QString &text)
{
    if (!isNewResinString(text)) {
        qDebug().noquote()
            << QStringLiteral(
                   "ERROR -- ResinRollbackV3toV2::convertNewResinStringListToV2StringList. Not new string. String: \"")
                + text + QLatin1Char('"');
        return text;
    }

    QStringList entries = text.split(QLatin1Char('*'), Qt::KeepEmptyParts);
    entries.removeFirst(); // the text before the first "*" is not an entry

    QString v2Text;
    for (const QString &entry : qAsConst(entries)) {
        ResinV3 resin(entry);
        if (!doesV3ResinExistInV2(resin))
            continue;
        resin.name = getV2NameOfV3Resin(resin);
        v2Text += resin.toV2String();
    }
    return v2Text;
}
