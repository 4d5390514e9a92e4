#pragma once

#include "crushedprintjob.h"
#include "testimages.h"

#include <QPainter>

// A bit-map job ("sliced at 100 microns", 0.1 mm layers) of black layers of the given size,
// each with a white rectangle that moves one pixel to the right from layer to layer.
inline CrushedPrintJob squareJob(int layers, QSize size = QSize(64, 40), QRect square = QRect(10, 5, 8, 6))
{
    CrushedPrintJob job;
    job.setVersion(1);
    job.setName(QStringLiteral("jobname"));
    job.setDescription(QStringLiteral("sliced at 100 microns"));
    job.setLayerThickness(0.1);
    job.clearAll(0);
    for (int i = 0; i < layers; ++i) {
        QImage layer = blackImage(size.width(), size.height());
        QPainter(&layer).fillRect(square.translated(i, 0), Qt::white);
        job.addImage(&layer);
    }
    return job;
}
