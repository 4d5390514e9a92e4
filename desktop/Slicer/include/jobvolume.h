#pragma once

#include <functional>

class CrushedPrintJob;

// The resin a job cures: lit pixels x pixel area x layer thickness. In a grey (version 3)
// job a pixel counts grey/255 of a lit one, which is the share of it the layer covers.
namespace JobVolume {

// Lit pixels over the stored layers, grey-weighted; progress gets the layers done.
double litPixels(CrushedPrintJob &job, const std::function<void(int layersDone)> &progress = {});

// Millilitres, for square pixels of pixelMm millimetres.
double millilitres(CrushedPrintJob &job, double pixelMm, const std::function<void(int layersDone)> &progress = {});

} // namespace JobVolume
