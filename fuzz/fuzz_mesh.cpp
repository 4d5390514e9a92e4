// The mesh readers: the input is a mesh file, imported as a user's model is imported. It is
// written to a scratch file whose suffix ("obj" with FUZZ_MESH_OBJ defined, else "stl")
// chooses the reader, as the file name does in the program: the STL target reaches the
// detection of the encoding and both STL readers, the OBJ target the OBJ reader and its
// polygon splitting. The triangles then go the way of a new model: turned to the editor's frame,
// measured (box and volume), and through the unit checks.
//
// Rules checked besides the sanitizers':
//  - every triangle's normal has unit length, or is zero for a facet without area (or
//    with coordinates too large to measure);
//  - a mesh with triangles was read without error, and an error leaves no triangles.
#include "fuzzsupport.h"

#include "importchecks.h"
#include "meshgeometry.h"
#include "meshimporter.h"

#include <QFile>

#include <cmath>

namespace {

#ifdef FUZZ_MESH_OBJ
const char *const kSuffix = "obj";
#else
const char *const kSuffix = "stl";
#endif

void checkNormals(const QList<MeshTriangle *> &triangles)
{
    for (const MeshTriangle *t : triangles) {
        const double length = double(t->normal.length());
        FUZZ_CHECK(t->normal.isNull() || std::fabs(length - 1.0) < 1e-3,
            QStringLiteral("normal of length %1").arg(length, 0, 'g', 9));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    static const QString path = Fuzz::workDir() + QStringLiteral("/model.") + QLatin1String(kSuffix);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            Fuzz::fail(__FILE__, __LINE__, "scratch file written", file.errorString());
    }

    int lastPercent = 0;
    MeshImporter importer(path, [&lastPercent](int percent) {
        FUZZ_CHECK(percent >= lastPercent && percent <= 100,
            QStringLiteral("progress %1 after %2").arg(percent).arg(lastPercent));
        lastPercent = percent;
    });
    const bool read = importer.error() == MeshImporter::Error::None;
    FUZZ_CHECK(read == !importer.triangles().isEmpty(),
        QStringLiteral("error %1 with %2 triangles").arg(int(importer.error())).arg(importer.triangles().size()));
    if (!read)
        return 0;
    checkNormals(importer.triangles());

    QList<MeshTriangle *> triangles = importer.takeTriangles();
    MeshGeometry::orientForEditor(triangles);
    checkNormals(triangles);
    MeshGeometry geometry(triangles);
    (void)geometry.volumeAtScale(25.4);
    ImportChecks checks(geometry);
    if (checks.check() == ImportStatus::NeedsUnitsChoice)
        checks.setImportedModelUnits(true);
    if (checks.status() == ImportStatus::TooLarge)
        checks.resizeImportedModelToFitPlatform(true);
    return 0;
}
