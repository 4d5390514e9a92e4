#pragma once

#include <QMetaType>
#include <QString>

// Exposure parameters of one print, sent by the desktop to the printer as one
// comma-separated line inside a network message:
//
//     <keyword>,numAdhesionLayers,adhesionLayerCureTime,cureTime,layerThickness,
//     adhesionThickness,numImages,resinName,scaleX,scaleY,fineTuneFactor
//
// Times are in seconds, thicknesses in micrometres. The desktop writes the
// line with toString() (without the keyword), the printer reads it with
// setFromString() (with the keyword). The resin name is free text and travels as an
// encoded field (Protocol::encodeField), so a "," in it shifts no field.
class PrintJob
{
public:
    PrintJob() = default;

    // The ten fields joined by ",", doubles with at most 6 significant digits
    // ("2.5", "8", "1.2e-05").
    QString toString() const;

    // Reads the ten fields from a line that starts with the message keyword.
    // Text that does not convert, a non-finite number and a missing element
    // read as 0 (0.0, or an empty resin name). Never fails; callers that must
    // not run an incomplete job check isCompleteLine() first.
    void setFromString(const QString &line);

    // True when the line has the keyword and all ten fields (11 elements).
    static bool isCompleteLine(const QString &line);

    // Why this record must not be printed, in words for a log or a user; empty when it
    // can be. Refused: fewer than 1 layer; a negative adhesion layer count; a cure time
    // not above 0 or above maxCureSeconds; an adhesion cure time below 0 or above
    // maxCureSeconds; a thickness outside minThickness..maxThickness microns; a scale
    // outside minScale..maxScale; a fine-tune factor that is not above 0 (printing clamps
    // it); any of these not a finite number.
    QString problem() const;
    // Like problem(), for a job line (keyword and ten fields) before it is read: also
    // refused are a missing element and a number that does not convert, or does not fit
    // an int (which setFromString() would read as 0).
    static QString lineProblem(const QString &line);

    static constexpr double maxCureSeconds = 600.0; // ten minutes per layer
    static constexpr int minThickness = 1;
    static constexpr int maxThickness = 1000;
    static constexpr double minScale = 0.5;
    static constexpr double maxScale = 2.0;

    // Writes the job to the debug log in one line.
    void printInfo() const;

    // Normal-layer exposure actually used: cureTime times fineTuneFactor
    // clamped to 0.7 .. 1.3. Adhesion layers are never fine-tuned.
    double getFineTuneFactorCureTime() const;

    // Total print time as the printer reports it, in whole minutes (truncated):
    // adhesion and fine-tuned exposures plus 10 s per layer for tilt and move.
    int printerTotalMinutes() const;

    int numAdhesionLayers = 0;
    double adhesionLayerCureTime = 0.0;
    double cureTime = 0.0;
    int layerThickness = 0;
    int adhesionThickness = 0;
    int numImages = 0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    double fineTuneFactor = 1.0;
    QString resinName = QStringLiteral("CLIENTDEFAULTRESINNAME");
};

Q_DECLARE_METATYPE(PrintJob)
