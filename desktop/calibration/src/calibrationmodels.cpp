#include "calibrationmodels.h"

#include "atomicfile.h"
#include "calibrationdesign.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cmath>
#include <map>

namespace Calibration {

namespace {

constexpr double kPi = 3.14159265358979323846;

Point3 at(const QPointF &p, double z)
{
    return {p.x(), p.y(), z};
}

Point3 minus(const Point3 &a, const Point3 &b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

Point3 crossProduct(const Point3 &u, const Point3 &v)
{
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

double dot(const Point3 &u, const Point3 &v)
{
    return u.x * v.x + u.y * v.y + u.z * v.z;
}

void addQuads(const Ring &lower, const Ring &upper, std::vector<Facet> *facets)
{
    const size_t n = lower.points.size();
    for (size_t i = 0; i < n; ++i) {
        const Point3 a0 = at(lower.points[i], lower.z);
        const Point3 a1 = at(lower.points[(i + 1) % n], lower.z);
        const Point3 b0 = at(upper.points[i], upper.z);
        const Point3 b1 = at(upper.points[(i + 1) % n], upper.z);
        facets->push_back({a0, a1, b1});
        facets->push_back({a0, b1, b0});
    }
}

QString checkLoop(const Loop &loop, bool outer)
{
    if (loop.rings.size() < 2)
        return QStringLiteral("a loop needs two rings");
    const size_t n = loop.rings.front().points.size();
    if (n < 3)
        return QStringLiteral("a ring needs three points");
    for (size_t j = 0; j < loop.rings.size(); ++j) {
        const Ring &ring = loop.rings[j];
        if (ring.points.size() != n)
            return QStringLiteral("the rings of a loop differ in size");
        const double area = doubleArea(ring.points);
        if (outer ? area <= 0 : area >= 0)
            return outer ? QStringLiteral("an outline runs clockwise")
                         : QStringLiteral("a hole runs counter-clockwise");
        if (j > 0) {
            const Ring &below = loop.rings[j - 1];
            if (ring.z < below.z)
                return QStringLiteral("the rings of a loop go down");
            if (ring.z == below.z && ring.points == below.points)
                return QStringLiteral("two rings of a loop coincide");
        }
    }
    return {};
}

// The plate's outline, counter-clockwise from its front left corner, with the notches of
// the front row cut into the front edge and those of the back row into the back edge.
Outline plateOutline()
{
    const double left = -kPlateWidth / 2;
    const double right = kPlateWidth / 2;
    const double front = -kPlateDepth / 2;
    const double back = kPlateDepth / 2;
    std::vector<double> frontNotches;
    std::vector<double> backNotches;
    for (int fit = 1; fit <= kFitCount; ++fit) {
        for (double x : notchCentresX(fit))
            (notchEdgeY(fit) < 0 ? frontNotches : backNotches).push_back(x);
    }
    std::sort(frontNotches.begin(), frontNotches.end());
    std::sort(backNotches.begin(), backNotches.end(), std::greater<double>());

    Outline outline;
    outline.emplace_back(left, front);
    for (double x : frontNotches) {
        outline.emplace_back(x - kNotchWidth / 2, front);
        outline.emplace_back(x - kNotchWidth / 2, front + kNotchDepth);
        outline.emplace_back(x + kNotchWidth / 2, front + kNotchDepth);
        outline.emplace_back(x + kNotchWidth / 2, front);
    }
    outline.emplace_back(right, front);
    outline.emplace_back(right, back);
    for (double x : backNotches) {
        outline.emplace_back(x + kNotchWidth / 2, back);
        outline.emplace_back(x + kNotchWidth / 2, back - kNotchDepth);
        outline.emplace_back(x - kNotchWidth / 2, back - kNotchDepth);
        outline.emplace_back(x - kNotchWidth / 2, back);
    }
    outline.emplace_back(left, back);
    return outline;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

Outline circle(const QPointF &centre, double radius, int segments)
{
    Outline points;
    points.reserve(size_t(segments));
    for (int i = 0; i < segments; ++i) {
        const double angle = (i + 0.5) * 2.0 * kPi / segments;
        points.emplace_back(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
    }
    return points;
}

Outline rectangle(const QPointF &centre, double width, double depth)
{
    const double x0 = centre.x() - width / 2;
    const double x1 = centre.x() + width / 2;
    const double y0 = centre.y() - depth / 2;
    const double y1 = centre.y() + depth / 2;
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

Outline reversed(const Outline &outline)
{
    return Outline(outline.rbegin(), outline.rend());
}

double doubleArea(const Outline &outline)
{
    double sum = 0;
    const size_t n = outline.size();
    for (size_t i = 0; i < n; ++i) {
        const QPointF &p = outline[i];
        const QPointF &q = outline[(i + 1) % n];
        sum += p.x() * q.y() - q.x() * p.y();
    }
    return sum;
}

bool buildShell(const Shell &shell, std::vector<Facet> *facets, QString *error)
{
    QString problem = checkLoop(shell.outer, true);
    for (const Loop &hole : shell.holes) {
        if (problem.isEmpty())
            problem = checkLoop(hole, false);
    }
    const double bottom = shell.outer.rings.empty() ? 0 : shell.outer.rings.front().z;
    const double top = shell.outer.rings.empty() ? 0 : shell.outer.rings.back().z;
    if (problem.isEmpty() && !(top > bottom))
        problem = QStringLiteral("a shell without height");
    for (const Loop &hole : shell.holes) {
        if (problem.isEmpty() && (hole.rings.front().z != bottom || hole.rings.back().z != top))
            problem = QStringLiteral("a hole does not reach from the bottom to the top");
    }

    std::vector<Facet> built;
    const auto cap = [&](bool upper) {
        std::vector<Outline> holes;
        double expected = doubleArea(upper ? shell.outer.rings.back().points : shell.outer.rings.front().points);
        for (const Loop &hole : shell.holes) {
            holes.push_back(upper ? hole.rings.back().points : hole.rings.front().points);
            expected += doubleArea(holes.back());
        }
        std::vector<std::array<QPointF, 3>> triangles;
        if (!triangulateRegion(
                upper ? shell.outer.rings.back().points : shell.outer.rings.front().points, holes, &triangles))
            return false;
        double sum = 0;
        for (const auto &t : triangles) {
            const double area = doubleArea({t[0], t[1], t[2]});
            if (!(area > 0))
                return false;
            sum += area;
        }
        if (std::abs(sum - expected) > 1e-9 * std::abs(expected))
            return false;
        const double z = upper ? top : bottom;
        for (const auto &t : triangles) {
            if (upper)
                built.push_back({at(t[0], z), at(t[1], z), at(t[2], z)});
            else
                built.push_back({at(t[0], z), at(t[2], z), at(t[1], z)});
        }
        return true;
    };
    if (problem.isEmpty() && (!cap(false) || !cap(true)))
        problem = QStringLiteral("a cap could not be triangulated");
    if (!problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    std::vector<const Loop *> loops {&shell.outer};
    for (const Loop &hole : shell.holes)
        loops.push_back(&hole);
    for (const Loop *loop : loops) {
        for (size_t j = 0; j + 1 < loop->rings.size(); ++j)
            addQuads(loop->rings[j], loop->rings[j + 1], &built);
    }
    facets->insert(facets->end(), built.begin(), built.end());
    return true;
}

double meshVolume(const std::vector<Facet> &facets)
{
    double sixfold = 0;
    for (const Facet &f : facets)
        sixfold += dot(f.a, crossProduct(f.b, f.c));
    return sixfold / 6.0;
}

QString meshDefects(const std::vector<Facet> &facets)
{
    if (facets.empty())
        return QStringLiteral("no facets");
    using Key = std::array<double, 6>;
    std::map<Key, int> edges;
    for (const Facet &f : facets) {
        // Checked as the file stores the points: 32-bit floats.
        const auto stored = [](const Point3 &p) { return Point3 {float(p.x), float(p.y), float(p.z)}; };
        const Point3 normal = crossProduct(minus(stored(f.b), stored(f.a)), minus(stored(f.c), stored(f.a)));
        if (!(dot(normal, normal) > 1e-12))
            return QStringLiteral("a degenerate facet");
        const Point3 *corners[3] = {&f.a, &f.b, &f.c};
        for (int k = 0; k < 3; ++k) {
            const Point3 &p = *corners[k];
            const Point3 &q = *corners[(k + 1) % 3];
            ++edges[{p.x, p.y, p.z, q.x, q.y, q.z}];
        }
    }
    for (const auto &[key, count] : edges) {
        if (count != 1)
            return QStringLiteral("an edge is used %1 times in one direction").arg(count);
        const auto opposite = edges.find({key[3], key[4], key[5], key[0], key[1], key[2]});
        if (opposite == edges.end())
            return QStringLiteral("an edge without its opposite (%1, %2, %3)").arg(key[0]).arg(key[1]).arg(key[2]);
    }
    if (!(meshVolume(facets) > 0))
        return QStringLiteral("the mesh encloses no positive volume");
    return {};
}

std::vector<Facet> toleranceModel(QString *error)
{
    std::vector<Facet> facets;
    const double pinRadius = kPinDiameter / 2;

    Shell plate;
    const Outline outline = plateOutline();
    plate.outer.rings = {{0.0, outline}, {kPlateHeight, outline}};
    for (int fit = 1; fit <= kFitCount; ++fit) {
        const QPointF centre = fitCentre(fit);
        const double holeRadius = pinRadius + clearanceForFit(fit);
        const Outline relief = reversed(circle(centre, holeRadius + kReliefClearance, kFitSegments));
        const Outline hole = reversed(circle(centre, holeRadius, kFitSegments));
        Loop loop;
        loop.rings = {{0.0, relief}, {kReliefHeight, relief}, {kReliefHeight, hole}, {kPlateHeight, hole}};
        plate.holes.push_back(loop);
    }
    QString problem;
    if (!buildShell(plate, &facets, &problem)) {
        setError(error, QStringLiteral("tolerance plate: ") + problem);
        return {};
    }
    for (int fit = 1; fit <= kFitCount; ++fit) {
        Shell pin;
        const Outline round = circle(fitCentre(fit), pinRadius, kFitSegments);
        pin.outer.rings = {{0.0, round}, {kPinHeight, round}};
        if (!buildShell(pin, &facets, &problem)) {
            setError(error, QStringLiteral("pin %1: ").arg(fit) + problem);
            return {};
        }
    }
    return facets;
}

std::vector<Facet> dimensionalAccuracyModel(QString *error)
{
    std::vector<Facet> facets;

    // The block: a chamfer at the platform, then the tiers, each standing on the one below.
    Shell block;
    const QPointF blockAt = blockCentre();
    const TierSize &base = kTierSizes[0];
    block.outer.rings.push_back({0.0, rectangle(blockAt, base.x - 2 * kChamferSize, base.y - 2 * kChamferSize)});
    for (int tier = 0; tier < kTierCount; ++tier) {
        const TierSize &size = kTierSizes[size_t(tier)];
        const Outline outline = rectangle(blockAt, size.x, size.y);
        block.outer.rings.push_back({tier == 0 ? kChamferSize : tier * kTierHeight, outline});
        block.outer.rings.push_back({(tier + 1) * kTierHeight, outline});
    }
    QString problem;
    if (!buildShell(block, &facets, &problem)) {
        setError(error, QStringLiteral("block: ") + problem);
        return {};
    }

    // The ring, chamfered at the platform inside and out.
    Shell ring;
    const QPointF ringAt = ringCentre();
    const double outer = kRingOuterDiameter / 2;
    const double inner = kRingInnerDiameter / 2;
    ring.outer.rings = {{0.0, circle(ringAt, outer - kChamferSize, kRingSegments)},
        {kChamferSize, circle(ringAt, outer, kRingSegments)}, {kRingHeight, circle(ringAt, outer, kRingSegments)}};
    Loop hole;
    hole.rings = {{0.0, reversed(circle(ringAt, inner + kChamferSize, kRingSegments))},
        {kChamferSize, reversed(circle(ringAt, inner, kRingSegments))},
        {kRingHeight, reversed(circle(ringAt, inner, kRingSegments))}};
    ring.holes.push_back(hole);
    if (!buildShell(ring, &facets, &problem)) {
        setError(error, QStringLiteral("ring: ") + problem);
        return {};
    }
    return facets;
}

bool writeBinaryStl(const QString &path, const std::vector<Facet> &facets, const QString &title, QString *error)
{
    const auto fill = [&facets, &title](QIODevice *device) {
        QByteArray header = title.toLatin1().left(80);
        header.append(QByteArray(80 - header.size(), ' '));
        if (device->write(header) != header.size())
            return false;
        QDataStream out(device);
        out.setByteOrder(QDataStream::LittleEndian);
        out.setFloatingPointPrecision(QDataStream::SinglePrecision);
        out << quint32(facets.size());
        for (const Facet &f : facets) {
            Point3 normal = crossProduct(minus(f.b, f.a), minus(f.c, f.a));
            const double length = std::sqrt(dot(normal, normal));
            if (length > 0)
                normal = {normal.x / length, normal.y / length, normal.z / length};
            for (const Point3 &p : {normal, f.a, f.b, f.c})
                out << float(p.x) << float(p.y) << float(p.z);
            out << quint16(0);
        }
        return out.status() == QDataStream::Ok;
    };
    QString reason;
    if (!AtomicFile::write(path, fill, &reason)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, reason));
        return false;
    }
    return true;
}

} // namespace Calibration
