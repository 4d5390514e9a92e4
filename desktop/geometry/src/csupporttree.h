#pragma once

#include "cgeometry.h"
#include "cpixels.h"
#include "csupportsurfel.h"
#include "meshimporter.h"

#include <memory>
#include <vector>

// What supports must keep clear of: the model (engine frame, inches), with depth images
// for fast questions along vertical lines. Shared, never changed after it is built.
class CSupportObstacles
{
public:
    CSupportObstacles(std::vector<CTriangle> model, double cell);

    // Whether the point lies inside the model.
    bool inside(double x, double y, double z) const;
    // Whether the straight segment, thickened by radius, keeps out of the model.
    bool clear(const CVertex &from, const CVertex &to, double radius) const;
    // The highest top face of the model below (x, y, z), 0 when there is none.
    double standBelow(double x, double y, double z) const { return m_ldni.standBelow(x, y, z); }

private:
    std::vector<CTriangle> m_model;
    CLDNIPixels m_ldni;
};

// Trees: supports whose tips are near one another and high enough above the floor share
// one trunk. Each tip narrows from the trunk's branch to its contact; the branch leans at
// most 45 degrees from the vertical to a joint above the trunk, which stands on the floor
// with a spreading foot. A branch or trunk that would pass through the model is not
// built: that support keeps a column of its own.
class CSupportTreeBuilder
{
public:
    struct Tip {
        CVertex point;
        double baseZ = 0.0; // what its own column would stand on
    };

    CSupportTreeBuilder(const CSupportShape &shape, const CSupportObstacles *obstacles);

    // One mesh per tip, in the tips' order; a tree's trunk goes with its first tip.
    std::vector<std::vector<MeshTriangle>> build(const std::vector<Tip> &tips) const;

private:
    struct Tree;
    std::vector<Tree> groups(const std::vector<Tip> &tips) const;
    bool settle(Tree &tree, const std::vector<Tip> &tips) const;
    void mesh(const Tree &tree, const std::vector<Tip> &tips, std::vector<std::vector<MeshTriangle>> &out) const;

    CSupportShape m_shape;
    const CSupportObstacles *m_obstacles;
};

// A closed, outward-facing truncated cone between two points (radius ra at a, rb at b).
void appendFrustum(std::vector<MeshTriangle> &mesh, const CVertex &a, double ra, const CVertex &b, double rb);
