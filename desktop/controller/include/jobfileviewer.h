#pragma once

#include "islandcheck.h"
#include "trapcheck.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <memory>
#include <vector>

class CrushedPrintJob;

// The job viewer behind the user interface's viewer page: one job file loaded, one layer of
// it shown at a time. Layers are counted from 0 here and from 1 in what the page is told;
// every query answers "n/a" while no file is open.
//
// The viewer keeps a job of its own, so that a print sent meanwhile changes nothing here.
// What it shows leaves it as layerShown(); the controller puts it into the "colors" image
// provider.
//
// Islands (IslandCheck, those over IslandCheck::kMinimumIslandPixels) and cavities that hold
// resin or suck at the platform (TrapCheck, those over TrapCheck::kMinimumVolumeMm3) are found
// when a file opens, in one reading of its layers; while highlighting is on, the pixels of the
// shown layer's islands are drawn red (kIslandColour) and those of its cavities blue
// (kCavityColour) over the layer.
class JobFileViewer : public QObject
{
    Q_OBJECT
public:
    explicit JobFileViewer(QObject *parent = nullptr);
    ~JobFileViewer() override;

    bool isOpen() const { return m_job != nullptr; }
    int index() const { return m_index; }

    // Loads the file and shows layer 0: "1". A file that cannot be shown closes the viewer,
    // tells the user (problem) and answers "n/a".
    QString open(const QString &normalisedPath);
    // Shows an all-black projected image, when a file was open.
    void close();
    QString showNext();
    QString showPrevious();
    // The layer at that fraction (0 to 1) of the job.
    QString showAt(double fraction);
    QString layerCountText() const;
    // The layer at that index (counted from 0, kept within the job).
    QString showLayer(int index);

    // "Layer 120 of 400 - 6.00 mm": the shown layer, the count, and the height the layer's top
    // reaches above the platform. Empty while no file is open.
    QString layerText() const;

    // The job's islands, bottom up: per island a map of "layer" (counted from 1, as shown),
    // "pixels", "area" (mm²), "x" and "y" (mm from the platform's centre, y towards the top
    // of the image) and "text" (one line for a list); then its cavities, each with "layer" (its
    // first), "cavity" true and "text". Islands have "cavity" false.
    QVariantList islandList() const;
    const std::vector<IslandCheck::Island> &islands() const { return m_islands; }
    // Shows the layer of that entry of islandList(); "n/a" for no such entry.
    QString showIsland(int islandIndex);

    bool highlightsIslands() const { return m_highlightIslands; }
    // Redraws the shown layer with or without its islands.
    void setHighlightIslands(bool highlight);

    static constexpr QRgb kIslandColour = 0xFFFF0000u;
    static constexpr QRgb kCavityColour = 0xFF2A8CFFu;

signals:
    void layerShown(const QImage &image);
    void problem(const QString &messageText);

private:
    QString show(int index);

    void drawIslands(QImage *image) const;
    void drawCavities(QImage *image) const;
    double pixelMillimetres() const;

    std::unique_ptr<CrushedPrintJob> m_job;
    int m_index = 0;
    std::vector<IslandCheck::Island> m_islands;
    std::vector<TrapCheck::Cavity> m_cavities;
    bool m_highlightIslands = true;
};
