#pragma once

#include "layerhollower.h"
#include "slicelayer.h"

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QVector3D>

#include <functional>
#include <utility>
#include <vector>

struct MeshTriangle;
class SliceJobWriter;

// Slices a scene (every model already placed, rotated and scaled, as a triangle soup)
// into one 1280 x 800 image per layer and writes them as a job file.
//
// Terms used here:
//   slicer frame  - z up: the scene transform (scale, then rotation about y, x and z in
//                   degrees, then translation) takes the editor's y-up triangles there;
//                   the editor passes a rotation of 90 degrees about x.
//   height index  - buckets of about one layer thickness, each listing the triangles that
//                   overlap it, so that a layer looks at one bucket only.
//   layer k       - cut at bottom + thickness / 2 + k x thickness, while below the top.
//
// Layers are independent once the triangles are prepared: they are sliced, drawn and
// packed on several threads, and appended to the job in order, so the file is the same
// whatever the thread count. Progress is reported from the calling thread, once per
// layer, and a cancel request is honoured there after each layer.
class GenSlices : public QObject
{
    Q_OBJECT
public:
    enum class Result { Done, Cancelled, EmptyScene, WriteFailed };
    using ProgressFunction = std::function<void(int percent)>;

    struct Timings {
        qint64 prepareMs = 0;
        qint64 sliceMs = 0; // cutting, contours and drawing, summed over the threads
        qint64 packMs = 0; // packing the images, summed over the threads
        qint64 hollowMs = 0; // hollowing across the layers (its 2-D distances are slicing)
        qint64 layersWallMs = 0; // the layer loop, wall clock
        qint64 writeMs = 0;
    };

    explicit GenSlices(QObject *parent = nullptr);

    // Asks a running saveSlices() to stop after the current layer; cleared when a run
    // starts and when the request is honoured.
    static void requestCancel();
    static bool isCancelRequested();

    // Threads that slice layers; 0 (the default) uses one per core.
    void setThreadCount(int threads) { m_threadCount = threads; }

    // Hollowing of the models, in the layer images (see LayerHollower).
    struct Hollowing {
        double wall = 0.0; // millimetres; 0 leaves the models solid
        double pixelSize = 0.1; // millimetres on the printer (0.075 on the 75-micron one)
        double drainDiameter = 3.0; // millimetres
        bool autoDrainHoles = false; // one at the lowest point of every cavity
        // Hole tops in the slicer frame (x, y slice-plane units, z millimetres): each is
        // cut from there down to the platform; a NaN z cuts from the lowest cavity found
        // on the hole's axis down through the floor under it.
        std::vector<QVector3D> drainHoles;
    };
    // What hollowing did: the cavities it made and the drain holes it cut (in the slicer
    // frame, where they leave their cavity or, given a height, their top).
    struct DrainHole {
        QVector3D at;
        bool up = false; // through the roof
    };
    struct HollowReport {
        int cavities = 0;
        std::vector<DrainHole> holes;
        // Pillars raised from a cavity's floor under its roof where the roof hangs
        // down to a point, and such points left without one (a drain hole in the way).
        int pillars = 0;
        int unpropped = 0;
    };

    // How a scene is sliced and what its job says.
    struct Settings {
        double layerThickness = 0.05; // millimetres
        // The scene transform into the slicer frame; the editor's scenes take a
        // rotation of (90, 0, 0).
        QVector3D translation {0, 0, 0};
        QVector3D rotation {0, 0, 0}; // degrees
        QVector3D scale {1, 1, 1};
        bool antialias = false; // grey layers (format version 3) instead of bit maps
        // How grey layers are drawn: 2, 4 or 8 sub-rows per pixel, 0 smoothed edges.
        int supersampling = 0;
        QString jobDescription; // "jobdesc" when empty
        // The triangles from this index on are supports (-1: none). Only models are
        // hollowed; supports are drawn over the hollowed layers.
        int firstSupportTriangle = -1;
        Hollowing hollowing;
    };

    // Slices and writes the job file. True when every layer was sliced and the file was
    // written; false when cancelled (nothing written), for an empty scene or when the
    // file could not be written (result() and errorString() tell which).
    bool saveSlices(const QList<MeshTriangle *> &triangles, const QString &filePath, const Settings &settings,
        const ProgressFunction &progress = {});

    Result result() const { return m_result; }
    QString errorString() const { return m_error; }
    const Timings &timings() const { return m_timings; }
    const HollowReport &hollowReport() const { return m_hollowReport; }

    // The parts of a run, for tests and for whoever needs single layers.
    // Transforms and sorts the triangles and builds the height index; false for a scene
    // without triangles or without height.
    bool prepare(const QList<MeshTriangle *> &triangles, double layerThickness, const QVector3D &translation,
        const QVector3D &rotation, const QVector3D &scale, int firstSupportTriangle = -1);
    // The image pixels the models' layers can cover (with a margin); empty without models.
    QRect modelBox() const;
    int layerCount() const;
    double layerHeight(int layer) const { return m_bottom + m_thickness / 2.0 + layer * m_thickness; }
    // The contours and the image of one layer of the prepared scene.
    SliceLayer sliceLayer(int layer) const;
    QImage layerImage(int layer, bool antialias, int supersampling = 0) const;

    const std::vector<SliceTriangle> &preparedTriangles() const { return m_triangles; }
    // The triangles of the bucket that holds this height (clamped to the first and last).
    std::pair<const int *, const int *> bucketTriangles(double height) const;
    QVector3D minCorner() const { return m_min; }
    QVector3D maxCorner() const { return m_max; }

private:
    // The steps of saveSlices() after prepare(): the layer loop (false when cancelled)
    // and the writing of the job.
    bool sliceLayers(SliceJobWriter &writer, bool antialias, int supersampling, const ProgressFunction &report);
    // The hollower's settings for these layers (pixels), holes turned onto the image.
    LayerHollower::Settings hollowerSettings(const Hollowing &hollowing) const;
    bool sliceHollowedLayers(
        SliceJobWriter &writer, const Settings &settings, int supersampling, const ProgressFunction &report);
    bool writeJob(SliceJobWriter &writer, const QString &filePath);
    // Raises the pillars under the hollower's hanging tips in the layers written.
    void propUpHangingTips(SliceJobWriter &writer, const LayerHollower &hollower, const Hollowing &hollowing);

    std::vector<SliceTriangle> m_triangles;
    // Height index as one list: bucket k holds m_bucketTriangles[m_bucketStart[k] ..
    // m_bucketStart[k + 1]).
    std::vector<int> m_bucketStart;
    std::vector<int> m_bucketTriangles;
    double m_bucketHeight = 0.0;
    double m_bottom = 0.0;
    double m_top = 0.0;
    double m_thickness = 0.05;
    QVector3D m_min;
    QVector3D m_max;
    QVector3D m_modelMin;
    QVector3D m_modelMax;
    bool m_hasSupports = false;
    HollowReport m_hollowReport;
    int m_threadCount = 0;
    Result m_result = Result::Done;
    QString m_error;
    Timings m_timings;
};
