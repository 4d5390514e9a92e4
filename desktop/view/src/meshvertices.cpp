#include "meshvertices.h"

#include <algorithm>
#include <cstring>
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

} // namespace MeshVertices
