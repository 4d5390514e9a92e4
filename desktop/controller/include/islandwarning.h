#pragma once

#include <QString>

#include <functional>

// What the window tells the user of a freshly sliced job before it is saved or sent: the
// islands its supports leave (IslandCheck, those over IslandCheck::kMinimumIslandPixels) and
// the cavities that trap resin or suck at the platform (TrapCheck, those over
// TrapCheck::kMinimumVolumeMm3). Layers are counted from 1 here, as the job viewer shows them.
namespace IslandWarning {

// Cavities of one kind, together.
struct Cavities {
    int count = 0;
    double volumeMm3 = 0.0;
    int firstLayer = 0;
    int lastLayer = 0;
};

struct Summary {
    int count = 0; // islands
    qint64 largestPixels = 0;
    int largestLayer = 0;
    int firstLayer = 0; // of the first island
    Cavities trapped; // closed on every side
    Cavities cups; // open only toward the platform

    bool anyIsland() const { return count > 0; }
    bool anyCavity() const { return trapped.count > 0 || cups.count > 0; }
    // The lowest layer of a cavity; 0 without one.
    int firstCavityLayer() const;
};

// Reads the job file and checks its layers for islands and cavities in one pass; false (and a
// log line) when the file cannot be read. `layerDone` runs after every layer checked, to keep
// the window alive.
bool check(const QString &jobPath, Summary *summary, const std::function<void()> &layerDone = {});

// "The supports leave 3 islands (largest 42 px at layer 57)." for the islands, followed by
// one sentence for each kind of cavity, such as "1 closed cavity traps 1.2 ml of resin
// (layers 20-180); add a drain hole."
QString text(const Summary &summary);

} // namespace IslandWarning
