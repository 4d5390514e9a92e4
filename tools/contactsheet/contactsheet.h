#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class CrushedPrintJob;

// A contact sheet of a print: for a few layers of a job, the frame the printer
// projected next to the layer as it was sliced, each pair labelled with its
// layer number.
//
// Frames are those vatnode saves with --frames-dir (frame_000001.png, ...):
// one per projection, the lit layers and the black frames between them (and
// after a pause or a cancel). Lit frames follow the job's lit layers in order,
// so the i-th lit frame shows the i-th lit layer; blank layers have no frame of
// their own to show.
namespace ContactSheet {

constexpr int kThumbWidth = 320; // a 1280 x 800 layer at a quarter
constexpr int kThumbHeight = 200;
constexpr int kMargin = 12;
constexpr int kGap = 8; // between a frame and its layer
constexpr int kLabelHeight = 24;
constexpr int kTitleHeight = 40;
constexpr int kColumns = 2; // pairs side by side

// One pair of the sheet.
struct Pair {
    int layer = 0; // from 0, leading blank layers included
    int frame = 0; // from 1, as in the frame's file name
    QImage frameImage;
    QImage layerImage;
};

// Sheet geometry for `pairs` pairs: its size, and where the frame and the layer
// of pair `index` are drawn.
QSize sheetSize(int pairs);
QRect frameRect(int index);
QRect layerRect(int index);

// frame_*.png in `dir`, in order.
QStringList frameFiles(const QString &dir);
// Whether any pixel reaches 32 on a channel, as a lit layer pixel does.
bool isLit(const QImage &image);
// Layers of the job with at least one lit pixel, in order.
QList<int> litLayers(const CrushedPrintJob &job);
// The indices (into `frames`) of the lit frames, in order; an unreadable frame
// sets `error` and ends the list.
QList<int> litFrames(const QStringList &frames, QString *error);
// `count` positions spread evenly over 0..size-1, first and last included
// (fewer when size is smaller).
QList<int> spread(int size, int count);

// The sheet: a title line, then the pairs, kColumns to a row.
QImage draw(const QString &title, const QList<Pair> &pairs);

} // namespace ContactSheet
