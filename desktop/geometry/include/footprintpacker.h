#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>
#include <vector>

// Places rectangles on the platform without overlap: the footprints of models (their x
// and z extents, supports included) seen from above.
//
// Terms used here:
//   area      - the rectangle the footprints must stay inside (the platform less a
//               margin from its walls), x to the right and z towards the front;
//   gap       - the smallest distance kept between two footprints;
//   free spot - a place for a footprint inside the area, at least the gap away from
//               every footprint already there.
//
// The spots tried are the area's back left corner and the places just right of and just
// in front of the footprints already there; the one furthest back, then furthest left,
// wins. This fills the area row by row without the holes a fixed grid leaves.
namespace FootprintPacker {

// The top left corner (smallest x and z) of a free spot for a footprint of this size,
// or none when the area has no room for it.
std::optional<QPointF> freeSpot(const QSizeF &size, const QRectF &area, const std::vector<QRectF> &taken, double gap);

// Packs footprints of these sizes into the area, largest first, and centres the packed
// group in the area. The result holds one place per size, in the order given; none for
// a footprint that found no room.
std::vector<std::optional<QRectF>> pack(const std::vector<QSizeF> &sizes, const QRectF &area, double gap);

} // namespace FootprintPacker
