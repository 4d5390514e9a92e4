#pragma once

#include <QString>

#include <functional>

// What the window tells the user of a freshly sliced job before it is saved or sent: the
// islands its supports leave (IslandCheck, those over IslandCheck::kMinimumIslandPixels).
// Layers are counted from 1 here, as the job viewer shows them.
namespace IslandWarning {

struct Summary {
    int count = 0;
    qint64 largestPixels = 0;
    int largestLayer = 0;
    int firstLayer = 0;
};

// Reads the job file and finds its islands; false (and a log line) when the file cannot be
// read. `layerDone` runs after every layer checked, to keep the window alive.
bool check(const QString &jobPath, Summary *summary, const std::function<void()> &layerDone = {});

// "The supports leave 3 islands (largest 42 px at layer 57)."
QString text(const Summary &summary);

} // namespace IslandWarning
