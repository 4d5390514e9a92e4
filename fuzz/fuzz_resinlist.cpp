// The resin list reader in all its forms: the input is a list text (UTF-8), as it arrives
// in the printer's settings file, in the desktop's "Send_ResinData" message or in the
// printer's handshake reply. Version 2, old and damaged lists go through Resin::fromString,
// version 3 lists through the rollback to version 2; single version 3 entries are read
// with ResinV3 as well.
//
// Rules checked besides the sanitizers':
//  - what the printer stores after reading a list (toString of the result) reads back as
//    the same profiles and writes as the same text, so that a list survives any number of
//    restarts unchanged;
//  - the stored text is a version 2 list: neither old, nor damaged, nor version 3;
//  - the rollback of a version 3 list gives a version 2 list, every entry of which reads as
//    one undamaged profile, and no more entries than the input had;
//  - a version 3 entry written by ResinV3::toString reads back as the same text.
#include "fuzzsupport.h"

#include "resin.h"
#include "resinrollbackv3tov2.h"
#include "resinv3.h"

#include <QStringList>

namespace {

void checkStoredList(const QList<Resin> &resins)
{
    const QString stored = Resin::toString(resins);
    if (stored.isEmpty()) {
        FUZZ_CHECK(resins.isEmpty(), QStringLiteral("profiles written as the empty text"));
        return;
    }
    FUZZ_CHECK(!Resin::isOldResinFormat(stored), QStringLiteral("stored list taken for old: ") + stored);
    FUZZ_CHECK(!Resin::isCorruptedResinList(stored), QStringLiteral("stored list taken for damaged: ") + stored);
    FUZZ_CHECK(!Resin::isV3ResinFormat(stored), QStringLiteral("stored list taken for version 3: ") + stored);

    const QList<Resin> reread = Resin::fromString(stored);
    FUZZ_CHECK(reread.size() == resins.size(),
        QStringLiteral("%1 profiles stored, %2 read back from: ").arg(resins.size()).arg(reread.size()) + stored);
    const QString again = Resin::toString(reread);
    FUZZ_CHECK(again == stored,
        QStringLiteral("stored list changes when read again:\n") + stored + QStringLiteral("\n") + again);
}

void checkRollback(const QString &text)
{
    if (!ResinRollbackV3toV2::isNewResinString(text))
        return;
    const QString v2 = ResinRollbackV3toV2::convertNewResinStringToV2String(text);
    const int entries = text.count(QLatin1Char('*'));
    FUZZ_CHECK(
        v2.count(QLatin1Char('*')) <= entries, QStringLiteral("rollback made more entries than it was given: ") + v2);
    if (v2.isEmpty())
        return;
    FUZZ_CHECK(!Resin::isCorruptedResinList(v2) && !Resin::isOldResinFormat(v2),
        QStringLiteral("rollback result is not a version 2 list: ") + v2);
    FUZZ_CHECK(Resin::fromString(v2).size() == v2.count(QLatin1Char('*')),
        QStringLiteral("rollback result does not read as one profile per entry: ") + v2);
}

void checkV3Entries(const QString &text)
{
    const QStringList entries = text.split(QLatin1Char('*'));
    // The first part precedes any "*": it is read as an entry too, the way a lone entry
    // arrives without its list.
    int read = 0;
    for (const QString &entry : entries) {
        if (++read > 4)
            break;
        const ResinV3 resin(entry);
        const QString written = resin.toString();
        const QString again = ResinV3(written).toString();
        FUZZ_CHECK(again == written,
            QStringLiteral("version 3 entry changes when read again:\n") + written + QStringLiteral("\n") + again);
        for (int thickness : {20, 50, 75, 100}) {
            (void)resin.getCureTime(thickness);
            (void)resin.getAdhesionLayerCureTime(thickness);
            (void)resin.getScaleX(thickness);
            (void)resin.getFineTuneFactor(thickness);
        }
        (void)resin.isPremium();
        (void)ResinRollbackV3toV2::getV2NameOfV3Resin(resin);
        (void)resin.toV2String();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));

    const QList<Resin> resins = Resin::fromString(text);
    if (!resins.isEmpty())
        resins.first().printInfo(); // the printer logs every profile it reads at start
    checkStoredList(resins);
    checkRollback(text);
    checkV3Entries(text);
    return 0;
}
