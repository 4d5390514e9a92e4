#include "contactsheet.h"

#include "crushedprintjob.h"

#include <QDir>
#include <QPainter>
#include <QThread>

#include <future>
#include <vector>

namespace ContactSheet {

namespace {

const QColor kBackground(40, 40, 44);
const QColor kText(235, 235, 235);
const QColor kBorder(110, 110, 120);

int cellWidth()
{
    return 2 * kThumbWidth + kGap;
}

int rowHeight()
{
    return kLabelHeight + kThumbHeight + kMargin;
}

QPoint cellOrigin(int index)
{
    return QPoint(kMargin + (index % kColumns) * (cellWidth() + kMargin),
        kTitleHeight + (index / kColumns) * rowHeight() + kLabelHeight);
}

// The image scaled into `box`, keeping its proportions, on black, with a frame
// around the box so that a black image still shows where it is.
void drawThumbnail(QPainter &painter, const QRect &box, const QImage &image)
{
    painter.fillRect(box, Qt::black);
    if (!image.isNull()) {
        const QImage scaled = image.scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QPoint at = box.topLeft()
            + QPoint((box.width() - scaled.width()) / 2, (box.height() - scaled.height()) / 2);
        painter.drawImage(at, scaled);
    }
    painter.setPen(kBorder);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box.adjusted(-1, -1, 0, 0));
}

struct FrameScan {
    QList<int> lit;
    QString error; // the first frame that could not be read; the scan stops there
};

FrameScan scanFrames(const QStringList &frames, int from, int to)
{
    FrameScan scan;
    for (int i = from; i < to; ++i) {
        const QImage image(frames.at(i));
        if (image.isNull()) {
            scan.error = QStringLiteral("cannot read frame %1").arg(frames.at(i));
            break;
        }
        if (isLit(image))
            scan.lit << i;
    }
    return scan;
}

} // namespace

QSize sheetSize(int pairs)
{
    const int rows = (qMax(pairs, 1) + kColumns - 1) / kColumns;
    return QSize(kMargin + kColumns * (cellWidth() + kMargin), kTitleHeight + rows * rowHeight());
}

QRect frameRect(int index)
{
    return QRect(cellOrigin(index), QSize(kThumbWidth, kThumbHeight));
}

QRect layerRect(int index)
{
    return frameRect(index).translated(kThumbWidth + kGap, 0);
}

QStringList frameFiles(const QString &dir)
{
    const QDir folder(dir);
    QStringList files;
    for (const QString &name : folder.entryList({QStringLiteral("frame_*.png")}, QDir::Files, QDir::Name))
        files << folder.filePath(name);
    return files;
}

bool isLit(const QImage &image)
{
    // Frames come as 32-bit images: read them in place rather than copy 4 MB each.
    const QImage::Format format = image.format();
    const bool direct = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
    const QImage rgb = direct ? image : image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            if (qRed(line[x]) >= 32 || qGreen(line[x]) >= 32 || qBlue(line[x]) >= 32)
                return true;
    }
    return false;
}

QList<int> litLayers(const CrushedPrintJob &job)
{
    QList<int> layers;
    const int blank = job.leadingBlankLayers();
    for (int stored = 0; stored < job.storedLayers(); ++stored)
        if (job.getTotalWhitePixels(stored, stored) > 0)
            layers << blank + stored;
    return layers;
}

QList<int> litFrames(const QStringList &frames, QString *error)
{
    // Decoding the frames is most of the work: each core reads a run of them.
    const int total = int(frames.size());
    const int runs = qBound(1, QThread::idealThreadCount(), qMax(1, total));
    std::vector<std::future<FrameScan>> scans;
    for (int run = 0; run < runs; ++run)
        scans.push_back(std::async(std::launch::async, scanFrames, std::cref(frames), run * total / runs,
            (run + 1) * total / runs));
    QList<int> lit;
    for (std::future<FrameScan> &scan : scans) {
        const FrameScan result = scan.get();
        lit << result.lit;
        if (!result.error.isEmpty()) {
            *error = result.error;
            break;
        }
    }
    return lit;
}

QList<int> spread(int size, int count)
{
    QList<int> positions;
    const int n = qMin(size, count);
    for (int i = 0; i < n; ++i)
        positions << (n == 1 ? 0 : int((qint64(i) * (size - 1) + (n - 1) / 2) / (n - 1)));
    return positions;
}

QImage draw(const QString &title, const QList<Pair> &pairs)
{
    QImage sheet(sheetSize(pairs.size()), QImage::Format_RGB32);
    sheet.fill(kBackground);
    QPainter painter(&sheet);
    QFont font = painter.font();
    font.setPixelSize(16);
    painter.setFont(font);
    painter.setPen(kText);
    painter.drawText(QRect(kMargin, 0, sheet.width() - 2 * kMargin, kTitleHeight),
        Qt::AlignLeft | Qt::AlignVCenter, title);
    font.setPixelSize(14);
    painter.setFont(font);
    for (int i = 0; i < pairs.size(); ++i) {
        const Pair &pair = pairs.at(i);
        const QSize labelSize(kThumbWidth, kLabelHeight);
        painter.setPen(kText);
        painter.drawText(QRect(frameRect(i).topLeft() - QPoint(0, kLabelHeight), labelSize),
            Qt::AlignLeft | Qt::AlignVCenter,
            QStringLiteral("layer %1, projected (frame %2)").arg(pair.layer).arg(pair.frame));
        painter.drawText(QRect(layerRect(i).topLeft() - QPoint(0, kLabelHeight), labelSize),
            Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("layer %1, sliced").arg(pair.layer));
        drawThumbnail(painter, frameRect(i), pair.frameImage);
        drawThumbnail(painter, layerRect(i), pair.layerImage);
    }
    painter.end();
    return sheet;
}

} // namespace ContactSheet
