#pragma once

#include "calibration.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

class PrinterListModel;

// The calibration ("fine tune") of a printer's resins, as the fine-tune wizard and the
// printer settings pages drive it: reading the factors a printer keeps for a resin and a
// layer thickness, choosing new ones, and printing the calibration jobs.
//
// What it knows of a printer is the printer's last record (PrinterListModel). New factors
// leave it as signals; the controller passes them on to the Server, whose device session
// writes them into the printer's resin list and sends the list. A thickness other than 20,
// 50 or 100 microns has no factors (they read 1.0).
class ResinFineTune : public QObject
{
    Q_OBJECT
public:
    explicit ResinFineTune(const PrinterListModel &printers, QObject *parent = nullptr);

    // False for an unknown printer or resin and for an uncalibrated thickness.
    bool wasResinCalibrated(const QString &deviceSerial, const QString &resinName, int layerThickness) const;
    // "scaleX", "scaleY", "fineTune" (1 for an unknown printer, resin or thickness).
    QVariantMap resinFactors(const QString &deviceSerial, const QString &resinName, int layerThickness) const;
    void setFineTuneFactor(
        const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactor);
    // Adds the change to the printer's factor (any other thickness starts from the 100-micron
    // factor and is passed on as it is).
    void modifyFineTuneFactor(
        const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactorChange);
    void setScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
        double xScalingFactor, double yScalingFactor);
    // Multiplies the printer's scale factors; nothing for another thickness (logged).
    void modifyScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
        double xScalingFactorMultiplier, double yScalingFactorMultiplier);
    // Asks for the calibration job of the printer's model and the thickness to be printed;
    // nothing for an unknown printer or another thickness (logged).
    void print(Calibration::Print print, const QString &printerSerial, const QString &resinName, int layerThickness);

signals:
    void fineTuneFactorChosen(
        const QString &serial, const QString &resinName, int layerThickness, double fineTuneFactor);
    void scalingFactorChosen(
        const QString &serial, const QString &resinName, int layerThickness, double scaleX, double scaleY);
    void printRequested(const QString &printerSerial, const QString &jobPath, const QString &resinName);

private:
    const PrinterListModel &m_printers;
};
