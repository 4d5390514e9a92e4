#include "resincatalogue.h"

#include "resinrollbackv3tov2.h"
#include "resinv3.h"

namespace {

struct CatalogueEntry {
    const char *resinId; // nullptr for a profile without a catalogue id
    const char *name; // used when there is no id
    double c20, c50, c100;
    double adhesionCureTime;
};

constexpr CatalogueEntry kCatalogue[] = {
    {"1001", nullptr, 6, 10, 14, 45},
    {"1002", nullptr, 6, 10, 14, 45},
    {"1003", nullptr, 5, 10, 15, 30},
    {"1004", nullptr, 5, 10, 15, 45},
    {"1005", nullptr, -1, 2.2, 3.6, 20},
    {"2001", nullptr, -1, 6, 7.2, 35},
    {"3001", nullptr, -1, 6, 7.5, 15},
    {"3002", nullptr, -1, 3, 5, 15},
    {"3003", nullptr, -1, 5, 6, 20},
    {"3004", nullptr, -1, 6, 8.4, 20},
    {"3005", nullptr, -1, 3.6, 5, 20},
    {nullptr, "Castable", 6, 9, -1, 30},
    {"4001", nullptr, -1, 4, 6, 20},
    {"4002", nullptr, -1, 5, 6, 30},
    {"4003", nullptr, -1, 10, 15, 30},
    {"4004", nullptr, -1, 5, 7.5, 30},
    {"4005", nullptr, 4, 6, 12, 30},
    {"4006", nullptr, 3, 4, 6, 30},
    {"4007", nullptr, 3.5, 5, 7, 30},
    {"4008", nullptr, 3.6, 4, -1, 30},
    {"4009", nullptr, 6, 8, 15, 30},
    {"4010", nullptr, -1, 4, 6, 20},
};

} // namespace

namespace ResinCatalogue {

QString nameOfResinId(const QString &resinId)
{
    ResinV3 record;
    record.resinId = resinId;
    return ResinRollbackV3toV2::getV2NameOfV3Resin(record);
}

QList<Resin> builtIn()
{
    QList<Resin> list;
    for (const CatalogueEntry &entry : kCatalogue) {
        Resin resin(
            entry.resinId ? nameOfResinId(QString::fromLatin1(entry.resinId)) : QString::fromLatin1(entry.name));
        resin.c20 = entry.c20;
        resin.c50 = entry.c50;
        resin.c100 = entry.c100;
        resin.a20 = entry.adhesionCureTime;
        resin.a50 = entry.adhesionCureTime;
        resin.a100 = entry.adhesionCureTime;
        list.append(resin);
    }
    return list;
}

} // namespace ResinCatalogue
