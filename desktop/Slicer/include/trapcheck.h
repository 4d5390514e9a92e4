#pragma once

#include "islandcheck.h"

#include <QtGlobal>

#include <functional>
#include <vector>

class CrushedPrintJob;

// Finds the cavities of a job that liquid resin cannot leave: dark (unlit) regions walled in
// by lit material across the layer stack.
//
// Terms used here:
//   dark region   - unlit pixels joined through their four neighbours in a layer and through
//                   the same pixel in the layers below and above (6-connected in 3D).
//   open          - a region that reaches the border of the layer area, or the last layer
//                   (above it is the vat): resin drains from it.
//   platform side - below the first layer stands the platform, which closes a region as
//                   tightly as a wall does.
//   suction cup   - a region closed everywhere but toward the platform: each lift pulls a
//                   vacuum in it, tearing the print off the platform or the film.
//   trapped resin - a region closed on every side: liquid resin stays inside the print.
//
// The layers are read once, bottom to top: each layer's dark runs are labelled in the layer
// and joined to the labels of the layer below (union-find), so that only two layers of runs
// and one small record per label are held, whatever the job's height.
class TrapCheck
{
public:
    // Cavities up to this volume are tolerated: a microlitre of resin neither bursts a part
    // nor pulls at the film, and pin-holes between grey edges stay below it.
    static constexpr double kMinimumVolumeMm3 = 1.0;

    enum class Kind { TrappedResin, SuctionCup };

    struct Cavity {
        Kind kind = Kind::TrappedResin;
        qint64 pixels = 0; // summed over its layers
        double volumeMm3 = 0.0;
        // Layers it spans, counted from 1 as the job viewer shows them.
        int firstLayer = 0;
        int lastLayer = 0;
        // One of its pixels, in image pixels from the top-left corner, in its first layer.
        int x = 0;
        int y = 0;
        // With keepSeeds: one pixel of each of its parts in each of its layers (layer from
        // 0); the part is the unlit pixels joined to it through their four neighbours.
        struct Seed {
            int layer = 0;
            int x = 0;
            int y = 0;
        };
        std::vector<Seed> seeds;
    };

    // Keeps a pixel of every part of every layer's unlit regions, for cavities() to hand out
    // (a viewer draws a cavity's parts from them); off by default.
    void setKeepSeeds(bool keep) { m_keepSeeds = keep; }

    // Feeds the layers of a job bottom to top, all of the first one's size (a layer of
    // another size counts as unlit all over).
    void addLayer(const IslandCheck::Mask &layer);
    int layersAdded() const { return m_layers; }
    // The closed cavities of the layers added, lowest first; `pixelMm` is the side of a
    // pixel and `layerMm` the layer thickness, in millimetres.
    std::vector<Cavity> cavities(double pixelMm, double layerMm) const;

    // Every cavity of a loaded job (layers drawn as IslandCheck::layerMask draws them);
    // progress gets the layers done.
    static std::vector<Cavity> find(
        CrushedPrintJob &job, double pixelMm, const std::function<void(int layersDone)> &progress = {});

    // How many of the cavities are larger than minimumMm3.
    static int countLarger(const std::vector<Cavity> &cavities, double minimumMm3 = kMinimumVolumeMm3);

private:
    struct Run {
        int row;
        int begin; // first column
        int end; // one past the last column
        int label; // global label, maybe no longer a root
    };
    struct Label {
        int parent;
        qint64 pixels;
        int firstLayer; // from 0
        int lastLayer;
        int x;
        int y;
        bool open;
        bool platform;
    };

    int root(int label) const;
    int join(int a, int b);
    int newLabel(const Run &run);
    // Gives each run of the current layer a global label: joined with the runs it overlaps
    // in the layer below, or new.
    void labelRuns(std::vector<Run> &runs, const std::vector<int> &localRoot);
    void account(const std::vector<Run> &runs);

    int m_width = 0;
    int m_height = 0;
    int m_layers = 0;
    std::vector<Run> m_below; // the runs of the last layer added
    std::vector<int> m_belowRowStart; // per row, the index of its first run in m_below
    mutable std::vector<Label> m_labels;
    bool m_keepSeeds = false;
    std::vector<std::pair<Cavity::Seed, int>> m_seeds; // with the label of its part
};
