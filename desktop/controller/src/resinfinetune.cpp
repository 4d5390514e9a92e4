#include "resinfinetune.h"

#include "basiclogging.h"
#include "printerlistmodel.h"
#include "printerstate.h"
#include "resin.h"

// The log lines name the controller's operations: those are the ones the pages call.

ResinFineTune::ResinFineTune(const PrinterListModel &printers, QObject *parent)
    : QObject(parent)
    , m_printers(printers)
{
}

bool ResinFineTune::wasResinCalibrated(const QString &deviceSerial, const QString &resinName, int layerThickness) const
{
    const PrinterState *printer = m_printers.find(deviceSerial);
    return printer && printer->resin(resinName).isCalibrated(layerThickness);
}

QVariantMap ResinFineTune::resinFactors(const QString &deviceSerial, const QString &resinName, int layerThickness) const
{
    const PrinterState *printer = m_printers.find(deviceSerial);
    const Resin calibration = printer && printer->hasResin(resinName) ? printer->resin(resinName) : Resin(resinName);
    return {{QStringLiteral("scaleX"), calibration.scaleX(layerThickness)},
        {QStringLiteral("scaleY"), calibration.scaleY(layerThickness)},
        {QStringLiteral("fineTune"), calibration.fineTuneFactor(layerThickness)}};
}

void ResinFineTune::setFineTuneFactor(
    const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactor)
{
    emit fineTuneFactorChosen(deviceSerial, resinName, layerThickness, fineTuneFactor);
}

void ResinFineTune::modifyFineTuneFactor(
    const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactorChange)
{
    const PrinterState *printer = m_printers.find(deviceSerial);
    if (!printer) {
        logLine(QStringLiteral("ERROR. MyGLWidget::modifyResinFineTuneFactor. Device with serial not found. Serial: ")
            + deviceSerial);
        return;
    }
    const int factorAt = Resin::isLayerThickness(layerThickness) ? layerThickness : 100;
    const double current = printer->resin(resinName).fineTuneFactor(factorAt);
    emit fineTuneFactorChosen(deviceSerial, resinName, layerThickness, current + fineTuneFactorChange);
}

void ResinFineTune::setScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
    double xScalingFactor, double yScalingFactor)
{
    emit scalingFactorChosen(deviceSerial, resinName, layerThickness, xScalingFactor, yScalingFactor);
}

void ResinFineTune::modifyScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
    double xScalingFactorMultiplier, double yScalingFactorMultiplier)
{
    const PrinterState *printer = m_printers.find(deviceSerial);
    if (!printer) {
        logLine(QStringLiteral("ERROR. MyGLWidget::modifyResinScalingFactor. Device with serial not found. Serial: ")
            + deviceSerial);
        return;
    }
    if (!Resin::isLayerThickness(layerThickness)) {
        logLine(QStringLiteral("ERROR -- MyGLWidget::modifyResinScalingFactor. Unexpected layerthickness: ")
            + QString::number(layerThickness));
        return;
    }
    const Resin r = printer->resin(resinName);
    emit scalingFactorChosen(deviceSerial, resinName, layerThickness,
        r.scaleX(layerThickness) * xScalingFactorMultiplier, r.scaleY(layerThickness) * yScalingFactorMultiplier);
}

void ResinFineTune::print(
    Calibration::Print print, const QString &printerSerial, const QString &resinName, int layerThickness)
{
    const PrinterState *printer = m_printers.find(printerSerial);
    if (!printer) {
        logLine(QStringLiteral("ERROR. MyGLWidget::runFineTunePrint. Device with serial not found. Serial: ")
            + printerSerial);
        return;
    }
    const QString path = Calibration::jobResourcePath(print, printer->is75MicronModel(), layerThickness);
    if (path.isEmpty()) {
        logLine(QStringLiteral("ERROR. MyGLWidget::runFineTunePrint. No calibration job for layer thickness: ")
            + QString::number(layerThickness));
        return;
    }
    emit printRequested(printerSerial, path, resinName);
}
