#pragma once

#include <QRect>

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

// Hollows the model part of a stack of layer images, with walls of a given thickness,
// and cuts drain holes through the walls.
//
// Terms used here:
//   coverage  - one byte per pixel of the layer's model part, within a box of the image
//               (row-major): 255 solid, below 255 the grey edge of an anti-aliased
//               layer, 0 empty. Only solid pixels count as material.
//   wall      - a solid pixel stays solid when its 3-D distance to the nearest empty
//               point is at most the wall thickness; the layers above and below count,
//               z spaced by the layer thickness, and below the first and above the
//               last layer is outside. So walls, roofs and floors are all as thick.
//   cavity    - the pixels hollowing emptied; its connected parts (4-neighbour in a
//               layer, overlapping between layers) are the cavities.
//   drain hole - a vertical cylinder cut from its top layer down through the floor
//               below it: to the floor's underside, at most twice the wall deep (a
//               hole given its top, to layer 0); from a cavity whose floor
//               stands on the platform, up through the roof instead. An automatic hole
//               keeps clear of the supports drawn over the model: one cut through a
//               support's tip would leave the rim of the hole hanging (an island), so it
//               moves aside to the nearest spot within three radii where no support
//               touches the floor's underside within its disc, and is cut from the
//               lowest cavity layer found on its axis there.
//   hanging tip - the lowest layer of a roof that hangs down into its cavity (the inner
//               wall under a dimple in the model's top comes down to a point): a part
//               of a layer with nothing lit under it but cavity. It would start in
//               mid resin; it is reported, for a pillar to be raised under it from the
//               cavity's floor once the layers below are written.
//
// Layers are streamed bottom to top: addLayer() takes them in order with their 2-D
// distance maps (distanceMap(), computed on the slicing threads), takeLayer() hands
// them back hollowed, in order, some layers later. Only a window of layers about
// three wall thicknesses high is kept.
class LayerHollower
{
public:
    struct Hole {
        double x = 0.0; // pixel-centre coordinates within the image, columns and rows
        double y = 0.0;
        // Cut from this layer down to layer 0; -1: from the lowest cavity layer found on
        // the hole's axis, down through the floor under it.
        int topLayer = -1;
        int bottomLayer = 0;
        bool throughRoof = false; // up from a cavity whose floor stands on the platform
    };

    struct Settings {
        double wallPixels = 20.0; // wall thickness in pixels
        double layerPixels = 0.5; // layer thickness in pixels
        double holeRadiusPixels = 15.0;
        bool autoHoles = false; // one hole at the lowest point of each cavity
        // Closed cavities smaller than this (pixels times layers) get no automatic hole:
        // a speck of resin neither bursts a part nor pulls at it.
        double smallestDrainedVolume = 0.0;
        std::vector<Hole> holes;
        int threads = 1;
        // The supports of a layer as a whole image (imageWidth x imageHeight bytes, non-zero
        // where lit), or null where there are none or the layer is gone; unset: no supports.
        // Asked only for layers not yet taken.
        std::function<const uint8_t *(int layer)> supports;
        int imageWidth = 0;
        int imageHeight = 0;
    };

    // `box` is the part of the image the coverage covers; layerCount the stack height.
    LayerHollower(const Settings &settings, const QRect &box, int layerCount);

    // Squared 2-D distance, in pixels, from every pixel to the nearest non-solid one
    // (exact Euclidean, Felzenszwalb-Huttenlocher); 0 on non-solid pixels. Kept to 16 bits:
    // 65535 stands for anything farther, far beyond the thickest wall (10 mm at 0.075 mm).
    static std::vector<uint16_t> distanceMap(const std::vector<uint8_t> &coverage, int width, int height);

    // Layer after layer, from 0.
    void addLayer(std::vector<uint8_t> coverage, std::vector<uint16_t> distance);
    // The next layer hollowed and drilled, once ready; false while it is not yet.
    bool takeLayer(std::vector<uint8_t> *coverage);

    // Cavities found so far: the cavity pixels joined through their four neighbours in a
    // layer and the same pixel in the layer below.
    int cavityCount() const;
    // The holes cut (image pixel centres, with their layers).
    const std::vector<Hole> &holesCut() const { return m_holesCut; }

    struct Tip {
        int x = 0; // image pixel over the cavity, nearest the tip's centre
        int y = 0;
        int layer = 0;
        double radius = 0.0; // pixels: from (x, y) to the tip's farthest pixel
    };
    // The hanging tips found so far, down to a single pixel: a speck too small to cure
    // on its own leaves the larger part over it hanging.
    const std::vector<Tip> &hangingTips() const { return m_tips; }
    // Clears the discs of the holes through this layer in an image part (`area` of the
    // image, row-major): takeLayer() does it for the models, the caller for whatever is
    // drawn over them (supports under a hole lose their tips there).
    void clearHoles(int layer, uint8_t *pixels, const QRect &area) const;

private:
    struct Entry {
        std::vector<uint8_t> coverage;
        std::vector<uint16_t> distance;
    };

    Entry &entry(int layer) { return m_window[size_t(layer - m_windowStart)]; }
    void hollowBlock(int first, int last);
    void hollowRows(int first, int last, int rowBegin, int rowEnd);
    void findCavities(int layer, const std::vector<uint8_t> &cavity);
    // Finds the hanging tips of a hollowed layer over the last one (before findCavities()
    // moves on to this layer).
    void findHangingTips(int layer, const uint8_t *coverage);
    Tip tipOf(const std::vector<int> &part, int layer) const;
    // The holes named without a top whose axis lies in this part of a layer's cavity.
    void drainPending(int layer, const std::vector<int> &component);
    // Drills the automatic holes whose cavities are known well enough at this layer: one
    // per cavity, from its lowest point, once its branches starting nearby have joined
    // or it has closed; none for a closed one smaller than smallestDrainedVolume.
    void decideHoles(int layer);
    int root(int label) const;
    int join(int a, int b);
    // A hole from the lowest point of a cavity at this layer.
    void drainFrom(double x, double y, int layer);
    // An automatic hole for a cavity whose lowest point at `layer` is (x, y): there, or
    // aside from the supports (see drain hole above); `current` the layer now hollowed.
    void placeAutoHole(int x, int y, int layer, int current);
    // Whether a layer's coverage has material within a hole's disc round (x, y).
    bool discHolds(const std::vector<uint8_t> &coverage, double x, double y) const;

    Settings m_settings;
    QRect m_box;
    int m_layers = 0;
    int m_reach = 0; // layers within one wall thickness
    int m_block = 0; // layers hollowed at once
    int m_delay = 0; // layers kept below the one hollowed, for holes to be cut in
    std::deque<Entry> m_window;
    int m_windowStart = 0;
    int m_added = 0;
    int m_hollowed = 0;
    int m_taken = 0;
    // The cavities: their starts (lowest points) by label, joined where they meet.
    struct CavityStart {
        int layer = 0;
        int x = 0;
        int y = 0;
        bool decided = false; // whether it gets a hole is known
    };
    std::vector<CavityStart> m_starts;
    std::vector<int> m_parent;
    std::vector<double> m_volume; // of a joined cavity: pixels times layers
    std::vector<int> m_lastLayer; // of a joined cavity
    std::vector<uint8_t> m_drained; // a joined cavity has a hole
    size_t m_firstUndecided = 0;
    // The cavity label of each pixel of the last hollowed layer, -1 where none.
    std::vector<int> m_previousLabels;
    // Where the last hollowed layer is lit (before holes), empty before the first.
    std::vector<uint8_t> m_previousLit;
    std::vector<uint8_t> m_marks; // findHangingTips()'s, all 0 between calls
    std::pair<int, int> m_previousCavity {0, 0}; // first cavity pixel and one past the last
    std::vector<Tip> m_tips;
    std::vector<uint8_t> m_firstLayer;
    int m_floorDepth = 0; // layers a hole may cut below its cavity
    int m_horizon = 0; // layers above a cavity's start before its hole is decided
    std::vector<bool> m_pendingDone;
    std::vector<Hole> m_holesCut;
};
