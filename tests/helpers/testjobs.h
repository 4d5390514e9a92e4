#pragma once

#include "crushedprintjob.h"
#include "testimages.h"

#include <QPainter>

#include <functional>

// A bit-map job of 0.1 mm layers drawn by `layerImage(layer)`; `ok`, when given, says
// whether every layer was taken.
inline CrushedPrintJob layersJob(int layers, const std::function<QImage(int)> &layerImage, bool *ok = nullptr)
{
    CrushedPrintJob job;
    job.setVersion(1);
    job.setLayerThickness(0.1);
    job.clearAll(0);
    bool all = true;
    for (int layer = 0; layer < layers; ++layer) {
        QImage image = layerImage(layer);
        all = job.addImage(&image) && all;
    }
    if (ok)
        *ok = all;
    return job;
}

// A bit-map job ("sliced at 100 microns", 0.1 mm layers) of black layers of the given size,
// each with a white rectangle that moves one pixel to the right from layer to layer.
inline CrushedPrintJob squareJob(int layers, QSize size = QSize(64, 40), QRect square = QRect(10, 5, 8, 6))
{
    CrushedPrintJob job = layersJob(layers, [&](int i) {
        QImage layer = blackImage(size.width(), size.height());
        QPainter(&layer).fillRect(square.translated(i, 0), Qt::white);
        return layer;
    });
    job.setName(QStringLiteral("jobname"));
    job.setDescription(QStringLiteral("sliced at 100 microns"));
    return job;
}

// A job ("sliced at 100 microns" unless told otherwise) of black layers of the given size: a
// post standing on the platform in every layer, and from layer `islandLayer` on, a block
// apart from it that nothing holds up. The block is one island, on layer `islandLayer` only
// (above it the block rests on itself).
inline CrushedPrintJob floatingBlockJob(int layers, int islandLayer, QRect block, double thicknessMm = 0.1,
    QSize size = QSize(128, 80), const QString &description = QStringLiteral("sliced at 100 microns"))
{
    CrushedPrintJob job = layersJob(layers, [&](int i) {
        QImage layer = blackImage(size.width(), size.height());
        QPainter painter(&layer);
        painter.fillRect(QRect(2, 2, 6, 6), Qt::white);
        if (i >= islandLayer)
            painter.fillRect(block, Qt::white);
        return layer;
    });
    job.setName(QStringLiteral("jobname"));
    job.setDescription(description);
    job.setLayerThickness(thicknessMm);
    return job;
}

// A job ("sliced at 100 microns", 0.1 mm layers, 128 x 80 pixels): a box on the platform with
// walls `wall` pixels thick around `outline`, a floor of `floor` layers (0: open below) and a
// lid of `lid` layers, hollow between; `cut` is black in layers cutLayers.first to .second.
inline CrushedPrintJob hollowBoxJob(int layers, int floor, int lid, QRect cut = QRect(),
    std::pair<int, int> cutLayers = {}, QRect outline = QRect(20, 10, 40, 30), int wall = 3)
{
    CrushedPrintJob job = layersJob(layers, [&](int i) {
        QImage layer = blackImage(128, 80);
        QPainter painter(&layer);
        painter.fillRect(outline, Qt::white);
        if (i >= floor && i < layers - lid)
            painter.fillRect(outline.adjusted(wall, wall, -wall, -wall), Qt::black);
        if (i >= cutLayers.first && i <= cutLayers.second)
            painter.fillRect(cut, Qt::black);
        return layer;
    });
    job.setDescription(QStringLiteral("sliced at 100 microns"));
    return job;
}
