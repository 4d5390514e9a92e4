#pragma once

#include <QString>

// The printer's hardware and job errors, as numbered on the wire
// ("Send_PrintingError," and the number), in words for a person.
namespace PrinterErrors {

// 201 to 206; any other number is named as unknown.
QString text(int errorNumber);

} // namespace PrinterErrors
