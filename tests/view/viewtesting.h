#pragma once

// Models and files for the 3D editor's tests.

#include "meshgeometry.h"
#include "platformmodel.h"
#include "userimportedmesh.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QVector3D>

#include <memory>

namespace ViewTesting {

// A closed box centred on the origin, sizes in the files' frame (z up): it stands in the
// editor sizeX wide (x), sizeZ high (y) and sizeY deep (z).
inline std::shared_ptr<ModelEntry> boxEntry(
    float sizeX, float sizeY, float sizeZ, const QString &path = QStringLiteral("/models/box.stl"))
{
    auto mesh = std::make_shared<UserImportedMesh>(MeshGeometry::centredBox(sizeX, sizeY, sizeZ));
    return std::make_shared<ModelEntry>(mesh, path);
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

// Writes a box as an ASCII STL file (files' frame) and returns its path.
inline QString writeStlBox(const QTemporaryDir &dir, const QString &name, float sizeX, float sizeY, float sizeZ)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray text = "solid box\n";
    const QList<MeshTriangle *> triangles = MeshGeometry::centredBox(sizeX, sizeY, sizeZ);
    const auto number = [](float value) { return QByteArray::number(double(value), 'g', 9); };
    for (const MeshTriangle *t : triangles) {
        text += " facet normal 0 0 0\n  outer loop\n";
        for (const QVector3D &v : {t->a, t->b, t->c})
            text += "   vertex " + number(v.x()) + ' ' + number(v.y()) + ' ' + number(v.z()) + '\n';
        text += "  endloop\n endfacet\n";
    }
    text += "endsolid box\n";
    qDeleteAll(triangles);
    file.write(text);
    return path;
}

inline bool overlapOnPlatform(const BoundingBox &a, const BoundingBox &b)
{
    return a.minX < b.maxX && b.minX < a.maxX && a.minZ < b.maxZ && b.minZ < a.maxZ;
}

} // namespace ViewTesting
