#pragma once

#include <functional>

class CrushedPrintJob;
class QImage;

// The resin a job cures: lit pixels x pixel area x layer thickness. In a grey (version 3)
// job a pixel counts grey/255 of a lit one, which is the share of it the layer covers.
namespace JobVolume {

// Lit pixels over the stored layers, grey-weighted; progress gets the layers done.
double litPixels(CrushedPrintJob &job, const std::function<void(int layersDone)> &progress = {});

// The grey-weighted lit pixels of one decoded grey layer.
double greyPixels(const QImage &layer);

// Millilitres, for square pixels of pixelMm millimetres.
double millilitres(CrushedPrintJob &job, double pixelMm, const std::function<void(int layersDone)> &progress = {});
double millilitres(double litPixels, double pixelMm, double layerThicknessMm);

} // namespace JobVolume
