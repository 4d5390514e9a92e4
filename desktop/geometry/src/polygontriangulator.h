#pragma once

#include <QVector3D>
#include <QVector>

#include <array>

// Splits one polygon (corners in order, possibly concave, roughly planar) into
// corners.size() - 2 triangles by ear clipping in the polygon's own plane. Each triangle is
// three indices into corners, wound the same way as the polygon. Fewer than three corners
// give no triangle.
QVector<std::array<int, 3>> triangulatePolygon(const QVector<QVector3D> &corners);
