#include "platformarea.h"

#include <algorithm>
#include <vector>

namespace {

// The 75-micron printer projects the same pixels at three quarters of the size.
constexpr double k75MicronFactor = 0.75;

bool overlapOnPlatform(const BoundingBox &a, const BoundingBox &b, double gap)
{
    return a.minX < b.maxX + gap && b.minX < a.maxX + gap && a.minZ < b.maxZ + gap && b.minZ < a.maxZ + gap;
}

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
    const BoundingBox box = mesh.worldBoundingBox();
    const QVector3D position = mesh.position();
    // The box relative to the model's position.
    const double left = box.minX - position.x();
    const double back = box.minZ - position.z();
    const double width = box.maxX - box.minX;
    const double depth = box.maxZ - box.minZ;
    std::vector<BoundingBox> others;
    for (const PlatformModel::Entry &entry : models) {
        if (entry->mesh().get() != &mesh)
            others.push_back(entry->mesh()->worldBoundingBox());
    }
    const double step = PlatformModel::kPlacementStep;
    for (double z = -halfDepth; z + depth <= halfDepth; z += step) {
        for (double x = -halfWidth; x + width <= halfWidth; x += step) {
            BoundingBox candidate = box;
            candidate.minX = x;
            candidate.maxX = x + width;
            candidate.minZ = z;
            candidate.maxZ = z + depth;
            const bool clear = std::none_of(others.begin(), others.end(), [&](const BoundingBox &other) {
                return overlapOnPlatform(candidate, other, PlatformModel::kPlacementGap);
            });
            if (clear) {
                mesh.setPosition(QVector3D(float(x - left), position.y(), float(z - back)));
                return true;
            }
        }
    }
    mesh.setPosition(QVector3D(0.0f, position.y(), 0.0f));
    return false;
}
