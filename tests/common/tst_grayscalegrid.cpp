// The grayscale grid, its JSON chunks and the merging of chunks that arrive from the
// network. (The fuzz target grayscale replays random chunks: the grid never exceeds its
// largest size, and a grid sent whole or as its chunks rebuilds the same grid.)
#include "grayscalegrid.h"
#include "logcapture.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// A grid whose cells all differ: level = row * 16 + column.
GrayscaleGrid patternedGrid(int rows, int columns)
{
    GrayscaleGrid grid;
    grid.setNumRowsAndColumns(rows, columns);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            grid.setValue(row, column, row * 16 + column);
    return grid;
}

GrayscaleGrid defaultGrid()
{
    GrayscaleGrid grid;
    grid.setNumRowsAndColumns(GrayscaleGrid::defaultNumRows, GrayscaleGrid::defaultNumColumns);
    return grid;
}

// Row `row` of the grid as a list, for compact comparisons.
QVector<int> rowOf(const GrayscaleGrid &grid, int row)
{
    QVector<int> levels;
    for (int column = 0; column < grid.getNumColumns(); ++column)
        levels << grid.getValue(row, column);
    return levels;
}

bool sameCells(const GrayscaleGrid &a, const GrayscaleGrid &b)
{
    if (a.getNumRows() != b.getNumRows() || a.getNumColumns() != b.getNumColumns())
        return false;
    for (int row = 0; row < a.getNumRows(); ++row)
        if (rowOf(a, row) != rowOf(b, row))
            return false;
    return true;
}

QString sizedChunk(int rows, int columns, int startRow, int endRow)
{
    return QStringLiteral("{\"numRows\":%1,\"numColumns\":%2,\"startRow\":%3,\"endRow\":%4}")
        .arg(rows)
        .arg(columns)
        .arg(startRow)
        .arg(endRow);
}

int linesContaining(const LogCapture &log, const QString &text)
{
    return log.lines().filter(text).size();
}

} // namespace

class TestGrayscaleGrid : public QObject
{
    Q_OBJECT

private slots:
    void wholeChunkAndChunks_carryTheirRowRanges()
    {
        LogCapture log;
        const GrayscaleGrid grid = defaultGrid();
        const QString whole = grid.getJSONString();
        QVERIFY(!whole.contains(QLatin1Char(' '))); // compact
        const QJsonObject chunk = parse(whole);
        QCOMPARE(chunk.size(), 4 + 8 * 13);
        QCOMPARE(chunk.value("numRows"), QJsonValue(8));
        QCOMPARE(chunk.value("numColumns"), QJsonValue(13));
        QCOMPARE(chunk.value("r7c12"), QJsonValue(255));
        // A range outside the grid is clamped, without complaint.
        QCOMPARE(grid.getJSONString(-5, 100), whole);
        QCOMPARE(linesContaining(log, "ERROR"), 0);

        // Chunks of three rows at most.
        const QStringList chunks = grid.getJSONChunks();
        QCOMPARE(chunks.size(), 3);
        const int bounds[] = {0, 3, 6, 8};
        for (int index = 0; index < chunks.size(); ++index) {
            const QJsonObject part = parse(chunks.at(index));
            QCOMPARE(part.value("startRow").toInt(), bounds[index]);
            QCOMPARE(part.value("endRow").toInt(), bounds[index + 1]);
            QCOMPARE(part.size(), 4 + (bounds[index + 1] - bounds[index]) * 13);
        }
    }

    void mergeRows3to6_changesOnlyThoseRows_missingCellBecomesZero()
    {
        LogCapture log;
        const GrayscaleGrid sender = patternedGrid(8, 13);
        QJsonObject chunk = parse(sender.getJSONString(3, 6));
        chunk.remove("r4c7");
        GrayscaleGrid receiver = defaultGrid();
        receiver.setFromJSONString(QString::fromUtf8(QJsonDocument(chunk).toJson(QJsonDocument::Compact)));

        QCOMPARE(receiver.getValue(4, 7), 0);
        receiver.setValue(4, 7, sender.getValue(4, 7));
        for (int row = 0; row < 8; ++row)
            QCOMPARE(rowOf(receiver, row), row >= 3 && row < 6 ? rowOf(sender, row) : QVector<int>(13, 255));
    }

    void chunkOfNewSize_resetsAllCellsTo255First()
    {
        LogCapture log;
        GrayscaleGrid receiver = patternedGrid(8, 13);
        const GrayscaleGrid sender = patternedGrid(10, 13);
        receiver.setFromJSONString(sender.getJSONString(0, 3));
        QCOMPARE(receiver.getNumRows(), 10);
        for (int row = 0; row < 10; ++row)
            QCOMPARE(rowOf(receiver, row), row < 3 ? rowOf(sender, row) : QVector<int>(13, 255));

        // An empty row range changes no cell, but a new size still resets the grid.
        GrayscaleGrid grid = patternedGrid(8, 13);
        grid.setFromJSONString(sizedChunk(8, 13, 4, 4));
        QVERIFY(sameCells(grid, patternedGrid(8, 13)));
        grid.setFromJSONString(sizedChunk(5, 6, 2, 2));
        QCOMPARE(grid.getNumColumns(), 6);
        QCOMPARE(rowOf(grid, 2), QVector<int>(6, 255));
    }

    void cellAsStringOrNumber_giveSameLevel_data()
    {
        QTest::addColumn<QString>("cellJson");
        QTest::addColumn<int>("expectedLevel");
        QTest::newRow("number 128") << QStringLiteral("128") << 128;
        QTest::newRow("string \"128\"") << QStringLiteral("\"128\"") << 128;
        QTest::newRow("string hexadecimal") << QStringLiteral("\"0x80\"") << 0;
        QTest::newRow("fraction") << QStringLiteral("2.5") << 0;
        // Levels are stored as received, not clamped.
        QTest::newRow("above 255") << QStringLiteral("300") << 300;
    }

    void cellAsStringOrNumber_giveSameLevel()
    {
        QFETCH(QString, cellJson);
        QFETCH(int, expectedLevel);
        LogCapture log;
        GrayscaleGrid grid;
        grid.setFromJSONString(sizedChunk(1, 1, 0, 1).chopped(1) + QStringLiteral(",\"r0c0\":%1}").arg(cellJson));
        QCOMPARE(grid.getValue(0, 0), expectedLevel);
    }

    // A refused chunk leaves the grid as it was, with one error line.
    void refusedChunk_leavesGridAsItWas_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expectedLog");
        QTest::newRow("not JSON") << QStringLiteral("numRows=8") << QStringLiteral("doc is null");
        QTest::newRow("array of chunk") << QLatin1Char('[') + sizedChunk(2, 2, 0, 2) + QLatin1Char(']')
                                        << QStringLiteral("doc is not object");
        QTest::newRow("257 x 256 cells") << sizedChunk(257, 256, 0, 1) << QStringLiteral("Grid too large");
        QTest::newRow("int max squared")
            << sizedChunk(2147483647, 2147483647, 0, 2147483647) << QStringLiteral("Grid too large");
        // No cells, but one prototype row of a billion levels would still be built.
        QTest::newRow("no rows, a billion columns")
            << sizedChunk(0, 1000000000, 0, 0) << QStringLiteral("Grid too large");
    }

    void refusedChunk_leavesGridAsItWas()
    {
        QFETCH(QString, text);
        QFETCH(QString, expectedLog);
        GrayscaleGrid grid = patternedGrid(8, 13);
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        grid.setFromJSONString(text);
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(sameCells(grid, patternedGrid(8, 13)));
        QCOMPARE(linesContaining(log, "ERROR"), 1);
        QCOMPARE(linesContaining(log, expectedLog), 1);
    }

    void sizes_largestAccepted_badOnesCountAsZero()
    {
        LogCapture log;
        GrayscaleGrid grid;
        grid.setFromJSONString(sizedChunk(256, 256, 0, 0));
        QCOMPARE(grid.getNumRows(), 256);
        QCOMPARE(grid.getValue(255, 255), 255);

        grid.setFromJSONString(sizedChunk(-3, -100000, 0, 2));
        QCOMPARE(grid.getNumRows(), 0);
        QCOMPARE(grid.getNumColumns(), 0);
        // A row count that is no int empties the grid, never enlarges it.
        for (const char *number : {"2.5", "2147483648", "1e300"}) {
            grid = defaultGrid();
            grid.setFromJSONString(QStringLiteral("{\"numRows\":%1,\"numColumns\":13,\"startRow\":0,\"endRow\":1}")
                                       .arg(QLatin1String(number)));
            QCOMPARE(grid.getNumRows(), 0);
            QCOMPARE(grid.getNumColumns(), 13);
        }
    }

    void rowsOutsideGrid_skippedWithOneLinePerChunk_data()
    {
        QTest::addColumn<int>("startRow");
        QTest::addColumn<int>("endRow");
        QTest::addColumn<int>("expectedRowsWritten");
        QTest::newRow("end past grid") << 6 << 10 << 2;
        QTest::newRow("start before grid") << -2 << 1 << 1;
        QTest::newRow("whole int range") << -2147483647 - 1 << 2147483647 << 8;
    }

    void rowsOutsideGrid_skippedWithOneLinePerChunk()
    {
        QFETCH(int, startRow);
        QFETCH(int, endRow);
        QFETCH(int, expectedRowsWritten);
        GrayscaleGrid grid = defaultGrid();
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        grid.setFromJSONString(sizedChunk(8, 13, startRow, endRow)); // no cell keys: cells become 0
        QVERIFY(timer.elapsed() < 1000);

        int zeroRows = 0;
        for (int row = 0; row < 8; ++row)
            zeroRows += rowOf(grid, row) == QVector<int>(13, 0) ? 1 : 0;
        QCOMPARE(zeroRows, expectedRowsWritten);
        QCOMPARE(linesContaining(log, "ERROR"), 1);
    }

    void badIndex_getGivesMinusOne_setStoresNothing()
    {
        LogCapture log;
        GrayscaleGrid grid = defaultGrid();
        for (const QPoint cell : {QPoint(-1, 0), QPoint(8, 0), QPoint(7, 13), QPoint(9, 99)}) {
            QCOMPARE(grid.getValue(cell.x(), cell.y()), -1);
            grid.setValue(cell.x(), cell.y(), 17);
        }
        QVERIFY(sameCells(grid, defaultGrid()));
    }
};

QTEST_GUILESS_MAIN(TestGrayscaleGrid)
#include "tst_grayscalegrid.moc"
