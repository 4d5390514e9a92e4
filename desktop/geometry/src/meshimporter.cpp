#include "meshimporter.h"

#include "polygontriangulator.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QVector>
#include <QtEndian>

#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr qint64 kStlHeaderBytes = 80;
constexpr qint64 kStlPreambleBytes = 84; // header and facet count
constexpr qint64 kStlFacetBytes = 50;
constexpr qint64 kFacetsPerChunk = 4096;
constexpr qint64 kDetectionLineBytes = 1024;

// The reports 20, 25, ... 65 while a file is read: one each time the work done passes
// another tenth of the whole.
class ProgressSteps
{
public:
    ProgressSteps(qint64 total, std::function<void(int)> report)
        : m_total(total)
        , m_report(std::move(report))
    {
    }

    void advance(qint64 done)
    {
        while (m_step <= 10 && m_total > 0 && done * 10 >= m_step * m_total) {
            m_report(20 + 5 * (m_step - 1));
            ++m_step;
        }
    }

private:
    qint64 m_total;
    std::function<void(int)> m_report;
    qint64 m_step = 1;
};

// The line's words: runs of white space (blanks, tabs, CR) separate them.
QList<QByteArray> words(const QByteArray &line)
{
    const QByteArray simple = line.simplified();
    if (simple.isEmpty())
        return {};
    return simple.split(' ');
}

// Words first, second and third after the keyword as a point; a missing or malformed
// number reads as 0.
QVector3D pointAfterKeyword(const QList<QByteArray> &tokens)
{
    float xyz[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i + 1 < tokens.size(); ++i)
        xyz[i] = static_cast<float>(tokens.at(i + 1).toDouble());
    return QVector3D(xyz[0], xyz[1], xyz[2]);
}

// A line of the text readers. No size limit: QIODevice::readLine(maxSize) allocates the
// whole limit for every line.
QByteArray readLine(QIODevice &file)
{
    return file.readLine();
}

bool isText(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x09 || (u > 0x0d && u < 0x20) || u == 0x7f)
            return false;
    }
    return true;
}

float floatAt(const char *bytes)
{
    return qFromLittleEndian<float>(bytes);
}

} // namespace

MeshImporter::MeshImporter(const QString &path)
{
    readFile(path);
}

MeshImporter::MeshImporter(const QString &path, ImportProgressCallback callback)
    : m_callback(std::move(callback))
    , m_hasCallback(static_cast<bool>(m_callback))
{
    report(10);
    readFile(path);
}

MeshImporter::~MeshImporter()
{
    clear();
}

bool MeshImporter::isSupportedFile(const QString &path)
{
    return path.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive);
}

QList<MeshTriangle *> MeshImporter::takeTriangles()
{
    QList<MeshTriangle *> taken;
    taken.swap(m_triangles);
    return taken;
}

void MeshImporter::clear()
{
    qDeleteAll(m_triangles);
    m_triangles.clear();
    m_format = Format::Unknown;
    m_error = Error::None;
    m_errorString.clear();
    m_missingFacets = 0;
    m_skippedFaces = 0;
}

void MeshImporter::report(int percent)
{
    if (m_hasCallback)
        m_callback(percent);
}

void MeshImporter::fail(Error error, const QString &text)
{
    qDeleteAll(m_triangles);
    m_triangles.clear();
    m_error = error;
    m_errorString = text;
}

bool MeshImporter::readFile(const QString &path)
{
    clear();
    m_path = path;

    const QFileInfo info(path);
    if (!isSupportedFile(path) || !info.exists() || !info.isFile()) {
        qDebug().noquote() << QStringLiteral("ERROR - MeshImporter::readFile. Invalid filePath passed. ") + path;
        fail(Error::InvalidPath, QStringLiteral("%1 is not an STL or OBJ file that exists.").arg(path));
        return false;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug().noquote() << QStringLiteral("ERROR - MeshImporter::readFile. Could not open the file. ") + path;
        fail(Error::CannotOpen, QStringLiteral("%1 could not be opened: %2").arg(path, file.errorString()));
        return false;
    }
    const qint64 size = file.size();

    if (info.suffix().toLower() == QLatin1String("obj")) {
        m_format = Format::Obj;
        readObj(file, size);
    } else {
        m_format = detectStlFormat(file, size);
        report(15);
        file.seek(0);
        if (m_format == Format::AsciiStl)
            readAsciiStl(file, size);
        else
            readBinaryStl(file, size);
    }

    if (m_triangles.isEmpty()) {
        if (m_error == Error::None) {
            qDebug().noquote() << QStringLiteral("ERROR - MeshImporter::readFile. No triangles in the file. ") + path;
            fail(Error::NoTriangles, QStringLiteral("%1 contains no triangles.").arg(path));
        }
        return false;
    }
    recentre(m_triangles);
    return true;
}

// The size rule first: it is the only reliable sign of a binary file, whose header may
// begin with "solid" and even contain "facet". Otherwise the file is text when it begins
// with "solid" and either goes on with a facet (or ends the solid), or reads as text
// throughout its first kilobyte; everything else is binary.
MeshImporter::Format MeshImporter::detectStlFormat(QIODevice &file, qint64 size)
{
    if (size >= kStlPreambleBytes && file.seek(kStlHeaderBytes)) {
        const QByteArray countBytes = file.read(4);
        if (countBytes.size() == 4) {
            const quint32 count = qFromLittleEndian<quint32>(countBytes.constData());
            if (size == kStlPreambleBytes + kStlFacetBytes * qint64(count))
                return Format::BinaryStl;
        }
    }

    file.seek(0);
    const QByteArray head = file.peek(1024);
    if (!head.trimmed().left(5).toLower().startsWith("solid"))
        return Format::BinaryStl;
    if (isText(head))
        return Format::AsciiStl;

    file.readLine(kDetectionLineBytes); // the solid line
    for (int i = 0; i < 10 && !file.atEnd(); ++i) {
        const QList<QByteArray> tokens = words(file.readLine(kDetectionLineBytes));
        if (tokens.isEmpty())
            continue;
        const QByteArray first = tokens.first().toLower();
        return first == "facet" || first == "endsolid" ? Format::AsciiStl : Format::BinaryStl;
    }
    return Format::BinaryStl;
}

// Facets are the vertex lines after "outer loop"; keywords may be indented and in any
// case, numbers separated by any white space. Stored facet normals are ignored.
void MeshImporter::readAsciiStl(QIODevice &file, qint64 size)
{
    ProgressSteps progress(size, [this](int percent) { report(percent); });
    qint64 consumed = 0;
    QVector3D corners[3];
    int cornerCount = 0;
    while (!file.atEnd()) {
        const QByteArray line = readLine(file);
        if (line.isEmpty())
            break;
        consumed += line.size();
        progress.advance(consumed);

        const QList<QByteArray> tokens = words(line);
        if (tokens.isEmpty())
            continue;
        const QByteArray keyword = tokens.first().toLower();
        if (keyword == "vertex") {
            corners[cornerCount++] = pointAfterKeyword(tokens);
            if (cornerCount == 3) {
                addTriangle(corners[0], corners[1], corners[2]);
                cornerCount = 0;
            }
        } else if (keyword == "outer" || keyword == "facet" || keyword == "endloop") {
            cornerCount = 0;
        }
    }
}

void MeshImporter::readBinaryStl(QIODevice &file, qint64 size)
{
    if (size < kStlPreambleBytes) {
        qDebug().noquote() << QStringLiteral("ERROR - MeshImporter::readBinaryStl. File too short for a binary STL. ")
                + m_path;
        fail(Error::NoTriangles, QStringLiteral("%1 is too short to be an STL file.").arg(m_path));
        return;
    }
    file.seek(kStlHeaderBytes);
    const QByteArray countBytes = file.read(4);
    const qint64 declared = qFromLittleEndian<quint32>(countBytes.constData());
    const qint64 held = (size - kStlPreambleBytes) / kStlFacetBytes;
    const qint64 count = qMin(declared, held);
    if (declared > held) {
        m_missingFacets = declared - held;
        qDebug().noquote() << QStringLiteral("MINOR_ERROR. MeshImporter::readBinaryStl. The file is shorter than its "
                                             "facet count. Declared: %1, read: %2. ")
                                  .arg(declared)
                                  .arg(held)
                + m_path;
    }
    if (count < 1)
        return;

    ProgressSteps progress(count, [this](int percent) { report(percent); });
    m_triangles.reserve(static_cast<int>(qMin<qint64>(count, std::numeric_limits<int>::max())));
    qint64 done = 0;
    while (done < count) {
        const qint64 chunkFacets = qMin(kFacetsPerChunk, count - done);
        const QByteArray chunk = file.read(chunkFacets * kStlFacetBytes);
        const qint64 readFacets = chunk.size() / kStlFacetBytes;
        for (qint64 i = 0; i < readFacets; ++i) {
            // The stored normal (bytes 0-11) and the attribute word (48-49) are not used.
            const char *facet = chunk.constData() + i * kStlFacetBytes;
            const QVector3D a(floatAt(facet + 12), floatAt(facet + 16), floatAt(facet + 20));
            const QVector3D b(floatAt(facet + 24), floatAt(facet + 28), floatAt(facet + 32));
            const QVector3D c(floatAt(facet + 36), floatAt(facet + 40), floatAt(facet + 44));
            addTriangle(a, b, c);
            progress.advance(done + i + 1);
        }
        done += readFacets;
        if (readFacets < chunkFacets)
            break; // the device gave less than its size promised
    }
}

// "v" lines add vertices, "f" lines add polygons (split by ear clipping); corner words may
// be v, v/vt, v//vn or v/vt/vn, with negative indices counting back from the last vertex.
// Everything else is ignored.
void MeshImporter::readObj(QIODevice &file, qint64 size)
{
    ProgressSteps progress(size, [this](int percent) { report(percent); });
    qint64 consumed = 0;
    QVector<QVector3D> vertices;
    QVector<QVector3D> corners;
    while (!file.atEnd()) {
        QByteArray line = readLine(file);
        if (line.isEmpty())
            break;
        consumed += line.size();
        progress.advance(consumed);

        const int comment = line.indexOf('#');
        if (comment >= 0)
            line.truncate(comment);
        const QList<QByteArray> tokens = words(line);
        if (tokens.isEmpty())
            continue;
        if (tokens.first() == "v") {
            vertices.append(pointAfterKeyword(tokens));
        } else if (tokens.first() == "f") {
            corners.clear();
            bool valid = tokens.size() >= 4;
            for (int i = 1; i < tokens.size() && valid; ++i) {
                const QByteArray &token = tokens.at(i);
                const int slash = token.indexOf('/');
                bool ok = false;
                qint64 index = (slash < 0 ? token : token.left(slash)).toLongLong(&ok);
                if (index < 0)
                    index += vertices.size() + 1;
                valid = ok && index >= 1 && index <= vertices.size();
                if (valid)
                    corners.append(vertices.at(static_cast<int>(index - 1)));
            }
            if (!valid) {
                ++m_skippedFaces;
                continue;
            }
            const QVector<std::array<int, 3>> pieces = triangulatePolygon(corners);
            for (const std::array<int, 3> &piece : pieces)
                addTriangle(corners.at(piece[0]), corners.at(piece[1]), corners.at(piece[2]));
        }
    }
    if (m_skippedFaces > 0) {
        qWarning().noquote() << QStringLiteral("MINOR_ERROR. MeshImporter::readObj. Skipped %1 faces whose vertex "
                                               "indices are 0, unreadable or beyond the vertices read before them. ")
                                    .arg(m_skippedFaces)
                + m_path;
    }
    report(75);
}

void MeshImporter::addTriangle(const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    m_triangles.append(new MeshTriangle {facetNormal(a, b, c), a, b, c});
}

QVector3D MeshImporter::facetNormal(const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    // In double: QVector3D::normalized() gives up on the short normals of tiny facets.
    const double ux = double(b.x()) - a.x(), uy = double(b.y()) - a.y(), uz = double(b.z()) - a.z();
    const double vx = double(c.x()) - a.x(), vy = double(c.y()) - a.y(), vz = double(c.z()) - a.z();
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0) || !std::isfinite(length))
        return QVector3D();
    return QVector3D(float(nx / length), float(ny / length), float(nz / length));
}

void MeshImporter::recentre(QList<MeshTriangle *> &triangles)
{
    if (triangles.isEmpty())
        return;
    QVector3D low = triangles.first()->a;
    QVector3D high = low;
    for (const MeshTriangle *triangle : qAsConst(triangles)) {
        for (const QVector3D *vertex : {&triangle->a, &triangle->b, &triangle->c}) {
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = qMin(low[axis], (*vertex)[axis]);
                high[axis] = qMax(high[axis], (*vertex)[axis]);
            }
        }
    }
    const QVector3D centre(
        (double(low.x()) + high.x()) / 2, (double(low.y()) + high.y()) / 2, (double(low.z()) + high.z()) / 2);
    for (MeshTriangle *triangle : qAsConst(triangles)) {
        triangle->a -= centre;
        triangle->b -= centre;
        triangle->c -= centre;
    }
}
