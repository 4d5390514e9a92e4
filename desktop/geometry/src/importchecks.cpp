#include "importchecks.h"

#include "meshgeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

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
        return setImportedModelScale(kMillimetresPerInch);
    return sizeTest() == ImportStatus::TooLarge ? -1 : 0;
}

bool ImportChecks::isUsableFactor(double factor)
{
    return factor > 0.0 && std::isfinite(factor);
}

int ImportChecks::setImportedModelScale(double factor)
{
    if (!isUsableFactor(factor))
        return 1;
    m_scale = {factor, factor, factor};
    return sizeTest() == ImportStatus::TooLarge ? -1 : 0;
}

std::array<double, 3> ImportChecks::dimensionsResizedToFit() const
{
    std::array<double, 3> sizes = dimensions();
    const double largest = largestDimension();
    if (largest > 0) {
        for (double &size : sizes)
            size *= kLargestDimension / largest;
    }
    return sizes;
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

int ImportChecks::openEdges(const QList<MeshTriangle *> &triangles)
{
    using Corner = std::array<float, 3>;
    using Edge = std::pair<Corner, Corner>;
    const auto corner = [](const QVector3D &v) { return Corner {v.x(), v.y(), v.z()}; };
    std::vector<Edge> edges;
    edges.reserve(size_t(triangles.size()) * 3);
    for (const MeshTriangle *t : triangles) {
        const Corner corners[3] = {corner(t->a), corner(t->b), corner(t->c)};
        for (int i = 0; i < 3; ++i) {
            const Corner &p = corners[i];
            const Corner &q = corners[(i + 1) % 3];
            edges.push_back(p < q ? Edge(p, q) : Edge(q, p));
        }
    }
    // Sorted, the uses of one edge lie together: a closed surface uses each an even
    // number of times (twice, or more where surfaces touch along it).
    std::sort(edges.begin(), edges.end());
    int open = 0;
    for (size_t first = 0; first < edges.size();) {
        size_t next = first + 1;
        while (next < edges.size() && edges[next] == edges[first])
            ++next;
        if ((next - first) % 2 != 0)
            ++open;
        first = next;
    }
    return open;
}
