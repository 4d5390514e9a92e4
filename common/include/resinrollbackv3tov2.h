#pragma once

#include <QString>

class ResinV3;

// Turns a version 3 resin list into a version 2 list, so that a printer rolled back to this
// software keeps its resins and their calibration. Only resins whose catalogue id version 2
// knows survive, each under the name it had in version 2; every cure time and factor is
// carried over unchanged.
class ResinRollbackV3toV2
{
public:
    ResinRollbackV3toV2() = delete;

    // False when the text contains "ResinFormatVersion:2" anywhere; otherwise true exactly
    // when it contains "ResinFormatVersion". Old lists and version 2 lists are not new.
    static bool isNewResinString(const QString &text);

    // True when the record's id is one of the 21 ids known to version 2 (exact comparison).
    static bool doesV3ResinExistInV2(const ResinV3 &resin);

    // The version 2 name of the record's id; for an unknown id, logs an error and returns
    // the record's own name.
    static QString getV2NameOfV3Resin(const ResinV3 &resin);

    // The version 2 list text of a version 3 list, in input order, without the resins that
    // version 2 does not know. A text that is not new is logged and returned unchanged.
    static QString convertNewResinStringToV2String(const QString &text);
};
