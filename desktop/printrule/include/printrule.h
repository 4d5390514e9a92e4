#pragma once

#include "printerstate.h"
#include "printjob.h"
#include "resin.h"

#include <QList>
#include <QString>

// The one rule that decides what a printer is sent for a job file, used by the window and by
// `tessora-cli print` alike, so that both send the same exposures and refuse the same jobs
// with the same words.
//
// Terms used here:
//   local list    - the desktop's resin catalogue for the printer's model (ResinCatalogue;
//                   in the window as edited in this session): the exposure settings.
//   printer's resin - the profile of that name in the printer's own list (its record): the
//                   calibration factors (fine tune and scale) of that printer.
//   pixel size    - 75 or 100 microns; a job is sliced for one, and printing it on a printer
//                   of the other size makes every part 25 % too small or 33 % too large. A
//                   job's description says which ("sliced at 75 microns"); one that says
//                   neither (a job packed from images) may go to either printer.
namespace PrintRule {

// What a job file tells about itself.
struct JobFacts {
    QString fileName; // named in refusals
    int layerThickness = 0; // microns
    int layerCount = 0;
    QString description;
};

// Reads the facts of a job file; false, with the refusal's words in *error, when the file
// cannot be read.
bool readJob(const QString &path, JobFacts *facts, QString *error);

// The pixel size a job's description names: 75, 100, or 0 when it names neither.
int slicedForMicrons(const QString &description);

// The side of a job's pixel in millimetres: a job that names no printer is taken for the
// common 100-micron one.
double pixelMillimetres(const QString &description);

// The exposure of one layer thickness: cure times from the local profile, calibration factors
// from the printer's resin. `recognised` is false for a thickness other than 20, 50 or 100.
struct ThicknessSettings {
    bool recognised = false;
    double cureTime = -1.0;
    double adhesionCureTime = -1.0;
    double fineTuneFactor = 1.0;
    double scaleX = 1.0;
    double scaleY = 1.0;
};
ThicknessSettings settingsAt(const Resin &local, const Resin &calibration, int thickness);

// The job line for a print, or the words of a refusal (accepted() false, nothing to send).
struct Decision {
    PrintJob job;
    QString refusal;
    bool accepted() const { return refusal.isEmpty(); }
};

// Refused: a layer thickness other than 20, 50 or 100; a job sliced for the other pixel
// size; a resin the local list does not hold; a resin without a cure time at the job's
// thickness; values the printer would refuse (PrintJob::problem()). Otherwise the job: adhesion layers, their thickness and both cure times from the
// local profile, the three calibration factors from the printer's resin, layer count and
// thickness from the job.
Decision jobForPrint(
    const QList<Resin> &localList, const PrinterState &printer, const JobFacts &job, const QString &resinName);

} // namespace PrintRule
