#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Grayscale grid: rows x columns of levels (0 to 255 in use) laid over the
// projection area, indexed [row][column].
//
// It travels as JSON in chunks. A chunk is one compact object with the keys
// "numRows", "numColumns", "startRow", "endRow" (one past the last row
// carried) and "r<row>c<column>" for every cell of rows [startRow, endRow).
// The whole grid is the chunk with startRow 0 and endRow numRows. Chunk text
// arrives from the network, so merging one is bounded: a grid of more than
// maxCells cells is refused and only rows that exist are visited.
class GrayscaleGrid
{
public:
    static constexpr int defaultNumRows = 8;
    static constexpr int defaultNumColumns = 13;
    static constexpr int freshLevel = 255;
    static constexpr int maxCells = 65536;
    static constexpr int rowsPerChunk = 3;

    GrayscaleGrid() = default; // 0 rows, 0 columns

    int getNumRows() const;
    int getNumColumns() const;

    // Resizes to rows x columns cells of 255, discarding all values. Negative
    // sizes count as 0; more than maxCells cells is refused (logged, grid
    // unchanged).
    void setNumRowsAndColumns(int rows, int columns);

    // Stores one level as given (no clamping). A bad index stores nothing and
    // is logged.
    void setValue(int row, int column, int value);

    // The level, or -1 (logged) for a bad index.
    int getValue(int row, int column) const;

    // The cell at row (numRows - 1) * rowFraction and column
    // (numColumns - 1) * columnFraction, truncated; fractions 0 to 1 address
    // the whole grid. -1 when that is outside the grid.
    int getValueFromPercent(double rowFraction, double columnFraction) const;

    // One chunk carrying rows [startRow, endRow). Rows outside the grid are
    // left out: the range is clamped to [0, numRows].
    QString getJSONString(int startRow, int endRow) const;
    // The whole grid as one chunk.
    QString getJSONString() const;

    // The grid as chunks of at most rowsPerChunk rows, in row order:
    // rows [0, 3), [3, 6), ... Empty for a grid without rows.
    QStringList getJSONChunks() const;

    // Merges one chunk. A chunk naming another size first resets the grid to
    // that size (all 255); then every cell of the chunk's rows is set, a cell
    // whose key is missing becoming 0. Invalid JSON, a non-object document or
    // a too large size leave the grid unchanged.
    void setFromJSONString(const QString &text);

private:
    int numRows = 0;
    int numColumns = 0;
    QVector<QVector<int>> values; // numRows rows of numColumns levels
};
