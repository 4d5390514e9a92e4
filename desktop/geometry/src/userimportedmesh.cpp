#include "userimportedmesh.h"

#include <QDebug>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr float kMillimetresPerInch = 25.4f;
// A 75-micron printer counts horizontal distances in 0.075 mm pixels.
constexpr float k75MicronFactor = 4.0f / 3.0f;

QList<MeshTriangle *> orientedForEditor(QList<MeshTriangle *> triangles)
{
    MeshGeometry::orientForEditor(triangles);
    return triangles;
}

MeshTriangle transformed(const MeshTriangle &triangle, const QMatrix4x4 &matrix, bool is100Micron)
{
    const auto place = [&](const QVector3D &v) {
        QVector3D p = matrix.map(v);
        if (!is100Micron) {
            p.setX(p.x() * k75MicronFactor);
            p.setZ(p.z() * k75MicronFactor);
        }
        return p;
    };
    MeshTriangle result;
    result.a = place(triangle.a);
    result.b = place(triangle.b);
    result.c = place(triangle.c);
    result.normal = MeshImporter::facetNormal(result.a, result.b, result.c);
    return result;
}

void widen(BoundingBox &box, const QVector3D &point)
{
    box.minX = std::min(box.minX, double(point.x()));
    box.minY = std::min(box.minY, double(point.y()));
    box.minZ = std::min(box.minZ, double(point.z()));
    box.maxX = std::max(box.maxX, double(point.x()));
    box.maxY = std::max(box.maxY, double(point.y()));
    box.maxZ = std::max(box.maxZ, double(point.z()));
}

} // namespace

UserImportedMesh::UserImportedMesh(QList<MeshTriangle *> importedTriangles)
    : MeshRenderer(orientedForEditor(std::move(importedTriangles)))
    , m_supports(std::make_unique<UserImportedMeshSupports>())
{
    for (int axis = 0; axis < 3; ++axis)
        m_unscaledDimensions[axis] = float(std::max(geometry().extent(axis), 0.0));
    m_picker = std::make_shared<MeshPicker>(triangles());
    placementChanged();
}

UserImportedMesh::~UserImportedMesh() = default;

UserImportedMesh::UserImportedMesh(const UserImportedMesh &other)
    : MeshRenderer(other)
    , m_position(other.m_position)
    , m_rotation(other.m_rotation)
    , m_scale(other.m_scale)
    , m_unitScale(other.m_unitScale)
    , m_unscaledDimensions(other.m_unscaledDimensions)
    , m_picker(other.m_picker)
    , m_supports(std::make_unique<UserImportedMeshSupports>(*other.m_supports))
    , m_dimensionsWithSupports(other.m_dimensionsWithSupports)
    , m_turnedBox(other.m_turnedBox)
    , m_supportBox(other.m_supportBox)
    , m_supportBoxStale(other.m_supportBoxStale)
{
    placementChanged();
}

std::shared_ptr<UserImportedMesh> UserImportedMesh::clone() const
{
    return std::shared_ptr<UserImportedMesh>(new UserImportedMesh(*this));
}

void UserImportedMesh::setPosition(const QVector3D &position)
{
    m_position = position;
    placementChanged();
}

void UserImportedMesh::rotate(int axis, float degrees)
{
    if (m_supports->isBusy() || axis < 0 || axis > 2)
        return;
    QVector3D axisVector;
    axisVector[axis] = 1.0f;
    setRotation(QQuaternion::fromAxisAndAngle(axisVector, degrees) * m_rotation);
}

void UserImportedMesh::setRotation(const QQuaternion &rotation)
{
    m_rotation = rotation.normalized();
    shapeChanged();
    placementChanged();
}

void UserImportedMesh::resetRotation()
{
    setRotation(QQuaternion());
}

void UserImportedMesh::setScale(const QVector3D &scale)
{
    m_scale = scale;
    shapeChanged();
    placementChanged();
}

QMatrix4x4 UserImportedMesh::modelMatrix() const
{
    QMatrix4x4 matrix;
    matrix.translate(m_position);
    matrix.rotate(m_rotation);
    matrix.scale(m_scale);
    return matrix;
}

QMatrix4x4 UserImportedMesh::supportMatrix() const
{
    QMatrix4x4 matrix = modelMatrix();
    const QVector3D generatedScale = m_supports->generatedScale();
    if (generatedScale.x() != 0.0f && generatedScale.y() != 0.0f && generatedScale.z() != 0.0f)
        matrix.scale(QVector3D(1, 1, 1) / generatedScale);
    matrix.rotate(m_supports->generatedRotation().conjugated());
    matrix.translate(0.0f, -float(m_supports->liftHeight()), 0.0f);
    return matrix;
}

void UserImportedMesh::useInches()
{
    useUnitScale(kMillimetresPerInch);
}

void UserImportedMesh::useUnitScale(float factor)
{
    if (!(factor > 0.0f) || m_unitScale == QVector3D(factor, factor, factor))
        return;
    m_unscaledDimensions *= factor / m_unitScale.x();
    m_unitScale = QVector3D(factor, factor, factor);
    setScale(m_unitScale);
}

float UserImportedMesh::userScale() const
{
    return m_scale.x() / m_unitScale.x();
}

const std::array<double, 6> &UserImportedMesh::turnedBox() const
{
    // The cache's stale flag lives in the geometry record.
    auto &record = const_cast<MeshGeometry &>(geometry());
    if (!record.isTransformedBoxStale())
        return m_turnedBox;
    const double big = std::numeric_limits<double>::max();
    std::array<double, 6> box = {big, big, big, -big, -big, -big};
    for (const MeshTriangle *triangle : triangles()) {
        for (const QVector3D &vertex : {triangle->a, triangle->b, triangle->c}) {
            const QVector3D turned = m_rotation.rotatedVector(vertex * m_scale);
            for (int axis = 0; axis < 3; ++axis) {
                box[axis] = std::min(box[axis], double(turned[axis]));
                box[axis + 3] = std::max(box[axis + 3], double(turned[axis]));
            }
        }
    }
    if (triangles().isEmpty())
        box = {0, 0, 0, 0, 0, 0};
    m_turnedBox = box;
    record.setTransformedBoxStale(false);
    return m_turnedBox;
}

const std::array<double, 6> &UserImportedMesh::supportBox() const
{
    if (!m_supportBoxStale)
        return m_supportBox;
    m_supportBoxStale = false;
    m_supportBox = {0, 0, 0, 0, 0, 0};
    if (!hasSupports() || m_supports->triangles().isEmpty())
        return m_supportBox;
    const double big = std::numeric_limits<double>::max();
    BoundingBox box {big, big, big, -big, -big, -big};
    const QMatrix4x4 matrix = supportMatrix();
    for (const MeshTriangle *triangle : m_supports->triangles()) {
        for (const QVector3D &vertex : {triangle->a, triangle->b, triangle->c})
            widen(box, matrix.map(vertex) - m_position);
    }
    m_supportBox = {box.minX, box.minY, box.minZ, box.maxX, box.maxY, box.maxZ};
    return m_supportBox;
}

BoundingBox UserImportedMesh::worldBoundingBox() const
{
    std::array<double, 6> bounds = turnedBox();
    if (hasSupports() && !m_supports->triangles().isEmpty()) {
        // Model and supports together reach from the platform to the model's top.
        const std::array<double, 6> &supports = supportBox();
        for (int axis = 0; axis < 3; ++axis) {
            bounds[size_t(axis)] = std::min(bounds[size_t(axis)], supports[size_t(axis)]);
            bounds[size_t(axis) + 3] = std::max(bounds[size_t(axis) + 3], supports[size_t(axis) + 3]);
        }
    }
    BoundingBox box;
    box.minX = bounds[0] + m_position.x();
    box.minY = bounds[1] + m_position.y();
    box.minZ = bounds[2] + m_position.z();
    box.maxX = bounds[3] + m_position.x();
    box.maxY = bounds[4] + m_position.y();
    box.maxZ = bounds[5] + m_position.z();
    return box;
}

QVector3D UserImportedMesh::dimensions() const
{
    if (hasSupports())
        return m_dimensionsWithSupports;
    const std::array<double, 6> &turned = turnedBox();
    return QVector3D(float(turned[3] - turned[0]), float(turned[4] - turned[1]), float(turned[5] - turned[2]));
}

void UserImportedMesh::updateDimensionsWithSupports()
{
    m_supportBoxStale = true;
    if (!hasSupports()) {
        m_dimensionsWithSupports = QVector3D();
        return;
    }
    const std::array<double, 6> &turned = turnedBox();
    const std::array<double, 6> &supports = supportBox();
    // Across: the wider of model and supports; up: the overall height, from the supports'
    // foot to the model's top.
    m_dimensionsWithSupports = QVector3D(float(std::max(turned[3] - turned[0], supports[3] - supports[0])),
        float(std::max(turned[4], supports[4]) - std::min(turned[1], supports[1])),
        float(std::max(turned[5] - turned[2], supports[5] - supports[2])));
}

void UserImportedMesh::placeOnPlatform()
{
    // With supports: their foot on the platform (the lift height while the model stands
    // as they were built for it), or the model's lowest point if it reaches lower.
    if (hasSupports())
        m_position.setY(float(-std::min(turnedBox()[1], supportBox()[1])));
    else
        m_position.setY(float(-turnedBox()[1]));
    placementChanged();
}

double UserImportedMesh::volume() const
{
    const double uniform = m_scale.x();
    double total = geometry().volumeAtScale(uniform);
    if (hasSupports()) {
        const double ratio = uniform / m_supports->generatedScale().x();
        total += m_supports->supportVolume() * ratio * ratio * ratio;
    }
    return total;
}

QVector3D UserImportedMesh::platformHit(const QVector3D &origin, const QVector3D &direction)
{
    // A ray parallel to the platform counts as meeting it at its origin.
    const float t = direction.y() == 0.0f ? 0.0f : -origin.y() / direction.y();
    return origin + t * direction;
}

void UserImportedMesh::startDrag(const QVector3D &origin, const QVector3D &direction)
{
    m_dragOffset = platformHit(origin, direction) - m_position;
    m_dragging = true;
}

void UserImportedMesh::dragTo(const QVector3D &origin, const QVector3D &direction)
{
    if (!m_dragging)
        return;
    const QVector3D hit = platformHit(origin, direction);
    m_position.setX(hit.x() - m_dragOffset.x());
    m_position.setZ(hit.z() - m_dragOffset.z());
    placementChanged();
}

void UserImportedMesh::endDrag()
{
    m_dragging = false;
}

std::optional<QVector3D> UserImportedMesh::pick(const QVector3D &origin, const QVector3D &direction) const
{
    bool invertible = false;
    const QMatrix4x4 toModel = modelMatrix().inverted(&invertible);
    if (!invertible)
        return std::nullopt;
    const std::optional<float> t = m_picker->intersect(toModel.map(origin), toModel.mapVector(direction));
    if (!t)
        return std::nullopt;
    return origin + *t * direction;
}

const UserImportedMeshSingleAnchorSupports *UserImportedMesh::pickAnchor(
    const QVector3D &origin, const QVector3D &direction) const
{
    if (!hasSupports())
        return nullptr;
    bool invertible = false;
    const QMatrix4x4 toSupports = supportMatrix().inverted(&invertible);
    if (!invertible)
        return nullptr;
    return m_supports->anchorAt(toSupports.map(origin), toSupports.mapVector(direction));
}

std::vector<MeshTriangle> UserImportedMesh::printTriangles(bool is100Micron) const
{
    std::vector<MeshTriangle> result;
    const QList<MeshTriangle *> &supportTriangles = m_supports->triangles();
    result.reserve(size_t(triangles().size()) + (hasSupports() ? size_t(supportTriangles.size()) : 0));
    const QMatrix4x4 matrix = modelMatrix();
    for (const MeshTriangle *triangle : triangles())
        result.push_back(transformed(*triangle, matrix, is100Micron));
    if (hasSupports()) {
        const QMatrix4x4 supportsToScene = supportMatrix();
        for (const MeshTriangle *triangle : supportTriangles)
            result.push_back(transformed(*triangle, supportsToScene, is100Micron));
    }
    return result;
}

bool UserImportedMesh::generateSupports(
    double density, double strength, const UserImportedMeshSupports::ProgressFunction &progress)
{
    return generateSupports(density, strength, false, false, progress);
}

bool UserImportedMesh::generateSupports(double density, double strength, bool noLift, bool raft,
    const UserImportedMeshSupports::ProgressFunction &progress, const std::function<void(CDLPMain &engine)> &refine)
{
    m_supports->setPlatformOptions(noLift, raft);
    if (!m_supports->generate(triangles(), m_scale, m_rotation, density, strength, progress))
        return false;
    if (refine)
        m_supports->editEngine(refine);
    updateDimensionsWithSupports();
    placementChanged();
    return true;
}

void UserImportedMesh::removeSupports()
{
    m_supports->removeAll();
    updateDimensionsWithSupports();
    placementChanged();
}

std::unique_ptr<UserImportedMeshSupports> UserImportedMesh::detachSupports()
{
    std::unique_ptr<UserImportedMeshSupports> detached
        = std::exchange(m_supports, std::make_unique<UserImportedMeshSupports>());
    updateDimensionsWithSupports();
    placementChanged();
    return detached;
}

void UserImportedMesh::attachSupports(std::unique_ptr<UserImportedMeshSupports> supports)
{
    m_supports = supports ? std::move(supports) : std::make_unique<UserImportedMeshSupports>();
    updateDimensionsWithSupports();
    placementChanged();
}

bool UserImportedMesh::addSupportAtPoint(const QVector3D &scenePoint)
{
    if (!hasSupports()) {
        qDebug() << "ERROR -- UserImportedMesh::addSupportAtPoint. Not supported.";
        return false;
    }
    bool invertible = false;
    const QMatrix4x4 toSupports = supportMatrix().inverted(&invertible);
    if (!invertible || !m_supports->addSupportAtPoint(toSupports.map(scenePoint)))
        return false;
    updateDimensionsWithSupports();
    placementChanged();
    return true;
}

bool UserImportedMesh::deleteAnchorSupport(const UserImportedMeshSingleAnchorSupports *anchor)
{
    if (!hasSupports()) {
        qDebug() << "ERROR -- UserImportedMesh::deleteAnchorSupport. Not supported.";
        return false;
    }
    if (!anchor || !m_supports->deleteSupportAtAnchor(*anchor))
        return false;
    updateDimensionsWithSupports();
    placementChanged();
    return true;
}

void UserImportedMesh::deactivateAllAnchors()
{
    if (!hasSupports()) {
        qDebug() << "ERROR -- UserImportedMesh::deactivateAllAnchors. Not supported.";
        return;
    }
    m_supports->deactivateAllAnchors();
}

void UserImportedMesh::placementChanged()
{
    m_supports->setPlacement(supportMatrix());
}

void UserImportedMesh::shapeChanged()
{
    mutableGeometry().setTransformedBoxStale(true);
    // The supports turn and scale with the model: their box and the overall size follow.
    updateDimensionsWithSupports();
}
