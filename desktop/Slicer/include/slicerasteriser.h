#pragma once

#include "slicelayer.h"

#include <QImage>

#include <vector>

// Turns the contours of a layer into its 1280 x 800 layer image.
//
// Image geometry: one pixel is 0.1 slice-plane unit, the image centre is the slice-plane
// origin, x grows to the right and y upwards (row 0 is the top). A pixel is sampled at
// its centre.
//
// Coverage: every pixel counts the outer contours and the inner contours (holes) that
// contain its centre; it is solid where the two counts differ, so an outer contour minus
// its holes, and overlapping bodies, come out right without polygon operations. Filling
// is done per row from each contour's edges, with the contour's own winding, which gives
// the counts a triangulation of the contour would give.
//
// Fill rule on edges: an edge takes part in a row when one end is at or below the row's
// centre line and the other above it (half-open in y); a pixel is inside from the first
// column whose centre is at or right of the crossing (half-open in x). A centre exactly
// on an edge shared by two contours therefore belongs to exactly one of them.
//
// Plain images (Format_ARGB32; the values are the same premultiplied or not): solid
// pixels opaque red, pixels covered equally by both kinds transparent black, the rest
// opaque black. Anti-aliased images (Format_Grayscale8): solid pixels white, the rest
// carry the coverage of one-pixel-wide smoothed lines drawn along every segment (grey
// edges just outside the contours), black elsewhere.
//
// Supersampled images (Format_Grayscale8, 2, 4 or 8 sub-rows per pixel): every pixel row
// is cut by N sub-row lines at the centres of N equal bands; on each line the material
// (the same counting rule) is a set of exact x intervals, and each pixel takes the length
// of them inside it. The grey value is the mean over the N lines, so a straight edge
// comes out within 1/(2N) of the pixel's covered area; only a feature thinner than a
// band and nearly horizontal can be missed or doubled by up to 1/N.
class SliceRasteriser
{
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 800;
    static constexpr double kPixelSize = 0.1;

    // The image is drawn into a buffer the rasteriser keeps: a caller that lets go of it
    // before the next call spares an allocation (and its page faults) per layer.
    // supersampling: sub-rows per pixel of an anti-aliased image (2, 4 or 8); 0 draws
    // the smoothed edge lines instead. Ignored for plain images.
    QImage render(const SliceLayer &layer, bool antiAliased, int supersampling = 0);
    static bool isSupersampling(int subRows) { return subRows == 2 || subRows == 4 || subRows == 8; }

    // Slice-plane coordinates of a pixel centre.
    static double columnCentre(int column) { return -64.0 + (column + 0.5) * kPixelSize; }
    static double rowCentre(int row) { return 40.0 - (row + 0.5) * kPixelSize; }

private:
    struct Event {
        int column;
        int outerDelta;
        int innerDelta;
    };
    // Where a contour crosses a sub-row line, in pixel columns (continuous).
    struct Crossing {
        float column;
        int outerDelta;
        int innerDelta;
    };

    void collectEvents(const SliceLayer &layer);
    void drawLines(const SliceLayer &layer);
    void collectSubRowCrossings(const SliceLayer &layer, int subRows);
    void renderSupersampled(int subRows);
    void addSubRowCoverage(std::vector<Crossing> &crossings, float weight);

    std::vector<std::vector<Event>> m_rows;
    std::vector<std::vector<Crossing>> m_subRows;
    // One pixel row's partial coverage, and the steps of its fully covered runs.
    std::vector<float> m_rowCoverage;
    std::vector<float> m_rowSteps;
    int m_spanLeft = 0;
    int m_spanRight = -1;
    QImage m_image;
    // Kept zero between layers: only the columns a line touched (per row, from
    // m_touchedLeft to m_touchedRight) are read and cleared again.
    std::vector<float> m_lineCoverage;
    std::vector<int> m_touchedLeft;
    std::vector<int> m_touchedRight;
};
