#pragma once

#include <QList>
#include <QString>
#include <QVector3D>

#include <functional>

class QIODevice;

// One imported facet: its unit normal and three vertices, three 32-bit floats each.
// Vertices keep the file's order and units (taken as millimetres); the normal follows
// the right-hand rule over a, b, c.
struct MeshTriangle {
    QVector3D normal;
    QVector3D a;
    QVector3D b;
    QVector3D c;
};

// Called with a percentage (0 to 100) while a file is read; the model import passes one
// that advances the import progress bar, built-in meshes are read without.
using ImportProgressCallback = std::function<void(int percent)>;

// Reads one mesh file (ASCII STL, binary STL or Wavefront OBJ, from disk or from a Qt
// resource path) into a triangle soup: no vertex sharing, no welding. Every normal is
// recomputed from the vertex order and the mesh is recentred on the centre of its
// bounding box. The whole read happens in the constructor.
//
// Terms used here:
//   size rule   - a file whose size is exactly 84 + 50 x (the little-endian count in bytes
//                 80-83) is a binary STL, whatever its 80-byte header says.
//   short file  - a binary STL holding fewer facets than its count declares; the facets it
//                 holds are read and the shortfall is logged.
//   skipped face - an OBJ face with a corner index of 0 or beyond the vertices read so far
//                 (relative indices count back from the last vertex read); all of them
//                 are reported in one log line.
//
// The importer owns the triangles until takeTriangles() hands them over; the rest are
// deleted with it.
class MeshImporter
{
public:
    enum class Format { Unknown, AsciiStl, BinaryStl, Obj };
    enum class Error { None, InvalidPath, CannotOpen, NoTriangles };

    explicit MeshImporter(const QString &path);
    // Reports 10 first, then the progress of the read (see readFile()).
    MeshImporter(const QString &path, ImportProgressCallback callback);
    ~MeshImporter();
    MeshImporter(const MeshImporter &) = delete;
    MeshImporter &operator=(const MeshImporter &) = delete;

    // True when the name ends, ignoring case, with ".stl" or ".obj".
    static bool isSupportedFile(const QString &path);

    // Reads the file, replacing any earlier result. Progress: 15 when an STL's encoding
    // has been decided, 20, 25, ... 65 while reading (at most ten reports), 75 when an
    // OBJ is finished. False when nothing could be read (see error()).
    bool readFile(const QString &path);

    // The recentred triangles; empty when the file could not be read.
    const QList<MeshTriangle *> &triangles() const { return m_triangles; }
    // Hands the triangles to the caller, who deletes them; the importer is empty afterwards.
    QList<MeshTriangle *> takeTriangles();

    Format format() const { return m_format; }
    Error error() const { return m_error; }
    // Empty when the read succeeded, otherwise a sentence for the user.
    QString errorString() const { return m_errorString; }
    // How many facets a short binary STL lacked, and how many OBJ faces were skipped.
    qint64 missingFacets() const { return m_missingFacets; }
    int skippedFaces() const { return m_skippedFaces; }

    // Subtracts the centre of the bounding box of all vertices from every vertex.
    static void recentre(QList<MeshTriangle *> &triangles);
    // normalize(cross(b - a, c - a)); a zero vector for a degenerate triangle.
    static QVector3D facetNormal(const QVector3D &a, const QVector3D &b, const QVector3D &c);

private:
    Format detectStlFormat(QIODevice &file, qint64 size);
    void readAsciiStl(QIODevice &file, qint64 size);
    void readBinaryStl(QIODevice &file, qint64 size);
    void readObj(QIODevice &file, qint64 size);
    void addTriangle(const QVector3D &a, const QVector3D &b, const QVector3D &c);
    void report(int percent);
    void fail(Error error, const QString &text);
    void clear();

    QList<MeshTriangle *> m_triangles;
    ImportProgressCallback m_callback;
    bool m_hasCallback = false;
    Format m_format = Format::Unknown;
    Error m_error = Error::None;
    QString m_errorString;
    QString m_path;
    qint64 m_missingFacets = 0;
    int m_skippedFaces = 0;
};
