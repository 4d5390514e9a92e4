#pragma once

#include "resin.h"

#include <QList>
#include <QString>

// Tessora's built-in resin catalogue: the exposure settings the desktop uses for every print.
// The printer's own resin list supplies only the calibration factors (fine tune and scale).
//
// Every profile keeps the common resin defaults (3 adhesion layers of 20 microns, all factors
// 1) except its cure times; the adhesion cure time is the same at the three thicknesses. A cure
// time of -1 marks a layer thickness the resin does not offer.
namespace ResinCatalogue {

// The 22 profiles in catalogue order. Names of catalogue resins are the version 2 names of
// their resin ids, so that a printer's profiles and the desktop's match by name.
QList<Resin> builtIn();

// The version 2 name of a catalogue resin id ("1003" gives "Clear").
QString nameOfResinId(const QString &resinId);

// True when the cure time marks a thickness the resin does not offer (or no usable exposure).
inline bool isOffered(double cureTime)
{
    return cureTime > 0.0;
}

} // namespace ResinCatalogue
