#pragma once

// Models, files and comparisons for the tests of the 3D editor and its platform.

#include "meshgeometry.h"
#include "platformmodel.h"
#include "userimportedmesh.h"

#include <QFile>
#include <QQuaternion>
#include <QString>
#include <QTemporaryDir>
#include <QVector3D>

#include <cmath>
#include <memory>
#include <vector>

namespace MeshTesting {

inline bool near(double a, double b, double tolerance = 1e-3)
{
    return std::abs(a - b) <= tolerance;
}

inline bool near(const QVector3D &a, const QVector3D &b, float tolerance = 1e-3f)
{
    return (a - b).length() <= tolerance;
}

inline QVector3D extents(const BoundingBox &box)
{
    return QVector3D(float(box.maxX - box.minX), float(box.maxY - box.minY), float(box.maxZ - box.minZ));
}

inline QVector3D centre(const BoundingBox &box)
{
    return QVector3D(float(box.minX + box.maxX), float(box.minY + box.maxY), float(box.minZ + box.maxZ)) / 2.0f;
}

// A closed box centred on the origin, sizes in the files' frame (z up), as the importer
// hands it over: it stands in the editor sizeX wide (x), sizeZ high (y) and sizeY deep (z).
inline std::shared_ptr<UserImportedMesh> box(float sizeX, float sizeY, float sizeZ)
{
    return std::make_shared<UserImportedMesh>(MeshGeometry::centredBox(sizeX, sizeY, sizeZ));
}

// That box as a model of the platform's list.
inline std::shared_ptr<ModelEntry> boxEntry(
    float sizeX, float sizeY, float sizeZ, const QString &path = QStringLiteral("/models/box.stl"))
{
    return std::make_shared<ModelEntry>(box(sizeX, sizeY, sizeZ), path);
}

// A box added to the platform (placed there automatically) and, optionally, selected.
inline std::shared_ptr<ModelEntry> addBox(PlatformModel &platform, float sizeX, float sizeY, float sizeZ,
    bool select = true, const QString &path = QStringLiteral("/models/box.stl"))
{
    std::shared_ptr<ModelEntry> entry = boxEntry(sizeX, sizeY, sizeZ, path);
    platform.addEntry(entry);
    if (select)
        platform.selectModel(entry);
    return entry;
}

// Writes triangles as an ASCII STL file (files' frame) and returns its path.
inline QString writeStl(const QTemporaryDir &dir, const QString &name, const QList<MeshTriangle *> &triangles)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray text = "solid mesh\n";
    const auto number = [](float value) { return QByteArray::number(double(value), 'g', 9); };
    for (const MeshTriangle *t : triangles) {
        text += " facet normal 0 0 0\n  outer loop\n";
        for (const QVector3D &v : {t->a, t->b, t->c})
            text += "   vertex " + number(v.x()) + ' ' + number(v.y()) + ' ' + number(v.z()) + '\n';
        text += "  endloop\n endfacet\n";
    }
    text += "endsolid mesh\n";
    file.write(text);
    return path;
}

// One model of a scene as undo must bring it back: the same entry, placed the same,
// with the same supports.
struct ModelState {
    const ModelEntry *entry = nullptr;
    QVector3D position;
    QQuaternion rotation;
    QVector3D scale;
    bool hasSupports = false;
    size_t anchors = 0;
    int supportTriangles = 0;
    QVector3D boxLow; // the world box, supports included
    QVector3D boxHigh;
};

inline std::vector<ModelState> sceneState(const PlatformModel &platform)
{
    std::vector<ModelState> state;
    for (const std::shared_ptr<ModelEntry> &entry : platform.models()) {
        const UserImportedMesh &mesh = *entry->mesh();
        const BoundingBox box = mesh.worldBoundingBox();
        state.push_back({entry.get(), mesh.position(), mesh.rotation(), mesh.scale(), mesh.hasSupports(),
            mesh.supports().anchors().size(), mesh.hasSupports() ? mesh.supports().triangles().size() : 0,
            QVector3D(float(box.minX), float(box.minY), float(box.minZ)),
            QVector3D(float(box.maxX), float(box.maxY), float(box.maxZ))});
    }
    return state;
}

// Empty when both states match; otherwise what differs first.
inline QString sceneDifference(const std::vector<ModelState> &a, const std::vector<ModelState> &b)
{
    if (a.size() != b.size())
        return QStringLiteral("%1 models against %2").arg(a.size()).arg(b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        const ModelState &x = a[i];
        const ModelState &y = b[i];
        const QString model = QStringLiteral("model %1: ").arg(i);
        if (x.entry != y.entry)
            return model + QStringLiteral("another model");
        if (!near(x.position, y.position) || !near(x.scale, y.scale)
            || !qFuzzyCompare(x.rotation.toVector4D(), y.rotation.toVector4D()))
            return model + QStringLiteral("placed elsewhere");
        if (x.hasSupports != y.hasSupports || x.anchors != y.anchors || x.supportTriangles != y.supportTriangles)
            return model
                + QStringLiteral("supports %1 (%2 anchors) against %3 (%4 anchors)")
                      .arg(x.supportTriangles)
                      .arg(x.anchors)
                      .arg(y.supportTriangles)
                      .arg(y.anchors);
        if (!near(x.boxLow, y.boxLow, 1e-2f) || !near(x.boxHigh, y.boxHigh, 1e-2f))
            return model + QStringLiteral("another bounding box");
    }
    return QString();
}

// Writes a box as an ASCII STL file and returns its path.
inline QString writeStlBox(const QTemporaryDir &dir, const QString &name, float sizeX, float sizeY, float sizeZ)
{
    const QList<MeshTriangle *> triangles = MeshGeometry::centredBox(sizeX, sizeY, sizeZ);
    const QString path = writeStl(dir, name, triangles);
    qDeleteAll(triangles);
    return path;
}

inline bool overlapOnPlatform(const BoundingBox &a, const BoundingBox &b)
{
    return a.minX < b.maxX && b.minX < a.maxX && a.minZ < b.maxZ && b.minZ < a.maxZ;
}

// What is wrong with the placement of the models: two footprints closer than `gap`, or a
// model on the area (x within +-halfWidth, z within +-halfDepth) closer than `margin` to
// its edge. Models wholly beside the area count as set aside and are checked for overlap
// only. Empty when all is well.
inline QString placementFault(
    const QList<PlatformModel::Entry> &models, double halfWidth, double halfDepth, double margin, double gap)
{
    const double rounding = 1e-3;
    for (int i = 0; i < models.size(); ++i) {
        const BoundingBox a = models.at(i)->mesh()->worldBoundingBox();
        const bool aside = a.minX > halfWidth;
        if (!aside
            && (a.minX < -halfWidth + margin - rounding || a.maxX > halfWidth - margin + rounding
                || a.minZ < -halfDepth + margin - rounding || a.maxZ > halfDepth - margin + rounding))
            return QStringLiteral("model %1 is within the margin: x %2..%3, z %4..%5")
                .arg(i)
                .arg(a.minX)
                .arg(a.maxX)
                .arg(a.minZ)
                .arg(a.maxZ);
        for (int j = i + 1; j < models.size(); ++j) {
            BoundingBox b = models.at(j)->mesh()->worldBoundingBox();
            b.minX -= gap - rounding;
            b.maxX += gap - rounding;
            b.minZ -= gap - rounding;
            b.maxZ += gap - rounding;
            if (overlapOnPlatform(a, b))
                return QStringLiteral("models %1 and %2 are closer than %3 mm").arg(i).arg(j).arg(gap);
        }
    }
    return QString();
}

} // namespace MeshTesting
