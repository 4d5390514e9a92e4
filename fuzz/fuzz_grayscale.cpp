// The grayscale grid's JSON merge: the input is one or more chunks (UTF-8 text, separated
// by zero bytes, which JSON text cannot hold), merged in order into the printer's default
// grid of 8 x 13 cells, as the printer merges the chunks of "Send_NewGrayscale" messages
// and the text of its settings file.
//
// Rules checked besides the sanitizers':
//  - after every chunk, the grid holds no more than GrayscaleGrid::maxCells cells, and
//    every cell inside its size can be read;
//  - after the last chunk, the grid written as one chunk and merged into an empty grid
//    gives the same text, and so does the grid sent as its chunks of at most three rows
//    and merged in order into an empty grid (what a receiver of the answer to
//    "Request_Grayscale" rebuilds).
#include "fuzzsupport.h"

#include "grayscalegrid.h"

#include <QList>

namespace {

void checkSize(const GrayscaleGrid &grid)
{
    const int rows = grid.getNumRows();
    const int columns = grid.getNumColumns();
    FUZZ_CHECK(rows >= 0 && columns >= 0 && qint64(rows) * columns <= GrayscaleGrid::maxCells,
        QStringLiteral("grid of %1 x %2").arg(rows).arg(columns));
    if (rows > 0 && columns > 0) {
        FUZZ_CHECK(grid.getValue(rows - 1, columns - 1) == grid.getValueFromPercent(1.0, 1.0),
            QStringLiteral("last cell and cell at 100 % differ"));
        (void)grid.getValueFromPercent(0.5, 0.25);
    }
}

void checkText(const GrayscaleGrid &grid)
{
    const int rows = grid.getNumRows();
    const QString whole = grid.getJSONString();
    GrayscaleGrid copy;
    copy.setFromJSONString(whole);
    FUZZ_CHECK(copy.getJSONString() == whole,
        QStringLiteral("grid changes when read back:\n") + whole + QStringLiteral("\n") + copy.getJSONString());

    if (rows <= GrayscaleGrid::rowsPerChunk)
        return; // one chunk at most: the whole text above, or none for a grid without rows
    GrayscaleGrid rebuilt;
    const QStringList chunks = grid.getJSONChunks();
    for (const QString &chunk : chunks)
        rebuilt.setFromJSONString(chunk);
    FUZZ_CHECK(rebuilt.getJSONString() == whole,
        QStringLiteral("grid rebuilt from %1 chunks differs:\n").arg(chunks.size()) + whole + QStringLiteral("\n")
            + rebuilt.getJSONString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QList<QByteArray> chunks = Fuzz::bytes(data, size).split('\0');

    GrayscaleGrid grid;
    grid.setNumRowsAndColumns(GrayscaleGrid::defaultNumRows, GrayscaleGrid::defaultNumColumns);
    int merged = 0;
    for (const QByteArray &chunk : chunks) {
        if (++merged > 16)
            break;
        grid.setFromJSONString(QString::fromUtf8(chunk));
        checkSize(grid);
    }
    checkText(grid);
    return 0;
}
