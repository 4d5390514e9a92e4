// The job file reader and the unpacking of its layers, as the printer uses them: the
// input is a job file (".ssj"). It is read the way the printer reads a received job (a
// probe load, then the job), and its layers are drawn the way SSJ::getOneImage draws them
// for projection: on a black image of the job's largest layer size, centred for bit maps,
// at the corner for anti-aliased layers. The desktop's job viewer also draws the overlay
// of base layers and supports, which is switched on for a second drawing.
//
// Rules checked besides the sanitizers':
//  - a job that loads can be written and read back, and the copy has the same header,
//    layers and totals (both programs read and write exactly one layout);
//  - a job that loads never asks for a layer image of more than
//    CrushedAntiBitMap::kMaxDecodedPixels pixels: every layer is drawn on an image of the
//    job's largest layer size, and the reader already holds stored PNGs to that bound so
//    that a damaged file cannot exhaust the printer's memory.
#include "fuzzsupport.h"

#include "crushedprintjob.h"

#include <QBuffer>
#include <QImage>

#include <algorithm>

namespace {

constexpr qint64 kDrawnPixels = 4 * 1280 * 800;

// Layers drawn per input: the first (a leading blank layer when the job has them), the
// first stored one, and the last. Enough to reach every kind of layer without making one
// input cost a whole print: a layer of the projector's size takes milliseconds.
QList<int> layersToDraw(const CrushedPrintJob &job)
{
    const int total = job.getTotalLayers();
    QList<int> layers;
    for (int layer : {0, job.leadingBlankLayers(), total - 1}) {
        if (layer >= 0 && layer < total && !layers.contains(layer))
            layers << layer;
    }
    return layers;
}

// SSJ::getOneImage, on a job of our own.
QImage drawLayer(CrushedPrintJob &job, int layer)
{
    QImage image(job.largestWidth(), job.largestHeight(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(0xFF000000u);
    job.setCurrentLayer(layer);
    job.inflateCurrentSlice(&image, 0, 0, false);
    return image;
}

void checkCopy(CrushedPrintJob &job)
{
    QByteArray written;
    QBuffer out(&written);
    out.open(QIODevice::WriteOnly);
    FUZZ_CHECK(job.writeTo(&out), QStringLiteral("a loaded job could not be written"));
    out.close();

    CrushedPrintJob copy;
    QBuffer in(&written);
    in.open(QIODevice::ReadOnly);
    FUZZ_CHECK(copy.readFrom(&in), QStringLiteral("a written job does not read back: ") + copy.errorString());
    FUZZ_CHECK(copy.version() == job.version() && copy.name() == job.name() && copy.description() == job.description()
            && copy.layerThicknessText() == job.layerThicknessText()
            && copy.leadingBlankLayers() == job.leadingBlankLayers() && copy.baseLayers() == job.baseLayers(),
        QStringLiteral("the header changed on writing"));
    FUZZ_CHECK(copy.storedLayers() == job.storedLayers() && copy.getTotalLayers() == job.getTotalLayers(),
        QStringLiteral("layer count %1 became %2").arg(job.storedLayers()).arg(copy.storedLayers()));
    FUZZ_CHECK(copy.totalWhitePixels() == job.totalWhitePixels() && copy.largestWidth() == job.largestWidth()
            && copy.largestHeight() == job.largestHeight(),
        QStringLiteral("totals changed on writing"));
    FUZZ_CHECK(copy.supports().size() == job.supports().size() && copy.texts() == job.texts(),
        QStringLiteral("supports or texts changed on writing"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    QByteArray file = Fuzz::bytes(data, size);
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);

    CrushedPrintJob job;
    if (!job.readFrom(&buffer)) {
        // A failed load is refused by every caller; only its bookkeeping is used afterwards.
        (void)job.getTotalLayers();
        (void)job.errorString();
        return 0;
    }

    checkCopy(job);

    const qint64 canvas = qint64(job.largestWidth()) * job.largestHeight();
    FUZZ_CHECK(canvas <= CrushedAntiBitMap::kMaxDecodedPixels,
        QStringLiteral("a loaded job draws its layers on %1 x %2 pixels (%3 MB)")
            .arg(job.largestWidth())
            .arg(job.largestHeight())
            .arg(canvas * 4 / (1024 * 1024)));
    // Larger layers than a few projector rasters reach no other code when drawn, they only
    // take longer: the fuzzer's time is better spent elsewhere.
    if (canvas > kDrawnPixels)
        return 0;

    for (int layer : layersToDraw(job))
        drawLayer(job, layer);
    // The island check and the support search ask for single pixels.
    job.isWhitePixel(QPoint(job.largestWidth() / 2, job.largestHeight() / 2), job.leadingBlankLayers());
    (void)job.getTotalWhitePixels(0, job.storedLayers() - 1);

    if (job.version() == 1 && job.getTotalLayers() > 0) {
        job.setOverlay(true);
        drawLayer(job, std::min(job.baseLayers(), job.getTotalLayers() - 1));
        if (!job.supports().empty())
            drawLayer(job, job.getTotalLayers() - 1);
    }
    return 0;
}
