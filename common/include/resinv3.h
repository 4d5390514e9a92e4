#pragma once

#include "resin.h"

#include <QString>
#include <QStringList>

// A resin profile in the version 3 form: the version 2 settings plus a catalogue id and the
// version of the resin's settings shown to the user.
//
// Entry text (no leading "*"), 21 fields separated by "!":
//   0 "ResinFormatVersion:3", 1 resin id, 2 name, 3 user-facing version,
//   4-6 c20 c50 c100, 7 numAdhesionLayers, 8-10 a20 a50 a100, 11 aThickness,
//   12-20 scaleX20 scaleY20 fineTuneFactor20 scaleX50 scaleY50 fineTuneFactor50
//         scaleX100 scaleY100 fineTuneFactor100.
// The first digit of the id is the category: 1 general own-brand resins, 2 die and model,
// 3 other own-brand applications, 4 and 5 outside brands. A cure time of -1 marks a layer
// thickness the resin does not offer; it is carried like any other number.
class ResinV3 : public ResinSettings
{
public:
    static inline const QString resinFormatVersionHeader = QStringLiteral("ResinFormatVersion:");

    // A record not read from text is written as version 3, the form this class describes.
    double resinFormatVersion = 3.0;
    QString resinId;
    QString name;
    QString userFacingVersion = QStringLiteral("1.0");

    ResinV3() = default;
    // One entry without its leading "*"; the empty text leaves the defaults.
    explicit ResinV3(const QString &entry);

    // Fills the record from the 21 fields (field 0 is not checked) and sets the format
    // version to 3. With 20 fields or fewer nothing is filled: the name becomes
    // "CORRUPTEDRESIN" and the id "CORRUPTED", so that the converter drops the entry.
    void setV3ResinFromAttributes(const QStringList &attributes);

    // The 21-field entry, without the leading "*". A "*" or "!" in the id, the name or the
    // user-facing version is left out (and logged), since it would break the entry apart.
    QString toString() const;
    // "ResinFormatVersion:" followed by the format version, e.g. "ResinFormatVersion:3".
    QString getResinFormatVersionString() const;
    // The version 2 profile of the record: its name and settings; the id and the
    // user-facing version are dropped.
    Resin toResin() const;
    // One version 2 list entry, with its leading "*": the entry of toResin().
    QString toV2String() const;

    // Values at 20 or 100 micron layers; any other thickness gets the 50 micron value.
    double getCureTime(int thickness) const;
    double getAdhesionLayerCureTime(int thickness) const;
    // Factors at 20, 50 or 100 micron layers; 1.0 (no correction) for any other thickness.
    double getScaleX(int thickness) const;
    double getScaleY(int thickness) const;
    double getFineTuneFactor(int thickness) const;

    // Own-brand resins: every resin whose name does not mention the outside brand "Corvantis"
    // (compared without regard to case).
    bool isPremium() const;

    // Copies the nine calibration factors of other; nothing else changes.
    void updateCalibrationVariables(const ResinV3 &other);

    // One debug log line with the id, the user-facing version and every other field.
    void printInfo() const;
};
