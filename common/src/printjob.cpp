#include "printjob.h"

#include "protocol.h"

#include <QDebug>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

constexpr int elementsInCompleteLine = 11; // keyword + ten fields
constexpr double minFineTuneFactor = 0.7;
constexpr double maxFineTuneFactor = 1.3;
constexpr double printerSecondsPerLayerMove = 10.0;

QString formatDouble(double value)
{
    return QString::number(value, 'g', 6);
}

int readInt(const QString &text)
{
    return text.toInt(nullptr, 10); // 0 when it does not convert
}

double readDouble(const QString &text)
{
    const double value = text.toDouble();
    // "nan" and "inf" convert, but no exposure or scale can use them.
    return std::isfinite(value) ? value : 0.0;
}

// Whole minutes, truncated; a value that is not a finite number within the
// int range gives 0 rather than an undefined conversion.
int truncatedMinutes(double seconds)
{
    const double minutes = std::trunc(seconds / 60.0);
    if (!std::isfinite(minutes) || minutes < std::numeric_limits<int>::min()
        || minutes > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(minutes);
}

} // namespace

QString PrintJob::toString() const
{
    const QStringList fields = {
        QString::number(numAdhesionLayers),
        formatDouble(adhesionLayerCureTime),
        formatDouble(cureTime),
        QString::number(layerThickness),
        QString::number(adhesionThickness),
        QString::number(numImages),
        Protocol::encodeField(resinName),
        formatDouble(scaleX),
        formatDouble(scaleY),
        formatDouble(fineTuneFactor),
    };
    return fields.join(QLatin1Char(','));
}

void PrintJob::setFromString(const QString &line)
{
    const QStringList parts = line.split(QLatin1Char(','), Qt::KeepEmptyParts);
    // A short line must not index past the end: missing elements read as
    // empty text, which converts to 0.
    const auto element = [&parts](int index) { return index < parts.size() ? parts.at(index) : QString(); };

    // Element 0 is the keyword of the network message that carried the line.
    numAdhesionLayers = readInt(element(1));
    adhesionLayerCureTime = readDouble(element(2));
    cureTime = readDouble(element(3));
    layerThickness = readInt(element(4));
    adhesionThickness = readInt(element(5));
    numImages = readInt(element(6));
    resinName = Protocol::decodeField(element(7));
    scaleX = readDouble(element(8));
    scaleY = readDouble(element(9));
    fineTuneFactor = readDouble(element(10));
}

bool PrintJob::isCompleteLine(const QString &line)
{
    return line.count(QLatin1Char(',')) + 1 >= elementsInCompleteLine;
}

QString PrintJob::problem() const
{
    const auto finiteIn
        = [](double value, double low, double high) { return std::isfinite(value) && value >= low && value <= high; };
    if (numImages < 1)
        return QStringLiteral("the job has %1 layers").arg(numImages);
    if (numAdhesionLayers < 0)
        return QStringLiteral("the adhesion layer count %1 is negative").arg(numAdhesionLayers);
    if (!finiteIn(cureTime, 0.0, maxCureSeconds) || cureTime <= 0.0)
        return QStringLiteral("the cure time of %1 s is not above 0 and at most %2 s")
            .arg(formatDouble(cureTime), formatDouble(maxCureSeconds));
    if (!finiteIn(adhesionLayerCureTime, 0.0, maxCureSeconds))
        return QStringLiteral("the adhesion cure time of %1 s is not within 0 to %2 s")
            .arg(formatDouble(adhesionLayerCureTime), formatDouble(maxCureSeconds));
    using Thickness = QPair<int, const char *>;
    for (const Thickness &thickness : {Thickness(layerThickness, "layer"), Thickness(adhesionThickness, "adhesion")}) {
        if (thickness.first < minThickness || thickness.first > maxThickness)
            return QStringLiteral("the %1 thickness of %2 microns is not within %3 to %4 microns")
                .arg(QLatin1String(thickness.second))
                .arg(thickness.first)
                .arg(minThickness)
                .arg(maxThickness);
    }
    using Scale = QPair<double, const char *>;
    for (const Scale &scale : {Scale(scaleX, "horizontal"), Scale(scaleY, "vertical")}) {
        if (!finiteIn(scale.first, minScale, maxScale))
            return QStringLiteral("the %1 scale %2 is not within %3 to %4")
                .arg(QLatin1String(scale.second), formatDouble(scale.first), formatDouble(minScale),
                    formatDouble(maxScale));
    }
    if (!std::isfinite(fineTuneFactor) || fineTuneFactor <= 0.0)
        return QStringLiteral("the fine-tune factor %1 is not above 0").arg(formatDouble(fineTuneFactor));
    return QString();
}

QString PrintJob::lineProblem(const QString &line)
{
    if (!isCompleteLine(line))
        return QStringLiteral("the job line does not have its ten fields");
    // Element index and name of every number, in the order of the line.
    static const struct {
        int index;
        bool integer;
        const char *name;
    } numbers[] = {
        {1, true, "adhesion layer count"},
        {2, false, "adhesion cure time"},
        {3, false, "cure time"},
        {4, true, "layer thickness"},
        {5, true, "adhesion thickness"},
        {6, true, "layer count"},
        {8, false, "horizontal scale"},
        {9, false, "vertical scale"},
        {10, false, "fine-tune factor"},
    };
    const QStringList parts = line.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const auto &number : numbers) {
        const QString &text = parts.at(number.index);
        bool ok = false;
        if (number.integer) {
            text.toInt(&ok, 10);
        } else {
            const double value = text.toDouble(&ok);
            ok = ok && std::isfinite(value);
        }
        if (!ok)
            return QStringLiteral("the %1 \"%2\" is not a number").arg(QLatin1String(number.name), text);
    }
    PrintJob job;
    job.setFromString(line);
    return job.problem();
}

void PrintJob::printInfo() const
{
    const QString info = QStringLiteral("**PrintJob Info** Cure Time: ") + formatDouble(cureTime)
        + QStringLiteral(" Num adhesion layers: ") + QString::number(numAdhesionLayers)
        + QStringLiteral(" Adhesion Layer cure time: ") + formatDouble(adhesionLayerCureTime)
        + QStringLiteral(" Adhesion thickness: ") + QString::number(adhesionThickness)
        + QStringLiteral(" Layer Thickness: ") + QString::number(layerThickness) + QStringLiteral(" num images: ")
        + QString::number(numImages) + QStringLiteral(" Resin name: ") + resinName + QStringLiteral(" ScaleX: ")
        + formatDouble(scaleX) + QStringLiteral(" ScaleY: ") + formatDouble(scaleY)
        + QStringLiteral(" fineTuneFactor: ") + formatDouble(fineTuneFactor);
    qDebug().noquote() << info;
}

double PrintJob::getFineTuneFactorCureTime() const
{
    if (fineTuneFactor < minFineTuneFactor)
        return cureTime * minFineTuneFactor;
    if (fineTuneFactor > maxFineTuneFactor)
        return cureTime * maxFineTuneFactor;
    return cureTime * fineTuneFactor;
}

int PrintJob::printerTotalMinutes() const
{
    // Layer counts as doubles: the difference of two ints could overflow.
    const double adhesionLayers = numAdhesionLayers;
    const double layers = numImages;
    const double seconds = adhesionLayers * adhesionLayerCureTime
        + (layers - adhesionLayers) * getFineTuneFactorCureTime() + layers * printerSecondsPerLayerMove;
    return truncatedMinutes(seconds);
}
