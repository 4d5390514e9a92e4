// tessora-calibration-models OUTDIR: writes the two calibration models as binary STL files
// into OUTDIR (created when missing). The build slices them into the calibration jobs.
#include "calibrationmodels.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <vector>

namespace {

int writeModel(const QDir &dir, const QString &fileName, const std::vector<Calibration::Facet> &facets,
    const QString &buildError, QTextStream &out, QTextStream &err)
{
    if (facets.empty()) {
        err << "error: " << fileName << ": " << buildError << "\n";
        return 1;
    }
    // A mesh that is not closed would slice into open outlines: never hand one on.
    const QString defects = Calibration::meshDefects(facets);
    if (!defects.isEmpty()) {
        err << "error: " << fileName << ": " << defects << "\n";
        return 1;
    }
    QString error;
    if (!Calibration::writeBinaryStl(
            dir.filePath(fileName), facets, QStringLiteral("Tessora calibration model ") + fileName, &error)) {
        err << "error: " << error << "\n";
        return 1;
    }
    out << dir.filePath(fileName) << ": " << facets.size() << " facets, "
        << QString::number(Calibration::meshVolume(facets), 'f', 1) << " mm3\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 || arguments.at(1).startsWith(QLatin1Char('-'))) {
        err << "usage: tessora-calibration-models OUTDIR\n"
               "Writes "
            << Calibration::toleranceModelFileName() << " and " << Calibration::dimensionalAccuracyModelFileName()
            << " into OUTDIR.\n";
        return 2;
    }
    const QDir dir(arguments.at(1));
    if (!dir.mkpath(QStringLiteral("."))) {
        err << "error: cannot create " << arguments.at(1) << "\n";
        return 1;
    }
    QString toleranceError;
    QString dimensionalError;
    const std::vector<Calibration::Facet> tolerance = Calibration::toleranceModel(&toleranceError);
    const std::vector<Calibration::Facet> dimensional = Calibration::dimensionalAccuracyModel(&dimensionalError);
    if (writeModel(dir, Calibration::toleranceModelFileName(), tolerance, toleranceError, out, err) != 0)
        return 1;
    return writeModel(dir, Calibration::dimensionalAccuracyModelFileName(), dimensional, dimensionalError, out, err);
}
