#pragma once

#include <QImage>

// Layers of a sample part on the 1280 x 800 raster, as the slicer would draw
// them: black, with a few white shapes that change with the height (a tube, a
// cone, a plate with holes and thin pins). Used by the demo and the benchmarks.
namespace SampleLayers {

constexpr int kWidth = 1280;
constexpr int kHeight = 800;

// Layer `index` of `count`; grey edges when `antiAliased`.
QImage layer(int index, int count, bool antiAliased);

} // namespace SampleLayers
