#include "meshvertices.h"

#include "overhangcheck.h"

#include <QMatrix4x4>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace MeshVertices {

namespace {

constexpr std::uint32_t kEmpty = 0xffffffffu;

std::uint64_t mix(std::uint64_t value)
{
    // The finaliser of MurmurHash3: spreads every bit of the key over the slot number.
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdull;
    value ^= value >> 33;
    value *= 0xc4ceb93fe53cc49bull;
    value ^= value >> 33;
    return value;
}

// Corners compared bit for bit: welding merges only corners that are exactly equal, as
// the corners a file shares between facets are. An open-addressing table of indices into
// the position list (four bytes a slot) keeps the millions of lookups of a large mesh in
// the processor's caches as far as it can.
class CornerTable
{
public:
    explicit CornerTable(std::vector<float> &positions, size_t expected)
        : m_positions(positions)
    {
        size_t capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        m_slots.assign(capacity, kEmpty);
    }

    // The index of the corner, appended to the positions when new.
    std::uint32_t indexOf(const QVector3D &corner)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        const float values[3] = {corner.x(), corner.y(), corner.z()};
        std::uint32_t bits[3];
        std::memcpy(bits, values, sizeof(bits));
        size_t slot = find(bits);
        if (m_slots[slot] != kEmpty)
            return m_slots[slot];
        const std::uint32_t index = std::uint32_t(m_positions.size() / 3);
        m_positions.insert(m_positions.end(), {values[0], values[1], values[2]});
        m_slots[slot] = index;
        ++m_count;
        return index;
    }

private:
    static size_t hashOf(const std::uint32_t bits[3])
    {
        return size_t(mix((std::uint64_t(bits[0]) << 32 | bits[1]) ^ mix(bits[2])));
    }

    size_t find(const std::uint32_t bits[3]) const
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t slot = hashOf(bits) & mask;; slot = (slot + 1) & mask) {
            const std::uint32_t index = m_slots[slot];
            if (index == kEmpty)
                return slot;
            std::uint32_t stored[3];
            std::memcpy(stored, &m_positions[size_t(index) * 3], sizeof(stored));
            if (stored[0] == bits[0] && stored[1] == bits[1] && stored[2] == bits[2])
                return slot;
        }
    }

    void grow()
    {
        std::vector<std::uint32_t> old(m_slots.size() * 2, kEmpty);
        old.swap(m_slots);
        for (const std::uint32_t index : old) {
            if (index == kEmpty)
                continue;
            std::uint32_t bits[3];
            std::memcpy(bits, &m_positions[size_t(index) * 3], sizeof(bits));
            m_slots[find(bits)] = index;
        }
    }

    std::vector<float> &m_positions;
    std::vector<std::uint32_t> m_slots;
    size_t m_count = 0;
};

// Whether every directed edge between distinct corners occurs once and its reverse once.
// The edges are sorted by their first corner (a counting sort), so that each corner's few
// edges lie together.
bool isClosed(const std::vector<std::uint32_t> &indices, size_t cornerCount)
{
    if (indices.empty())
        return false;
    std::vector<std::uint32_t> start(cornerCount + 1, 0);
    for (size_t i = 0; i < indices.size(); i += 3) {
        for (size_t k = 0; k < 3; ++k) {
            if (indices[i + k] != indices[i + (k + 1) % 3])
                ++start[indices[i + k] + 1];
        }
    }
    for (size_t corner = 0; corner < cornerCount; ++corner)
        start[corner + 1] += start[corner];
    std::vector<std::uint32_t> ends(start.back());
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < indices.size(); i += 3) {
        for (size_t k = 0; k < 3; ++k) {
            const std::uint32_t from = indices[i + k];
            const std::uint32_t to = indices[i + (k + 1) % 3];
            if (from != to)
                ends[fill[from]++] = to;
        }
    }
    // Each corner's edges sorted: a repeated edge sits next to its twin, and the reverse
    // of an edge is found by bisection (a corner shared by very many faces stays cheap).
    for (size_t corner = 0; corner < cornerCount; ++corner)
        std::sort(ends.begin() + start[corner], ends.begin() + start[corner + 1]);
    for (std::uint32_t from = 0; from < cornerCount; ++from) {
        for (std::uint32_t edge = start[from]; edge < start[from + 1]; ++edge) {
            const std::uint32_t to = ends[edge];
            if (edge + 1 < start[from + 1] && ends[edge + 1] == to)
                return false;
            if (!std::binary_search(ends.begin() + start[to], ends.begin() + start[to + 1], from))
                return false;
        }
    }
    return true;
}

// The cubes of one pass of clustering: their edge and the corner of the first.
struct Cubes {
    std::array<float, 3> origin {};
    double cube = 0.0;
};

// Bits of a cube's number along each axis in a clustering key.
constexpr int kCubeBits = 21;
constexpr std::uint64_t kCubeMask = (std::uint64_t(1) << kCubeBits) - 1;

struct Bounds {
    std::array<float, 3> low {};
    std::array<float, 3> high {};
    float largestExtent() const { return std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]}); }
};

Bounds boundsOf(const std::vector<float> &positions)
{
    Bounds bounds;
    for (int axis = 0; axis < 3; ++axis) {
        bounds.low[size_t(axis)] = positions.empty() ? 0.0f : positions[size_t(axis)];
        bounds.high[size_t(axis)] = bounds.low[size_t(axis)];
    }
    for (size_t at = 0; at < positions.size(); at += 3) {
        for (size_t axis = 0; axis < 3; ++axis) {
            bounds.low[axis] = std::min(bounds.low[axis], positions[at + axis]);
            bounds.high[axis] = std::max(bounds.high[axis], positions[at + axis]);
        }
    }
    return bounds;
}

QVector3D cornerAt(const std::vector<float> &positions, std::uint32_t index)
{
    const size_t at = size_t(index) * 3;
    return QVector3D(positions[at], positions[at + 1], positions[at + 2]);
}

double surfaceArea(const Indexed &mesh)
{
    double area = 0.0;
    for (size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
        const QVector3D a = cornerAt(mesh.positions, mesh.indices[i]);
        const QVector3D b = cornerAt(mesh.positions, mesh.indices[i + 1]);
        const QVector3D c = cornerAt(mesh.positions, mesh.indices[i + 2]);
        area += QVector3D::crossProduct(b - a, c - a).length() / 2.0;
    }
    return area;
}

// A triangle by its corners, started at the smallest so that the same face wound the same
// way always gives the same key, and the reverse winding another.
struct FaceKey {
    std::uint32_t corners[3];
    bool operator==(const FaceKey &other) const
    {
        return corners[0] == other.corners[0] && corners[1] == other.corners[1] && corners[2] == other.corners[2];
    }
};

struct FaceKeyHash {
    size_t operator()(const FaceKey &key) const
    {
        return size_t(mix((std::uint64_t(key.corners[0]) << 32 | key.corners[1]) ^ mix(key.corners[2])));
    }
};

FaceKey faceKey(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    if (b < a && b < c)
        return {{b, c, a}};
    if (c < a && c < b)
        return {{c, a, b}};
    return {{a, b, c}};
}

std::uint64_t cubeKey(const Cubes &clustering, const float *position)
{
    std::uint64_t key = 0;
    for (size_t axis = 0; axis < 3; ++axis) {
        const double offset = (position[axis] - clustering.origin[axis]) / clustering.cube;
        key = key << kCubeBits | std::min(std::uint64_t(std::max(offset, 0.0)), kCubeMask);
    }
    return key;
}

// The mean corner of each occupied cube, and the cube of every corner of the mesh.
std::vector<std::uint32_t> clusterCorners(const Indexed &mesh, const Cubes &clustering, std::vector<float> &clustered)
{
    const size_t cornerCount = mesh.positions.size() / 3;
    std::vector<std::uint32_t> cubeOf(cornerCount);
    std::unordered_map<std::uint64_t, std::uint32_t> cubes;
    cubes.reserve(cornerCount / 2 + 1);
    std::vector<double> sums;
    std::vector<std::uint32_t> counts;
    for (size_t corner = 0; corner < cornerCount; ++corner) {
        const auto [found, added]
            = cubes.emplace(cubeKey(clustering, &mesh.positions[corner * 3]), std::uint32_t(counts.size()));
        if (added) {
            sums.insert(sums.end(), {0.0, 0.0, 0.0});
            counts.push_back(0);
        }
        const size_t at = size_t(found->second);
        for (size_t axis = 0; axis < 3; ++axis)
            sums[at * 3 + axis] += mesh.positions[corner * 3 + axis];
        ++counts[at];
        cubeOf[corner] = found->second;
    }
    clustered.resize(sums.size());
    for (size_t at = 0; at < sums.size(); ++at)
        clustered[at] = float(sums[at] / counts[at / 3]);
    return cubeOf;
}

// Appends the face unless two of its corners are one or it was kept before.
void keepFace(std::vector<std::uint32_t> &indices, std::unordered_set<FaceKey, FaceKeyHash> &kept, std::uint32_t a,
    std::uint32_t b, std::uint32_t c)
{
    if (a == b || b == c || a == c || !kept.insert(faceKey(a, b, c)).second)
        return;
    indices.insert(indices.end(), {a, b, c});
}

// One pass of vertex clustering with these cubes; the copy's corner of each corner of the
// mesh goes to cubeOf.
Indexed cluster(const Indexed &mesh, const Cubes &clustering, std::vector<std::uint32_t> &cubeOf)
{
    Indexed result;
    result.closed = mesh.closed;
    result.outward = mesh.outward;
    cubeOf = clusterCorners(mesh, clustering, result.positions);
    std::unordered_set<FaceKey, FaceKeyHash> kept;
    for (size_t i = 0; i + 2 < mesh.indices.size(); i += 3)
        keepFace(
            result.indices, kept, cubeOf[mesh.indices[i]], cubeOf[mesh.indices[i + 1]], cubeOf[mesh.indices[i + 2]]);
    return result;
}

} // namespace

void appendInterleaved(std::vector<float> &vertices, const QList<MeshTriangle *> &triangles)
{
    vertices.reserve(vertices.size() + size_t(triangles.size()) * 3 * kInterleavedFloats);
    for (const MeshTriangle *triangle : triangles) {
        for (const QVector3D *corner : {&triangle->a, &triangle->b, &triangle->c}) {
            vertices.insert(vertices.end(),
                {corner->x(), corner->y(), corner->z(), triangle->normal.x(), triangle->normal.y(),
                    triangle->normal.z()});
        }
    }
}

Indexed weld(const QList<MeshTriangle *> &triangles)
{
    Indexed result;
    result.indices.reserve(size_t(triangles.size()) * 3);
    // A closed mesh has about half as many corners as triangles.
    CornerTable corners(result.positions, size_t(triangles.size()) / 2 + 1);
    double signedVolume = 0.0;
    for (const MeshTriangle *triangle : triangles) {
        result.indices.push_back(corners.indexOf(triangle->a));
        result.indices.push_back(corners.indexOf(triangle->b));
        result.indices.push_back(corners.indexOf(triangle->c));
        signedVolume += QVector3D::dotProduct(triangle->a, QVector3D::crossProduct(triangle->b, triangle->c));
    }
    result.closed = isClosed(result.indices, result.positions.size() / 3);
    result.outward = signedVolume > 0.0;
    return result;
}

Indexed reduce(const Indexed &mesh, size_t targetTriangles, Clustering *clustering)
{
    Clustering unused;
    Clustering &merged = clustering ? *clustering : unused;
    merged = Clustering();
    if (mesh.indices.size() / 3 <= targetTriangles)
        return mesh;
    Cubes used;
    const Bounds bounds = boundsOf(mesh.positions);
    const double largest = std::max(double(bounds.largestExtent()), 1e-6);
    used.origin = bounds.low;
    // A cube holds about one corner of the surface and there are about twice as many
    // triangles as corners; slanted faces cross more cubes than their area alone fills.
    used.cube = std::sqrt(3.0 * surfaceArea(mesh) / std::max<size_t>(targetTriangles, 1));
    // A flat or degenerate surface has little area: start no finer than this.
    used.cube = std::max(used.cube, largest / 4096.0);
    for (;;) {
        Indexed result = cluster(mesh, used, merged.copyCornerOf);
        const size_t count = result.indices.size() / 3;
        if (count <= targetTriangles)
            return result;
        // Triangles shrink in number with the square of the cube's edge; one cube larger
        // than the model leaves none, so this ends.
        used.cube *= std::max(1.05, std::sqrt(double(count) / double(targetTriangles)) * 1.02);
    }
}

std::vector<std::uint32_t> facesOf(const std::vector<std::uint32_t> &indices, const std::vector<int> &faces)
{
    std::vector<std::uint32_t> corners;
    corners.reserve(faces.size() * 3);
    for (const int face : faces) {
        const size_t at = size_t(face) * 3;
        if (face >= 0 && at + 2 < indices.size())
            corners.insert(corners.end(), {indices[at], indices[at + 1], indices[at + 2]});
    }
    return corners;
}

std::vector<int> downwardFaces(
    const std::vector<float> &positions, const std::vector<std::uint32_t> &indices, const QMatrix4x4 &modelMatrix)
{
    const float steepest = -std::sin(OverhangCheck::kOverhangDegrees * float(M_PI) / 180.0f);
    // A model's matrix places without perspective: rows of three and a translation.
    const float *m = modelMatrix.constData(); // column by column
    std::vector<QVector3D> placed(positions.size() / 3);
    for (size_t corner = 0; corner < placed.size(); ++corner) {
        const float x = positions[corner * 3], y = positions[corner * 3 + 1], z = positions[corner * 3 + 2];
        placed[corner] = QVector3D(m[0] * x + m[4] * y + m[8] * z + m[12], m[1] * x + m[5] * y + m[9] * z + m[13],
            m[2] * x + m[6] * y + m[10] * z + m[14]);
    }
    std::vector<int> faces;
    for (size_t at = 0; at + 2 < indices.size(); at += 3) {
        if (std::max({indices[at], indices[at + 1], indices[at + 2]}) >= placed.size())
            continue;
        const QVector3D &a = placed[indices[at]], &b = placed[indices[at + 1]], &c = placed[indices[at + 2]];
        // Down steeply: the normal's y below steepest times its length, without a root.
        const QVector3D normal = QVector3D::crossProduct(b - a, c - a);
        const float y = normal.y();
        if (y < 0.0f && y * y > steepest * steepest * normal.lengthSquared()
            && std::max({a.y(), b.y(), c.y()}) > OverhangCheck::kOnPlatformMm)
            faces.push_back(int(at / 3));
    }
    return faces;
}

std::vector<std::uint32_t> reduceFaces(const std::vector<std::uint32_t> &corners, const Clustering &clustering)
{
    const std::vector<std::uint32_t> &copyCornerOf = clustering.copyCornerOf;
    std::vector<std::uint32_t> indices;
    std::unordered_set<FaceKey, FaceKeyHash> kept;
    for (size_t at = 0; at + 2 < corners.size(); at += 3) {
        if (std::max({corners[at], corners[at + 1], corners[at + 2]}) >= copyCornerOf.size())
            return {};
        keepFace(
            indices, kept, copyCornerOf[corners[at]], copyCornerOf[corners[at + 1]], copyCornerOf[corners[at + 2]]);
    }
    return indices;
}

} // namespace MeshVertices
