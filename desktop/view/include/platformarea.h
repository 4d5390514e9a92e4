#pragma once

#include "collisionwall.h"
#include "platformmodel.h"

#include <array>

// The printable area of the platform as the editor measures it, in millimetres: 128 x 80
// on a 100-micron printer, 96 x 60 on a 75-micron one (the same 1280 x 800 pixels), and
// 203.2 mm high on both. The walls are numbered as CollisionWall's kinds: 0 back (-z),
// 1 right (+x), 2 front (+z), 3 left (-x), 4 ceiling.
struct PlatformArea {
    double halfWidth = CollisionWall::kHalfWidth; // x
    double halfDepth = CollisionWall::kHalfDepth; // z
    double height = CollisionWall::kHeight; // y

    static PlatformArea forPrinter(bool is75Microns);

    // The walls a scene box crosses.
    std::array<bool, CollisionWall::kKinds> crossedWalls(const BoundingBox &box) const;
    bool isCrossedBy(const BoundingBox &box) const;

    // Sets the model at the first free place of the area: positions kPlacementStep apart
    // from the back left corner, row by row, where its box stays inside the area and
    // PlatformModel::kPlacementGap clear of every other model of the list. True when one
    // was found; otherwise the model is centred on the platform. Its height is kept.
    bool placeOnFreeSpace(UserImportedMesh &mesh, const QList<PlatformModel::Entry> &models) const;
};
