#pragma once

#include "cdlpmain.h"

#include <functional>
#include <vector>

// The layer-by-layer construction of supports, in the engine frame (inches, z up).
//
// The model is cut into layers one grid cell thick; each layer's material is a grid of
// cells (a cell is solid when its centre lies inside the section). Going up, a cell is
// held when material lies within the self-support reach of it in the layer below (45
// degrees: one cell per layer); the rest of a layer is unsupported. Unsupported regions
// smaller than the minimum island are left to their neighbours; every other one gets
// supports placed greedily, each covering a disc around it, until none of it is left
// uncovered. A support is a column from the platform, or from the model's own surface
// when material lies below it, up to the underside it holds: a wide base, a body and a
// thin tip.
namespace SupportSweep {

struct Shape {
    double tipRadius; // where it touches the model
    double tipLength;
    double bodyRadius;
    double baseRadius; // on the platform
    double baseHeight;
    double penetration; // how far the tip reaches into the model
};

struct Settings {
    double cell; // grid spacing = layer step
    int coverRadiusCells; // one support holds this many cells around it
    int minimumIsland; // cells
    Shape shape;
};

// Points (x, y, z of the underside to hold) where supports go, and for each the height
// its column starts from (0: the platform).
struct Placement {
    QVector3D point;
    double baseZ = 0.0;
};

std::vector<Placement> place(
    const std::vector<MeshTriangle> &model, const Settings &settings, const std::function<void(int percent)> &progress);

// The height a column under (x, y) starts from below z: the top of the model's material
// beneath it, or 0 for the platform.
double baseUnder(const std::vector<MeshTriangle> &model, double x, double y, double z);

// One closed, outward-facing mesh for a support.
std::vector<MeshTriangle> column(const Placement &placement, const Shape &shape);

} // namespace SupportSweep
