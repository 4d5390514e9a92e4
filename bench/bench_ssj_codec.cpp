// Packing and unpacking speed of job file layers on the 1280 x 800 raster.
//
// The printer unpacks one layer per exposure on a small ARM computer, so
// unpacking a bit-map layer must stay far below an exposure's length; the
// desktop packs every layer while slicing. Reports microseconds per layer in
// each direction and the packed size, for bit-map and grey layers.
//
//   build-release/bin/bench_ssj_codec [LAYERS]
#include "crushedantibitmap.h"
#include "crushedbitmap.h"
#include "samplelayers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Result {
    double packMicros = 0;
    double unpackMicros = 0;
    double bytesPerLayer = 0;
    double bestUnpackMicros = 1e18;
};

template<typename Map> qint64 packedBytes(const Map &map);

template<> qint64 packedBytes(const CrushedBitMap &map)
{
    return 4 + 16 + 4 + (map.bitCount() + 7) / 8;
}

template<> qint64 packedBytes(const CrushedAntiBitMap &map)
{
    return 4 + 16 + 4 + 4 + map.png().size();
}

template<typename Map> Result measure(std::vector<QImage> &layers, int rounds)
{
    Result result;
    std::vector<Map> maps(layers.size());
    QElapsedTimer timer;
    qint64 bytes = 0;

    timer.start();
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < layers.size(); ++i)
            maps[i].crushSlice(&layers[i]);
    result.packMicros = timer.nsecsElapsed() / 1000.0 / (rounds * layers.size());
    for (const Map &map : maps)
        bytes += packedBytes(map);
    result.bytesPerLayer = double(bytes) / layers.size();

    QImage target(SampleLayers::kWidth, SampleLayers::kHeight, QImage::Format_ARGB32_Premultiplied);
    qint64 total = 0;
    for (int round = 0; round < rounds; ++round) {
        for (Map &map : maps) {
            target.fill(0xFF000000u);
            timer.restart();
            map.inflateSlice(&target, 0, 0, false);
            const qint64 nanos = timer.nsecsElapsed();
            total += nanos;
            result.bestUnpackMicros = std::min(result.bestUnpackMicros, nanos / 1000.0);
        }
    }
    result.unpackMicros = total / 1000.0 / (rounds * layers.size());
    return result;
}

void report(const char *kind, const Result &r)
{
    std::printf("%-22s pack %9.1f us/layer   unpack %9.1f us/layer (best %8.1f)   packed %9.0f bytes/layer\n", kind,
        r.packMicros, r.unpackMicros, r.bestUnpackMicros, r.bytesPerLayer);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 200;

    std::vector<QImage> bitLayers;
    std::vector<QImage> greyLayers;
    for (int i = 0; i < count; ++i) {
        bitLayers.push_back(SampleLayers::layer(i, count, false));
        greyLayers.push_back(SampleLayers::layer(i, count, true));
    }
    std::printf("%d layers of %d x %d pixels\n", count, SampleLayers::kWidth, SampleLayers::kHeight);
    report("bit-map (version 1)", measure<CrushedBitMap>(bitLayers, 3));
    report("grey PNG (version 3)", measure<CrushedAntiBitMap>(greyLayers, 1));
    return 0;
}
