#include "importchecks.h"

#include "meshgeometry.h"

#include <algorithm>

ImportChecks::ImportChecks(double extentX, double extentY, double extentZ)
    : m_extents {std::max(extentX, 0.0), std::max(extentY, 0.0), std::max(extentZ, 0.0)}
{
}

ImportChecks::ImportChecks(const MeshGeometry &geometry)
    : ImportChecks(geometry.extent(0), geometry.extent(1), geometry.extent(2))
{
}

std::array<double, 3> ImportChecks::dimensions() const
{
    return {m_extents[0] * m_scale[0], m_extents[1] * m_scale[1], m_extents[2] * m_scale[2]};
}

double ImportChecks::largestDimension() const
{
    const std::array<double, 3> sizes = dimensions();
    return *std::max_element(sizes.begin(), sizes.end());
}

ImportStatus ImportChecks::sizeTest()
{
    m_status = largestDimension() > kLargestDimension ? ImportStatus::TooLarge : ImportStatus::Ready;
    return m_status;
}

ImportStatus ImportChecks::check()
{
    if (*std::max_element(m_extents.begin(), m_extents.end()) < kSmallestMillimetreModel) {
        m_status = ImportStatus::NeedsUnitsChoice;
        return m_status;
    }
    return sizeTest();
}

int ImportChecks::setImportedModelUnits(bool isInches)
{
    if (isInches)
        m_scale = {kMillimetresPerInch, kMillimetresPerInch, kMillimetresPerInch};
    return sizeTest() == ImportStatus::TooLarge ? -1 : 0;
}

void ImportChecks::resizeImportedModelToFitPlatform(bool shouldResize)
{
    const double largest = largestDimension();
    if (shouldResize && largest > 0) {
        const double factor = kLargestDimension / largest;
        for (double &axisScale : m_scale)
            axisScale *= factor;
    }
    m_status = ImportStatus::Ready;
}
