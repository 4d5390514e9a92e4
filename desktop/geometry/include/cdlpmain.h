#pragma once

#include "meshimporter.h"
#include "supportparameters.h"

#include <QList>
#include <QVector3D>

#include <functional>
#include <memory>
#include <vector>

struct CSupportShape;
class CSupportObstacles;

// The support engine's front object. It works in inches with z up: the caller converts
// its millimetre, y-up model into that frame before generate() and converts the support
// mesh back.
//
// Terms used here:
//   lift     - a model whose lowest point lies below 0.19 in is raised so that it starts
//              0.19 in above the platform; the supports fill the gap.
//   no lift  - the model's lowest point is put on the platform instead: a flat base
//              stands there and supports go only where the model overhangs.
//   raft     - a thin plate on the platform under the model and its supports; the model
//              and the supports stand on it.
//   support  - what holds one point of the model's underside, addressed by that point,
//              with a triangle list of its own: a column from the platform (z = 0) or
//              the model below, or a tip and branch of a tree whose trunk several
//              supports share (the trunk goes with the tree's first support).
//
// Generation runs in phases: the model copy and lift (CCutSTL), sampling of its surface
// into oriented samples (CSurfels, by CTriangleSampler and CLineSegmentSampler), layered
// depth images of the model (CLDNIPixels), the layer sweep that places the supports
// (CSupportSurfelConstructor, see csupportsurfel.h), and one closed column mesh per
// support.
class CDLPMain
{
public:
    using ProgressFunction = std::function<void(int percent)>;

    struct Support {
        QVector3D point; // engine frame, inches
        std::vector<MeshTriangle> triangles;
        double baseZ = 0.0; // what its own column would stand on: the floor or the model
    };

    // Milliseconds spent in each phase of the last generation, and what it produced.
    struct Timings {
        double modelMs = 0.0; // copy and lift
        double samplingMs = 0.0;
        double depthImagesMs = 0.0;
        double sweepMs = 0.0;
        double columnsMs = 0.0;
        size_t surfels = 0;
        size_t supports = 0;
    };

    CDLPMain();

    // How the model stands on the platform, for the next generation: lifted on its
    // supports (the default) or with its lowest point on the platform, and with or
    // without a raft under everything.
    void setPlatformOptions(bool noLift, bool raft);
    bool isNoLift() const { return m_noLift; }
    bool hasRaft() const { return m_raft; }
    // The raft's thickness, inches (0 without a raft): the floor the supports stand on.
    double raftThickness() const;

    SupportParameters &parameters() { return m_parameters; }
    const SupportParameters &parameters() const { return m_parameters; }

    // Generates the supports of the model. pixelSize and spacing are in millimetres (0.1
    // and 0.5 from the editor) and become positions 0 and 1 (0.1 / 25.4, 0.5 / 50.8).
    // Levels 0 to 100. With inputInMillimetres the triangles are converted to inches.
    bool generate(const QList<MeshTriangle *> &triangles, const QVector3D &scale, const QVector3D &rotation,
        const QVector3D &translation, double pixelSize, double spacing, int densityLevel, int strengthLevel,
        bool inputInMillimetres, const ProgressFunction &progress);

    bool hasGenerated() const { return m_generated; }
    bool isLifted() const { return m_lifted; }
    // Inches the model was raised by (0 when it was not).
    double liftHeight() const { return m_liftHeight; }

    // The whole support mesh, and each support on its own (engine frame).
    const std::vector<MeshTriangle> &supportMesh() const { return m_output; }
    const std::vector<Support> &supports() const { return m_supports; }

    // One support more at a point of the model, or one less near a point (within the
    // tolerance, inches). Both are false before a generation.
    bool addSupport(double x, double y, double z, double tolerance);
    bool deleteSupport(double x, double y, double z, double tolerance);

    // The model as the engine keeps it after the lift (engine frame).
    const std::vector<MeshTriangle> &model() const { return m_model; }

    const Timings &timings() const { return m_timings; }

private:
    void rebuildOutput();
    std::vector<MeshTriangle> raftMesh() const;
    CSupportShape shape() const;
    void buildStructures();

    SupportParameters m_parameters;
    std::vector<MeshTriangle> m_model;
    std::shared_ptr<const CSupportObstacles> m_obstacles;
    std::vector<Support> m_supports;
    std::vector<MeshTriangle> m_output;
    bool m_generated = false;
    bool m_lifted = false;
    bool m_noLift = false;
    bool m_raft = false;
    double m_liftHeight = 0.0;
    double m_outputScale = 1.0; // 25.4 when the input was in millimetres
    Timings m_timings;
};
