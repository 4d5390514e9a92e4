#pragma once

#include <QString>

// The printer's hardware and job errors, as numbered on the wire
// ("Send_PrintingError," and the number); text() gives each in words for a person.
namespace PrinterErrors {

enum Code {
    TiltCycleTimedOut = 201,
    BoardLost = 202,
    DisplayChanged = 203,
    LampNotConfirmed = 204,
    LampTurnedOff = 205,
    JobUnreadable = 206,
};

// Any number but a Code is named as unknown.
QString text(int errorNumber);

} // namespace PrinterErrors
