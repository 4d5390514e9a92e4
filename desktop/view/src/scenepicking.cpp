#include "scenepicking.h"

#include "meshpicker.h"

namespace ScenePicking {

namespace {

// The ray parameter of a point known to lie on the ray.
float parameterOf(const SceneRay &ray, const QVector3D &point)
{
    const float length = ray.direction.lengthSquared();
    return length > 0.0f ? QVector3D::dotProduct(point - ray.origin, ray.direction) / length : 0.0f;
}

} // namespace

std::optional<ModelHit> nearestModel(const QList<PlatformModel::Entry> &models, const SceneRay &ray)
{
    std::optional<ModelHit> nearest;
    const auto consider = [&](const PlatformModel::Entry &entry, float t) {
        if (!nearest || t < nearest->t)
            nearest = ModelHit {entry, t, ray.origin + t * ray.direction};
    };
    for (const PlatformModel::Entry &entry : models) {
        const UserImportedMesh &mesh = *entry->mesh();
        if (const std::optional<QVector3D> point = mesh.pick(ray.origin, ray.direction))
            consider(entry, parameterOf(ray, *point));
        if (mesh.hasSupports()) {
            bool invertible = false;
            const QMatrix4x4 toSupports = mesh.supportMatrix().inverted(&invertible);
            if (!invertible)
                continue;
            // The parameter survives the change of frame: the direction is mapped with it.
            if (const std::optional<float> t = MeshPicker::intersect(
                    mesh.supports().triangles(), toSupports.map(ray.origin), toSupports.mapVector(ray.direction)))
                consider(entry, *t);
        }
    }
    return nearest;
}

std::optional<SurfaceHit> surfaceHit(const UserImportedMesh &mesh, const SceneRay &ray)
{
    // The picking structure rules out a miss quickly; the triangle is then searched for
    // its normal.
    if (!mesh.pick(ray.origin, ray.direction))
        return std::nullopt;
    bool invertible = false;
    const QMatrix4x4 model = mesh.modelMatrix();
    const QMatrix4x4 toModel = model.inverted(&invertible);
    if (!invertible)
        return std::nullopt;
    const QVector3D origin = toModel.map(ray.origin);
    const QVector3D direction = toModel.mapVector(ray.direction);
    const MeshTriangle *nearest = nullptr;
    float nearestT = 0.0f;
    for (const MeshTriangle *triangle : mesh.triangles()) {
        const std::optional<float> t
            = MeshPicker::intersectTriangle(origin, direction, triangle->a, triangle->b, triangle->c);
        if (t && (!nearest || *t < nearestT)) {
            nearest = triangle;
            nearestT = *t;
        }
    }
    if (!nearest)
        return std::nullopt;
    const QVector3D a = model.map(nearest->a);
    const QVector3D b = model.map(nearest->b);
    const QVector3D c = model.map(nearest->c);
    QVector3D normal = MeshImporter::facetNormal(a, b, c);
    if (QVector3D::dotProduct(normal, ray.direction) > 0.0f)
        normal = -normal;
    return SurfaceHit {nearestT, ray.origin + nearestT * ray.direction, normal};
}

} // namespace ScenePicking
