#include "platformarea.h"

#include <algorithm>

namespace {

// The 75-micron printer projects the same pixels at three quarters of the size.
constexpr double k75MicronFactor = 0.75;

} // namespace

PlatformArea PlatformArea::forPrinter(bool is75Microns)
{
    PlatformArea area;
    if (is75Microns) {
        area.halfWidth *= k75MicronFactor;
        area.halfDepth *= k75MicronFactor;
    }
    return area;
}

std::array<bool, CollisionWall::kKinds> PlatformArea::crossedWalls(const BoundingBox &box) const
{
    return {box.minZ<-halfDepth, box.maxX> halfWidth, box.maxZ > halfDepth, box.minX<-halfWidth, box.maxY> height};
}

bool PlatformArea::isCrossedBy(const BoundingBox &box) const
{
    const std::array<bool, CollisionWall::kKinds> walls = crossedWalls(box);
    return std::any_of(walls.begin(), walls.end(), [](bool crossed) { return crossed; });
}

bool PlatformArea::placeOnFreeSpace(UserImportedMesh &mesh, const QList<PlatformModel::Entry> &models) const
{
    return PlatformModel::placeOnFreeSpace(mesh, models, halfWidth, halfDepth);
}
