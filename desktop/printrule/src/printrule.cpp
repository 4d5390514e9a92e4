#include "printrule.h"

#include "crushedprintjob.h"
#include "resincatalogue.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace PrintRule {

namespace {

const QString kNothingSent = QStringLiteral(" Nothing was sent to the printer.");

const Resin *findResin(const QList<Resin> &list, const QString &name)
{
    for (const Resin &r : list) {
        if (r.name == name)
            return &r;
    }
    return nullptr;
}

QString printerName(const PrinterState &printer)
{
    return printer.nickname.isEmpty() ? printer.serial : printer.nickname;
}

Decision refuse(const QString &words)
{
    qDebug().noquote() << "ERROR. PrintRule::jobForPrint. " + words;
    Decision decision;
    decision.refusal = words;
    return decision;
}

} // namespace

bool readJob(const QString &path, JobFacts *facts, QString *error)
{
    CrushedPrintJob job;
    QFile file(path);
    facts->fileName = QFileInfo(path).fileName();
    if (!job.loadCPJ(&file)) {
        *error = QStringLiteral("The print job file %1 could not be read (%2).%3")
                     .arg(facts->fileName, job.errorString(), kNothingSent);
        return false;
    }
    // The header keeps the thickness in millimetres as text ("0.05").
    facts->layerThickness = static_cast<int>(job.layerThicknessText().toDouble() * 1000.0 + 1e-6);
    facts->layerCount = job.getTotalLayers();
    facts->description = job.description();
    return true;
}

int slicedForMicrons(const QString &description)
{
    if (description.contains(QLatin1String("100 microns")))
        return 100;
    if (description.contains(QLatin1String("75 microns")))
        return 75;
    return 0;
}

double pixelMillimetres(const QString &description)
{
    const int microns = slicedForMicrons(description);
    return (microns > 0 ? microns : 100) / 1000.0;
}

ThicknessSettings settingsAt(const Resin &local, const Resin &calibration, int thickness)
{
    return {Resin::isLayerThickness(thickness), local.cureTime(thickness), local.adhesionCureTime(thickness),
        calibration.fineTuneFactor(thickness), calibration.scaleX(thickness), calibration.scaleY(thickness)};
}

Decision jobForPrint(
    const QList<Resin> &localList, const PrinterState &printer, const JobFacts &job, const QString &resinName)
{
    if (!Resin::isLayerThickness(job.layerThickness))
        return refuse(QStringLiteral("The print job %1 has layers of %2 microns; printers print layers of 20, 50 or "
                                     "100 microns.")
                          .arg(job.fileName)
                          .arg(job.layerThickness)
            + kNothingSent);

    const int printerMicrons = printer.is75MicronModel() ? 75 : 100;
    const int jobMicrons = slicedForMicrons(job.description);
    if (jobMicrons != 0 && jobMicrons != printerMicrons)
        return refuse(
            QStringLiteral("The print job %1 was sliced for %2-micron printers; %3 is a %4-micron printer "
                           "and would print it %5. Slice it again for this printer.")
                .arg(job.fileName)
                .arg(jobMicrons)
                .arg(printerName(printer))
                .arg(printerMicrons)
                .arg(jobMicrons > printerMicrons ? QStringLiteral("25 % too small") : QStringLiteral("33 % too large"))
            + kNothingSent);

    const Resin *local = findResin(localList, resinName);
    if (!local) {
        QStringList names;
        for (const Resin &r : localList)
            names << r.name;
        return refuse(QStringLiteral("There is no resin %1 among the resins for %2-micron printers (%3).")
                          .arg(resinName)
                          .arg(printerMicrons)
                          .arg(names.join(QStringLiteral(", ")))
            + kNothingSent);
    }

    const ThicknessSettings settings = settingsAt(*local, printer.resin(resinName), job.layerThickness);
    Decision decision;
    PrintJob &out = decision.job;
    out.numAdhesionLayers = local->numAdhesionLayers;
    out.adhesionThickness = local->aThickness;
    out.adhesionLayerCureTime = settings.adhesionCureTime;
    out.cureTime = settings.cureTime;
    out.layerThickness = job.layerThickness;
    out.numImages = job.layerCount;
    out.resinName = resinName;
    out.scaleX = settings.scaleX;
    out.scaleY = settings.scaleY;
    out.fineTuneFactor = settings.fineTuneFactor;

    // A cure time of -1 marks a thickness the resin does not offer; sent, it would make every
    // exposure end at once.
    const bool adhesionOffered = out.numAdhesionLayers <= 0 || ResinCatalogue::isOffered(out.adhesionLayerCureTime);
    if (!ResinCatalogue::isOffered(out.cureTime) || !adhesionOffered)
        return refuse(QStringLiteral("The resin %1 is not offered for layers of %2 microns. Choose another resin or "
                                     "slice the model at another layer thickness.")
                          .arg(resinName)
                          .arg(job.layerThickness)
            + kNothingSent);
    // The printer refuses the same values (a scale of 0 from a damaged calibration, an absurd
    // cure time typed into the resin table): say so before anything is sent.
    const QString problem = out.problem();
    if (!problem.isEmpty())
        return refuse(QStringLiteral("The print job %1 cannot be printed with the resin %2: %3.")
                          .arg(job.fileName, resinName, problem)
            + kNothingSent);
    return decision;
}

} // namespace PrintRule
