#pragma once

#include <QList>
#include <QString>

#include <array>

class MeshGeometry;
struct MeshTriangle;

// Where a freshly imported model stands with the two unit questions.
enum class ImportStatus {
    Unchecked = 0,
    NeedsUnitsChoice = 1, // so small it was probably drawn in inches
    TooLarge = 3, // larger than the printer can take
    Ready = 4, // may be placed on the platform
};

// The unit checks of one imported model and the user's answers to them.
//
// Terms used here:
//   extents    - the model's unscaled size per axis (max - min, a negative extent counting
//                as 0), as imported;
//   dimensions - extents x scale per axis: the model's size as it will be printed.
class ImportChecks
{
public:
    static constexpr double kSmallestMillimetreModel = 5.0; // mm
    static constexpr double kLargestDimension = 203.2; // mm
    static constexpr double kMillimetresPerInch = 25.4;

    static inline const QString unitsTitle = QStringLiteral("Undersized Model Detected");
    static inline const QString unitsText = QStringLiteral(
        "The dimensions of the imported model are very small. Tessora uses millimeters (mm) as its units system, "
        "but perhaps the model was created in inches. Should this model be imported using mm or inches?");
    static inline const QString useMillimetresButton = QStringLiteral("Use mm");
    static inline const QString useInchesButton = QStringLiteral("Use inches");
    static inline const QString resizeTitle = QStringLiteral("Model Larger than Print Platform");
    static inline const QString resizeText
        = QStringLiteral("This model is too large to fit on the print platform in its default orientation. Would you "
                         "like Tessora to scale it down?");

    ImportChecks(double extentX, double extentY, double extentZ);
    explicit ImportChecks(const MeshGeometry &geometry);

    // The checks on a new model (scale 1): NeedsUnitsChoice when its largest extent is
    // below 5 mm, otherwise TooLarge when its largest dimension exceeds 203.2 mm,
    // otherwise Ready.
    ImportStatus check();

    // The units answer. Inches set the scale to 25.4 on all axes; millimetres leave it.
    // Then the size test: -1 with TooLarge, 0 with Ready.
    int setImportedModelUnits(bool isInches);
    // The same answer with any unit: the model's drawing units are `factor` millimetres
    // (10 for centimetres), so the scale becomes factor on all axes. A factor that is not
    // a positive number is refused: nothing changes and the result is 1.
    int setImportedModelScale(double factor);
    // The size answer. Yes scales uniformly so that the largest dimension becomes
    // 203.2 mm; either way the model is Ready.
    void resizeImportedModelToFitPlatform(bool shouldResize);

    // The edges of a triangle soup that do not join facets in pairs: 0 for a closed
    // (watertight) surface. Corners are matched by their exact coordinates.
    static int openEdges(const QList<MeshTriangle *> &triangles);

    ImportStatus status() const { return m_status; }
    const std::array<double, 3> &extents() const { return m_extents; }
    const std::array<double, 3> &scale() const { return m_scale; }
    std::array<double, 3> dimensions() const;
    double largestDimension() const;
    // The dimensions the size answer yes would give: the largest becomes 203.2 mm.
    std::array<double, 3> dimensionsResizedToFit() const;
    // Whether a drawing unit of `factor` mm is one setImportedModelScale() takes.
    static bool isUsableFactor(double factor);

private:
    ImportStatus sizeTest();

    std::array<double, 3> m_extents;
    std::array<double, 3> m_scale = {1, 1, 1};
    ImportStatus m_status = ImportStatus::Unchecked;
};
