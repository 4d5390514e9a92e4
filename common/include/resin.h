#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Resin profiles and their list text.
//
// Terms used here:
//   profile  - one `Resin`: the exposure settings of one resin, matched by exact name.
//   list     - a QList<Resin>, kept in the order it was read or built.
//   entry    - the text of one profile: it starts with "*", its fields are separated
//              by "!" (neither character is escaped; names must not contain them).
//   version 2 entry - 19 fields, the first being "ResinFormatVersion:2". The only form written.
//   old entry       - 12 fields, no heading, one set of calibration factors (50 microns).
//   version 3 entry - 21 fields with a catalogue id; converted to version 2 on reading
//                     (see resinrollbackv3tov2.h).
//   damaged list    - a list that is not old and has an entry whose field count is not 19.
//                     It is repaired, never refused: one default profile per entry, names kept.
//
// Readers never reject input: numbers that do not convert read as 0, and the readers accept
// any text (they receive it from the network and from settings files).

// The exposure settings and calibration factors of one resin: the numbers that a version 2
// profile (Resin) and a version 3 record (ResinV3) both carry, in the same order in both
// entry forms.
struct ResinSettings {
    int numAdhesionLayers = 3;
    int aThickness = 20;
    double a20 = 20.0;
    double a50 = 20.0;
    double a100 = 20.0;
    // New settings get the cure times of the common default resins. Of the list readers only
    // the repair of a damaged list relies on them; every other reader sets them from the text.
    double c20 = 5.0;
    double c50 = 10.0;
    double c100 = 15.0;
    double scaleX20 = 1.0;
    double scaleY20 = 1.0;
    double fineTuneFactor20 = 1.0;
    double scaleX50 = 1.0;
    double scaleY50 = 1.0;
    double fineTuneFactor50 = 1.0;
    double scaleX100 = 1.0;
    double scaleY100 = 1.0;
    double fineTuneFactor100 = 1.0;

    // ---- the settings of one layer thickness, in microns
    // Prints use layers of 20, 50 or 100 microns, each with its own cure times and
    // calibration. Any other thickness has none: its cure times read -1 (the mark of a
    // thickness a resin does not offer), its calibration factors 1.0 (not calibrated), and
    // the setters leave every setting as it was.
    static constexpr int layerThicknesses[] = {20, 50, 100};
    static bool isLayerThickness(int thicknessUm);
    double cureTime(int thicknessUm) const;
    double adhesionCureTime(int thicknessUm) const;
    double scaleX(int thicknessUm) const;
    double scaleY(int thicknessUm) const;
    double fineTuneFactor(int thicknessUm) const;
    // True when a calibration print changed any of the three factors of that thickness.
    bool isCalibrated(int thicknessUm) const;
    void setCureTime(int thicknessUm, double seconds);
    void setAdhesionCureTime(int thicknessUm, double seconds);
    void setScale(int thicknessUm, double x, double y);
    void setFineTuneFactor(int thicknessUm, double factor);

    // The settings as entry fields, in entry order: c20 c50 c100 numAdhesionLayers
    // a20 a50 a100 aThickness, then scaleX, scaleY and fineTuneFactor at 20, 50 and 100
    // microns. Numbers follow the list text rules (Resin::textFromDouble).
    QStringList settingsFields() const;
    // Reads the settings from fields[first] onwards, in entry order, by the number rules of
    // the list text (numAdhesionLayers as a decimal integer, aThickness truncated); a missing
    // field reads as 0.
    void setSettingsFromFields(const QStringList &fields, int first);
    // " c20: 5 c50: 10 ..." - every setting with its name, in entry order, each preceded by
    // a space: the tail of the debug log line of a profile or a record.
    QString settingsLogText() const;
};

class Resin : public ResinSettings
{
public:
    // Every entry written begins with resinFormatText, "ResinFormatVersion:2".
    // Inline, so that both texts are initialised before any static that uses them in a
    // translation unit including this header.
    static inline const QString resinFormatHeading = QStringLiteral("ResinFormatVersion:");
    static constexpr double resinFormatVersion = 2.0;
    static inline const QString resinFormatText = resinFormatHeading + QString::number(resinFormatVersion, 'g', 6);

    QString name;

    Resin() = default;
    explicit Resin(const QString &resinName)
        : name(resinName)
    {
    }

    bool operator==(const Resin &other) const;
    bool operator!=(const Resin &other) const { return !(*this == other); }

    // The six profiles a printer starts with: Red, Green, Orange, Gray, Clear, White.
    static QList<Resin> defaultResinList();

    // The version 2 list text; the empty list gives the empty text. A "*" or "!" in a name
    // is left out (and logged), since it would damage the list.
    static QString toString(const QList<Resin> &resins);

    // Reads a list in any form: version 2, old, version 3 (converted), or damaged (repaired).
    // A non-empty text without any "*" holds no entry and reads as the empty list.
    static QList<Resin> fromString(const QString &text);

    // True when the first entry has no version heading, or has one and exactly 12 fields.
    // False for a text without entries.
    static bool isOldResinFormat(const QString &text);
    // True when some entry does not have 19 fields. False for a text without entries.
    static bool isCorruptedResinList(const QString &text);
    // The version 3 test: ResinRollbackV3toV2::isNewResinString.
    static bool isV3ResinFormat(const QString &text);
    // True for a field of optional leading minus signs followed by one or more digits,
    // commas or points, and nothing else.
    static bool isNumberNotWord(const QString &field);

    // Reads every entry by the old 12-field rules; 20 and 100 micron factors become 1.0.
    static QList<Resin> fromStringWithOldResinFormat(const QString &text);
    // Repairs a damaged list: one default profile per entry, in order. Its name is the entry's
    // first field that is neither a number, nor empty, nor the version heading; an entry
    // without such a field becomes "CORRUPTED RESIN".
    static QList<Resin> fromCorruptedFixed(const QString &text);
    // Converts a version 3 list to version 2 text (logs an error first if it is not version 3).
    static QString convertV3ResinFormatToCurrentFormat(const QString &text);

    // One debug log line with the name and every numeric field.
    void printInfo() const;

    // Number rules of the list text, shared by the version 3 record. Reading uses the C
    // locale; a field that does not convert reads as 0.
    static QString textFromDouble(double value); // "g" notation, 6 significant digits
    static double doubleFromText(const QString &field);
    static int intFromText(const QString &field); // decimal; "3.5" does not convert
    static int truncatedIntFromText(const QString &field); // as a double, toward zero
};
