#include "calibration.h"

// Resources of a static library must be registered by name, outside any namespace.
static void registerCalibrationJobs()
{
    Q_INIT_RESOURCE(calibration_jobs);
}

namespace Calibration {

void initResources()
{
    static const bool registered = (registerCalibrationJobs(), true);
    Q_UNUSED(registered)
}

QString jobResourcePath(Print print, bool printerIs75Microns, int layerThickness)
{
    if (layerThickness != 20 && layerThickness != 50 && layerThickness != 100)
        return {};
    return QStringLiteral(":/stl_ssj/%1_%2layer_%3.ssj")
        .arg(print == Print::Tolerance ? QStringLiteral("calibration") : QStringLiteral("dimensionalAccuracy"))
        .arg(layerThickness)
        .arg(printerIs75Microns ? QStringLiteral("75Q") : QStringLiteral("100P"));
}

QStringList jobResourcePaths()
{
    QStringList paths;
    for (Print print : {Print::Tolerance, Print::DimensionalAccuracy}) {
        for (int thickness : kLayerThicknesses) {
            for (bool printer75 : {true, false})
                paths << jobResourcePath(print, printer75, thickness);
        }
    }
    return paths;
}

} // namespace Calibration
