#pragma once

#include <QVector3D>
#include <QtGlobal>

#include <functional>
#include <vector>

class CDLPMain;
class CrushedPrintJob;
class QImage;

// Finds islands in a job: connected lit regions of a layer (8-neighbour) none of whose
// pixels is lit at the same position in the layer below. Such a region starts in mid
// resin with nothing to hold it: it sticks to the vat or floats away. The first layer
// stands on the platform and has none.
//
// Lit: white in a bit-map layer, any level above black in a grey layer.
class IslandCheck
{
public:
    // Islands up to this size are tolerated: single stray pixels cure into nothing.
    static constexpr int kMinimumIslandPixels = 5;

    struct Island {
        int layer = 0;
        qint64 pixels = 0;
        // Centre of its pixels, in image pixels from the top-left corner.
        double x = 0.0;
        double y = 0.0;
    };

    // A layer as one byte per pixel, non-zero where lit, row after row.
    struct Mask {
        int width = 0;
        int height = 0;
        std::vector<quint8> lit;
    };

    // The islands of `layer` over `below` (same size, or empty for none lit below).
    static std::vector<Island> islandsOf(const Mask &below, const Mask &layer, int layerIndex);

    // The pixels of the islands of `layer` over `below` larger than minimumPixels: a mask
    // of the layer's size, 1 on those pixels only.
    static Mask islandPixels(const Mask &below, const Mask &layer, qint64 minimumPixels = kMinimumIslandPixels);

    // The lit pixels of a layer image: any colour above black (alpha ignored).
    static Mask maskOf(const QImage &image);

    // The lit pixels of one layer of a loaded job, drawn as the printer places them on a
    // canvas of the job's largest layer size.
    static Mask layerMask(CrushedPrintJob &job, int layer);

    // How far lit pixels of `layer` reach out from the lit pixels of `below`: the largest
    // distance, in pixels, from a lit pixel to the nearest one lit below (chamfer distance,
    // within 4 % of the straight one). 0 when every lit pixel is lit below too, -1 when
    // nothing is lit below.
    static double reachOf(const Mask &below, const Mask &layer);

    // Every island of the job, layer by layer; progress gets the layers done.
    static std::vector<Island> find(CrushedPrintJob &job, const std::function<void(int layersDone)> &progress = {});

    struct Reach {
        double pixels = 0.0;
        int layer = -1;
    };
    // The islands, and the largest reach over the layers (layers with nothing below
    // excepted) with the layer it is in; eachLayer gets every layer's mask on the way, for
    // a caller that checks more in the same reading.
    static std::vector<Island> find(CrushedPrintJob &job, Reach *reach,
        const std::function<void(int layersDone)> &progress = {},
        const std::function<void(const Mask &layer)> &eachLayer = {});

    // What repairSupports() did. Points are in the engine frame (inches, z up).
    struct Repair {
        int added = 0; // supports added under islands
        int onModel = 0; // of them, standing on the model below rather than on the floor
        int rounds = 0; // slice-and-add rounds that added supports
        std::vector<Island> remaining; // islands larger than the tolerated size still left
        std::vector<QVector3D> unplaced; // island undersides the engine took no support at
        qint64 ms = 0;
    };

    // Adds supports where the engine's own left islands: slices its lifted model and
    // supports in memory at layerThickness (millimetres) on the printer's pixel grid, the
    // engine's origin in the middle of the platform and horizontal distances times
    // `horizontalScale` (4 / 3 on the 75-micron printer), and puts a support through
    // CDLPMain::addSupport under every island larger than kMinimumIslandPixels, at the
    // island's underside; then looks again, at most `rounds` times. The engine must have
    // generated from a model in inches.
    static Repair repairSupports(CDLPMain &engine, double layerThickness, double horizontalScale = 1.0, int rounds = 2);
};
