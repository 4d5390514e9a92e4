#pragma once

#include "openglcamera.h"
#include "platformmodel.h"

#include <QVector3D>

#include <optional>

// Which model the mouse points at. Rays come from OpenGLCamera::rayThroughPixel; every
// test is exact against the triangles (the models' own picking structures do the work).
namespace ScenePicking {

struct ModelHit {
    PlatformModel::Entry entry;
    float t = 0.0f; // along the ray, in multiples of its direction
    QVector3D point; // scene frame
};

struct SurfaceHit {
    float t = 0.0f;
    QVector3D point; // scene frame
    QVector3D normal; // scene frame, unit, facing the ray's origin
};

// The model (or its supports) the ray meets first; none when it meets nothing.
std::optional<ModelHit> nearestModel(const QList<PlatformModel::Entry> &models, const SceneRay &ray);

// Where the ray first meets the model itself (not its supports), with the normal of the
// triangle it meets there.
std::optional<SurfaceHit> surfaceHit(const UserImportedMesh &mesh, const SceneRay &ray);

} // namespace ScenePicking
