#include "csupporttree.h"

#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

// How many tips a trunk feeds.
constexpr size_t kTreeTips = 8;
// The shortest trunk worth building, inches.
constexpr double kShortestTrunk = 0.08;
constexpr int kSides = 12;

double horizontalDistance(const CVertex &a, const CVertex &b)
{
    return std::hypot(a.x - b.x, a.y - b.y);
}

void addTriangle(std::vector<MeshTriangle> &out, const CVertex &a, const CVertex &b, const CVertex &c)
{
    const QVector3D pa = a.toVector();
    const QVector3D pb = b.toVector();
    const QVector3D pc = c.toVector();
    out.push_back({MeshImporter::facetNormal(pa, pb, pc), pa, pb, pc});
}

} // namespace

void appendFrustum(std::vector<MeshTriangle> &mesh, const CVertex &a, double ra, const CVertex &b, double rb)
{
    CVertex w = b - a;
    const double length = w.length();
    if (length <= 0.0)
        return;
    w = w * (1.0 / length);
    CVertex u = std::abs(w.z) < 0.9 ? w.cross(CVertex(0, 0, 1)) : w.cross(CVertex(1, 0, 0));
    u = u * (1.0 / u.length());
    const CVertex v = w.cross(u);
    const auto ring = [&](const CVertex &centre, double r, int side) {
        const double angle = 2.0 * M_PI * side / kSides;
        return centre + u * (r * std::cos(angle)) + v * (r * std::sin(angle));
    };
    for (int side = 0; side < kSides; ++side) {
        const CVertex a0 = ring(a, ra, side);
        const CVertex a1 = ring(a, ra, side + 1);
        const CVertex b0 = ring(b, rb, side);
        const CVertex b1 = ring(b, rb, side + 1);
        addTriangle(mesh, a0, a1, b1);
        addTriangle(mesh, a0, b1, b0);
        addTriangle(mesh, a, a1, a0);
        addTriangle(mesh, b, b0, b1);
    }
}

CSupportObstacles::CSupportObstacles(std::vector<CTriangle> model, double cell)
    : m_model(std::move(model))
{
    CGridFrame frame;
    frame.cell = cell > 0.0 ? cell : 0.01;
    double low[2] = {1e30, 1e30};
    double high[2] = {-1e30, -1e30};
    for (const CTriangle &t : m_model)
        for (const CVertex &p : t.v) {
            low[0] = std::min(low[0], p.x);
            low[1] = std::min(low[1], p.y);
            high[0] = std::max(high[0], p.x);
            high[1] = std::max(high[1], p.y);
        }
    if (!m_model.empty()) {
        frame.originX = low[0] - frame.cell;
        frame.originY = low[1] - frame.cell;
        frame.width = int(std::ceil((high[0] - low[0]) / frame.cell)) + 2;
        frame.height = int(std::ceil((high[1] - low[1]) / frame.cell)) + 2;
    }
    m_ldni.build(m_model, frame);
}

bool CSupportObstacles::inside(double x, double y, double z) const
{
    int winding = 0;
    for (const CLDNIPixels::Crossing &c : m_ldni.crossingsAt(x, y)) {
        if (c.z >= z)
            break;
        winding += c.direction;
    }
    return winding > 0;
}

bool CSupportObstacles::clear(const CVertex &from, const CVertex &to, double radius) const
{
    const double step = m_ldni.frame().cell / 2.0;
    const int samples = std::max(1, int(std::ceil((to - from).length() / step)));
    for (int i = 0; i <= samples; ++i) {
        const CVertex p = from + (to - from) * (double(i) / samples);
        if (inside(p.x, p.y, p.z) || inside(p.x + radius, p.y, p.z) || inside(p.x - radius, p.y, p.z)
            || inside(p.x, p.y + radius, p.z) || inside(p.x, p.y - radius, p.z))
            return false;
    }
    return true;
}

struct CSupportTreeBuilder::Tree {
    std::vector<size_t> tips;
    CVertex joint;
};

CSupportTreeBuilder::CSupportTreeBuilder(const CSupportShape &shape, const CSupportObstacles *obstacles)
    : m_shape(shape)
    , m_obstacles(obstacles)
{
}

std::vector<std::vector<MeshTriangle>> CSupportTreeBuilder::build(const std::vector<Tip> &tips) const
{
    std::vector<std::vector<MeshTriangle>> out(tips.size());
    std::vector<char> inTree(tips.size(), 0);
    for (const Tree &tree : groups(tips)) {
        mesh(tree, tips, out);
        for (const size_t i : tree.tips)
            inTree[i] = 1;
    }
    for (size_t i = 0; i < tips.size(); ++i) {
        if (inTree[i])
            continue;
        CSupportSurfel column;
        column.point = tips[i].point;
        column.baseZ = tips[i].baseZ;
        out[i] = supportColumn(column, m_shape);
    }
    return out;
}

// Greedy grouping: each tip not yet in a tree gathers the free tips near it, nearest
// first; the group becomes a tree when its trunk and branches can be built.
std::vector<CSupportTreeBuilder::Tree> CSupportTreeBuilder::groups(const std::vector<Tip> &tips) const
{
    std::vector<Tree> trees;
    if (!m_obstacles)
        return trees;
    const auto onFloor = [&](size_t i) {
        return tips[i].baseZ <= m_shape.floorZ + 1e-6
            && tips[i].point.z - m_shape.tipLength - m_shape.floorZ > kShortestTrunk + m_shape.baseHeight;
    };
    std::vector<size_t> order;
    for (size_t i = 0; i < tips.size(); ++i)
        if (onFloor(i))
            order.push_back(i);
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return tips[a].point.x < tips[b].point.x; });
    std::vector<char> taken(tips.size(), 0);
    for (const size_t seed : order) {
        if (taken[seed])
            continue;
        std::vector<std::pair<double, size_t>> near;
        for (const size_t j : order) {
            const double d = horizontalDistance(tips[seed].point, tips[j].point);
            if (!taken[j] && d <= m_shape.treeReach)
                near.push_back({d, j});
        }
        std::sort(near.begin(), near.end());
        Tree tree;
        for (size_t k = 0; k < near.size() && k < kTreeTips; ++k)
            tree.tips.push_back(near[k].second);
        if (tree.tips.size() < 2 || !settle(tree, tips))
            continue;
        for (const size_t i : tree.tips)
            taken[i] = 1;
        trees.push_back(std::move(tree));
    }
    return trees;
}

// Places the joint under the middle of the tips, low enough for every branch to lean at
// most 45 degrees; drops tips whose branch would pass through the model, or that leave
// too short a trunk. False when fewer than two tips remain or the trunk is blocked.
bool CSupportTreeBuilder::settle(Tree &tree, const std::vector<Tip> &tips) const
{
    const double branch = m_shape.bodyRadius;
    while (tree.tips.size() >= 2) {
        CVertex middle;
        for (const size_t i : tree.tips)
            middle = middle + tips[i].point;
        middle = middle * (1.0 / double(tree.tips.size()));
        double jointZ = 1e30;
        size_t lowest = 0;
        for (size_t k = 0; k < tree.tips.size(); ++k) {
            const Tip &tip = tips[tree.tips[k]];
            const double z = tip.point.z - m_shape.tipLength - horizontalDistance(tip.point, middle);
            if (z < jointZ) {
                jointZ = z;
                lowest = k;
            }
        }
        if (jointZ - m_shape.floorZ < kShortestTrunk + m_shape.baseHeight) {
            tree.tips.erase(tree.tips.begin() + long(lowest));
            continue;
        }
        tree.joint = CVertex(middle.x, middle.y, jointZ);
        const double trunk = m_shape.bodyRadiusFor(jointZ - m_shape.floorZ);
        if (!m_obstacles->clear(CVertex(middle.x, middle.y, m_shape.floorZ), tree.joint, trunk))
            return false;
        const auto blocked = std::find_if(tree.tips.begin(), tree.tips.end(), [&](size_t i) {
            const CVertex from(tips[i].point.x, tips[i].point.y, tips[i].point.z - m_shape.tipLength);
            return !m_obstacles->clear(from, tree.joint, branch);
        });
        if (blocked == tree.tips.end())
            return true;
        tree.tips.erase(blocked);
    }
    return false;
}

void CSupportTreeBuilder::mesh(
    const Tree &tree, const std::vector<Tip> &tips, std::vector<std::vector<MeshTriangle>> &out) const
{
    const double branch = m_shape.bodyRadius;
    for (const size_t i : tree.tips) {
        const CVertex &tip = tips[i].point;
        const CVertex neck(tip.x, tip.y, tip.z - m_shape.tipLength);
        appendColumn(out[i], tip.x, tip.y, {{neck.z, branch}, {tip.z + m_shape.penetration, m_shape.tipRadius}});
        // The branch, a little longer at both ends so that the bends close.
        CVertex axis = tree.joint - neck;
        axis = axis * (branch / std::max(axis.length(), 1e-9));
        appendFrustum(out[i], neck - axis, branch, tree.joint + axis, branch);
    }
    // The trunk, thicker for the tips it feeds, on its spreading foot.
    const double floor = m_shape.floorZ;
    const double trunk = m_shape.bodyRadiusFor(tree.joint.z - floor) * std::pow(double(tree.tips.size()), 0.25);
    std::vector<MeshTriangle> &first = out[tree.tips.front()];
    appendColumn(first, tree.joint.x, tree.joint.y,
        {{floor, trunk + m_shape.baseRadius}, {floor + m_shape.baseHeight, trunk}, {tree.joint.z + trunk, trunk}});
}
