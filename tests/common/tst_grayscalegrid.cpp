#include "grayscalegrid.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// The grayscale grid, its JSON chunks and the merging of chunks that arrive
// from the network.
class TestGrayscaleGrid : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Writing
    void defaultGrid_wholeChunk_hasSizeKeysAnd104CellsOf255();
    void wholeGrid_readIntoEmptyGrid_writesSameText();
    void chunks_eightRowGrid_giveRows0to3_3to6_6to8();
    void chunks_together_rebuildTheGrid_data();
    void chunks_together_rebuildTheGrid();
    void getJSONString_rangeOutsideGrid_isClamped();

    // Merging
    void mergeRows3to6_sameSize_changesOnlyThoseRows();
    void mergeChunkOfNewSize_resetsAllCellsTo255First();
    void cellAsStringOrNumber_giveSameLevel_data();
    void cellAsStringOrNumber_giveSameLevel();
    void missingCellKey_inCoveredRow_becomesZero();
    void startRowEqualsEndRow_changesNoCellButResizes();
    void notAnObject_leavesGridAsItWas_data();
    void notAnObject_leavesGridAsItWas();
    void levelsAreStoredAsReceived();

    // Hostile chunks
    void hugeSize_isRefusedWithOneLine_data();
    void hugeSize_isRefusedWithOneLine();
    void largestAllowedGrid_isAccepted();
    void negativeSizes_countAsZero();
    void rowsOutsideGrid_skippedWithOneLinePerChunk_data();
    void rowsOutsideGrid_skippedWithOneLinePerChunk();
    void nonIntegralOrOutOfRangeNumbers_countAsZero_data();
    void nonIntegralOrOutOfRangeNumbers_countAsZero();

    // Cell access
    void badIndex_getValueGivesMinusOne_andLogs_data();
    void badIndex_getValueGivesMinusOne_andLogs();
    void badIndex_setValueStoresNothing_andLogs_data();
    void badIndex_setValueStoresNothing_andLogs();
    void setNumRowsAndColumns_discardsValues();
    void valueFromPercent_addressesWholeGrid_data();
    void valueFromPercent_addressesWholeGrid();
};

namespace {

// Log lines of the code under test, collected instead of printed: merging a
// grid logs one line per cell.
QStringList capturedLog;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedLog << message;
}

int logLinesContaining(const QString &text)
{
    int count = 0;
    for (const QString &line : qAsConst(capturedLog))
        count += line.contains(text) ? 1 : 0;
    return count;
}

QJsonObject parse(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("unparsable chunk: %s", qPrintable(error.errorString()));
    return doc.object();
}

QString toText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
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

} // namespace

void TestGrayscaleGrid::init()
{
    capturedLog.clear();
    qInstallMessageHandler(captureMessage);
}

void TestGrayscaleGrid::cleanup()
{
    qInstallMessageHandler(nullptr);
    capturedLog.clear();
}

void TestGrayscaleGrid::defaultGrid_wholeChunk_hasSizeKeysAnd104CellsOf255()
{
    const QJsonObject chunk = parse(defaultGrid().getJSONString());
    QCOMPARE(chunk.size(), 4 + 8 * 13);
    QCOMPARE(chunk.value("numRows"), QJsonValue(8));
    QCOMPARE(chunk.value("numColumns"), QJsonValue(13));
    QCOMPARE(chunk.value("startRow"), QJsonValue(0));
    QCOMPARE(chunk.value("endRow"), QJsonValue(8));
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 13; ++column) {
            const QString key = QStringLiteral("r%1c%2").arg(row).arg(column);
            QVERIFY2(chunk.value(key) == QJsonValue(255), qPrintable(key));
        }
    }
    QVERIFY(chunk.contains("r0c12"));
    QVERIFY(!chunk.contains("r0c012"));
}

void TestGrayscaleGrid::wholeGrid_readIntoEmptyGrid_writesSameText()
{
    const GrayscaleGrid original = patternedGrid(8, 13);
    const QString text = original.getJSONString();
    QVERIFY(!text.contains(QLatin1Char(' '))); // compact

    GrayscaleGrid copy;
    copy.setFromJSONString(text);
    QVERIFY(sameCells(copy, original));
    QCOMPARE(copy.getJSONString(), text);
}

void TestGrayscaleGrid::chunks_eightRowGrid_giveRows0to3_3to6_6to8()
{
    const QStringList chunks = defaultGrid().getJSONChunks();
    QCOMPARE(chunks.size(), 3);
    const QVector<QPair<int, int>> expectedRanges = {{0, 3}, {3, 6}, {6, 8}};
    for (int index = 0; index < chunks.size(); ++index) {
        const QJsonObject chunk = parse(chunks.at(index));
        QCOMPARE(chunk.value("startRow").toInt(), expectedRanges.at(index).first);
        QCOMPARE(chunk.value("endRow").toInt(), expectedRanges.at(index).second);
        const int rows = expectedRanges.at(index).second - expectedRanges.at(index).first;
        QCOMPARE(chunk.size(), 4 + rows * 13);
        QCOMPARE(chunk.value("numRows").toInt(), 8);
    }
}

void TestGrayscaleGrid::chunks_together_rebuildTheGrid_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("expectedChunks");
    QTest::newRow("no rows") << 0 << 13 << 0;
    QTest::newRow("1 row") << 1 << 13 << 1;
    QTest::newRow("3 rows") << 3 << 5 << 1;
    QTest::newRow("4 rows") << 4 << 5 << 2;
    QTest::newRow("8 x 13") << 8 << 13 << 3;
    QTest::newRow("9 rows") << 9 << 2 << 3;
}

void TestGrayscaleGrid::chunks_together_rebuildTheGrid()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(int, expectedChunks);
    const GrayscaleGrid original = patternedGrid(rows, columns);
    const QStringList chunks = original.getJSONChunks();
    QCOMPARE(chunks.size(), expectedChunks);

    GrayscaleGrid receiver = defaultGrid();
    receiver.setValue(0, 0, 7);
    for (const QString &chunk : chunks)
        receiver.setFromJSONString(chunk);
    if (rows > 0)
        QVERIFY(sameCells(receiver, original));
}

void TestGrayscaleGrid::getJSONString_rangeOutsideGrid_isClamped()
{
    const QJsonObject chunk = parse(defaultGrid().getJSONString(-5, 100));
    QCOMPARE(chunk.value("startRow").toInt(), 0);
    QCOMPARE(chunk.value("endRow").toInt(), 8);
    QCOMPARE(chunk.size(), 4 + 8 * 13);
    QCOMPARE(logLinesContaining("ERROR"), 0);
}

void TestGrayscaleGrid::mergeRows3to6_sameSize_changesOnlyThoseRows()
{
    const GrayscaleGrid sender = patternedGrid(8, 13);
    GrayscaleGrid receiver = defaultGrid();
    receiver.setFromJSONString(sender.getJSONString(3, 6));

    QCOMPARE(receiver.getNumRows(), 8);
    QCOMPARE(receiver.getNumColumns(), 13);
    const QVector<int> untouched(13, 255);
    for (int row = 0; row < 8; ++row) {
        if (row >= 3 && row < 6)
            QCOMPARE(rowOf(receiver, row), rowOf(sender, row));
        else
            QCOMPARE(rowOf(receiver, row), untouched);
    }
}

void TestGrayscaleGrid::mergeChunkOfNewSize_resetsAllCellsTo255First()
{
    GrayscaleGrid receiver = patternedGrid(8, 13);
    const GrayscaleGrid sender = patternedGrid(10, 13);
    receiver.setFromJSONString(sender.getJSONString(0, 3));

    QCOMPARE(receiver.getNumRows(), 10);
    QCOMPARE(receiver.getNumColumns(), 13);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(rowOf(receiver, row), rowOf(sender, row));
    for (int row = 3; row < 10; ++row)
        QCOMPARE(rowOf(receiver, row), QVector<int>(13, 255));
}

void TestGrayscaleGrid::cellAsStringOrNumber_giveSameLevel_data()
{
    QTest::addColumn<QString>("cellJson");
    QTest::addColumn<int>("expectedLevel");
    QTest::newRow("number 128") << QStringLiteral("128") << 128;
    QTest::newRow("string \"128\"") << QStringLiteral("\"128\"") << 128;
    QTest::newRow("number 128.0") << QStringLiteral("128.0") << 128;
    QTest::newRow("string not a number") << QStringLiteral("\"dark\"") << 0;
    QTest::newRow("string hexadecimal") << QStringLiteral("\"0x80\"") << 0;
    QTest::newRow("boolean") << QStringLiteral("true") << 0;
    QTest::newRow("null") << QStringLiteral("null") << 0;
    QTest::newRow("object") << QStringLiteral("{\"v\":128}") << 0;
}

void TestGrayscaleGrid::cellAsStringOrNumber_giveSameLevel()
{
    QFETCH(QString, cellJson);
    QFETCH(int, expectedLevel);
    GrayscaleGrid grid;
    grid.setNumRowsAndColumns(1, 1);
    grid.setFromJSONString(
        QStringLiteral("{\"numRows\":1,\"numColumns\":1,\"startRow\":0,\"endRow\":1,\"r0c0\":%1}")
            .arg(cellJson));
    QCOMPARE(grid.getValue(0, 0), expectedLevel);
}

void TestGrayscaleGrid::missingCellKey_inCoveredRow_becomesZero()
{
    QJsonObject chunk = parse(patternedGrid(8, 13).getJSONString(3, 6));
    chunk.remove("r4c7");
    GrayscaleGrid grid = defaultGrid();
    grid.setFromJSONString(toText(chunk));
    QCOMPARE(grid.getValue(4, 7), 0);
    QCOMPARE(grid.getValue(4, 6), 4 * 16 + 6);
    QCOMPARE(grid.getValue(2, 7), 255); // row not covered
}

void TestGrayscaleGrid::startRowEqualsEndRow_changesNoCellButResizes()
{
    GrayscaleGrid grid = patternedGrid(8, 13);
    grid.setFromJSONString(sizedChunk(8, 13, 4, 4));
    QVERIFY(sameCells(grid, patternedGrid(8, 13)));

    grid.setFromJSONString(sizedChunk(5, 6, 2, 2));
    QCOMPARE(grid.getNumRows(), 5);
    QCOMPARE(grid.getNumColumns(), 6);
    QCOMPARE(rowOf(grid, 2), QVector<int>(6, 255));
}

void TestGrayscaleGrid::notAnObject_leavesGridAsItWas_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expectedLog");
    QTest::newRow("not JSON") << QStringLiteral("numRows=8") << QStringLiteral("doc is null");
    QTest::newRow("empty") << QString() << QStringLiteral("doc is null");
    QTest::newRow("truncated chunk") << defaultGrid().getJSONString().left(40)
                                     << QStringLiteral("doc is null");
    QTest::newRow("array") << QStringLiteral("[8,13,0,8]")
                           << QStringLiteral("doc is not object");
    QTest::newRow("array of chunk") << QLatin1Char('[') + sizedChunk(2, 2, 0, 2) + QLatin1Char(']')
                                    << QStringLiteral("doc is not object");
}

void TestGrayscaleGrid::notAnObject_leavesGridAsItWas()
{
    QFETCH(QString, text);
    QFETCH(QString, expectedLog);
    GrayscaleGrid grid = patternedGrid(8, 13);
    capturedLog.clear();
    grid.setFromJSONString(text);
    QVERIFY(sameCells(grid, patternedGrid(8, 13)));
    QCOMPARE(logLinesContaining(QStringLiteral("ERROR. GrayscaleGrid::fromString")), 1);
    QCOMPARE(logLinesContaining(expectedLog), 1);
}

void TestGrayscaleGrid::levelsAreStoredAsReceived()
{
    GrayscaleGrid grid;
    grid.setFromJSONString(QStringLiteral(
        "{\"numRows\":1,\"numColumns\":2,\"startRow\":0,\"endRow\":1,\"r0c0\":-4,\"r0c1\":300}"));
    QCOMPARE(rowOf(grid, 0), QVector<int>({-4, 300}));
}

void TestGrayscaleGrid::hugeSize_isRefusedWithOneLine_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<QString>("expectedLog");
    QTest::newRow("65537 cells") << sizedChunk(65537, 1, 0, 1)
                                 << QStringLiteral("numRows: 65537 numColumns: 1");
    QTest::newRow("int max squared") << sizedChunk(2147483647, 2147483647, 0, 2147483647)
                                     << QStringLiteral("numRows: 2147483647 numColumns: 2147483647");
    QTest::newRow("many columns") << sizedChunk(3, 100000, 0, 3)
                                  << QStringLiteral("numRows: 3 numColumns: 100000");
}

void TestGrayscaleGrid::hugeSize_isRefusedWithOneLine()
{
    QFETCH(QString, chunk);
    QFETCH(QString, expectedLog);
    const GrayscaleGrid before = patternedGrid(8, 13);
    GrayscaleGrid grid = before;
    capturedLog.clear();
    QElapsedTimer timer;
    timer.start();
    grid.setFromJSONString(chunk);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(capturedLog.size(), 2); // the received text and the refusal
    QCOMPARE(logLinesContaining(QStringLiteral("ERROR. GrayscaleGrid::fromString. Grid too large. ")
                                + expectedLog),
             1);
    QVERIFY(sameCells(grid, before));
}

void TestGrayscaleGrid::largestAllowedGrid_isAccepted()
{
    GrayscaleGrid grid;
    grid.setFromJSONString(sizedChunk(256, 256, 0, 0));
    QCOMPARE(grid.getNumRows(), 256);
    QCOMPARE(grid.getNumColumns(), 256);
    QCOMPARE(grid.getValue(255, 255), 255);

    grid.setNumRowsAndColumns(65537, 1); // refused directly as well
    QCOMPARE(grid.getNumRows(), 256);
    QCOMPARE(logLinesContaining(QStringLiteral("Grid too large")), 1);
}

void TestGrayscaleGrid::negativeSizes_countAsZero()
{
    GrayscaleGrid grid = patternedGrid(2, 2);
    grid.setFromJSONString(sizedChunk(-3, -100000, 0, 2));
    QCOMPARE(grid.getNumRows(), 0);
    QCOMPARE(grid.getNumColumns(), 0);

    grid.setNumRowsAndColumns(-1, 5);
    QCOMPARE(grid.getNumRows(), 0);
    QCOMPARE(grid.getNumColumns(), 5);
    QCOMPARE(grid.getJSONChunks(), QStringList());
}

void TestGrayscaleGrid::rowsOutsideGrid_skippedWithOneLinePerChunk_data()
{
    QTest::addColumn<int>("startRow");
    QTest::addColumn<int>("endRow");
    QTest::addColumn<int>("expectedRowsWritten");
    QTest::newRow("end past grid") << 6 << 10 << 2;
    QTest::newRow("start before grid") << -2 << 1 << 1;
    QTest::newRow("all outside") << 100 << 200 << 0;
    QTest::newRow("whole int range") << -2147483647 - 1 << 2147483647 << 8;
}

void TestGrayscaleGrid::rowsOutsideGrid_skippedWithOneLinePerChunk()
{
    QFETCH(int, startRow);
    QFETCH(int, endRow);
    QFETCH(int, expectedRowsWritten);
    GrayscaleGrid grid = defaultGrid();
    capturedLog.clear();
    QElapsedTimer timer;
    timer.start();
    grid.setFromJSONString(sizedChunk(8, 13, startRow, endRow)); // no cell keys: cells become 0
    QVERIFY(timer.elapsed() < 1000);

    int zeroRows = 0;
    for (int row = 0; row < 8; ++row)
        zeroRows += rowOf(grid, row) == QVector<int>(13, 0) ? 1 : 0;
    QCOMPARE(zeroRows, expectedRowsWritten);
    QCOMPARE(logLinesContaining(QStringLiteral("Rows outside the grid skipped")), 1);
    QCOMPARE(logLinesContaining(QStringLiteral("ERROR")), 1);
}

void TestGrayscaleGrid::nonIntegralOrOutOfRangeNumbers_countAsZero_data()
{
    QTest::addColumn<QString>("number");
    QTest::newRow("fraction") << QStringLiteral("2.5");
    QTest::newRow("above int range") << QStringLiteral("2147483648");
    QTest::newRow("below int range") << QStringLiteral("-2147483649");
    QTest::newRow("huge") << QStringLiteral("1e300");
    QTest::newRow("string") << QStringLiteral("\"2\"");
}

void TestGrayscaleGrid::nonIntegralOrOutOfRangeNumbers_countAsZero()
{
    QFETCH(QString, number);
    // As a cell level.
    GrayscaleGrid grid;
    grid.setFromJSONString(QStringLiteral(
        "{\"numRows\":1,\"numColumns\":1,\"startRow\":0,\"endRow\":1,\"r0c0\":%1}").arg(number));
    if (!number.startsWith(QLatin1Char('"')))
        QCOMPARE(grid.getValue(0, 0), 0);

    // As the number of rows: 0 rows, so the grid is emptied, never enlarged.
    grid = defaultGrid();
    grid.setFromJSONString(
        QStringLiteral("{\"numRows\":%1,\"numColumns\":13,\"startRow\":0,\"endRow\":1}").arg(number));
    QCOMPARE(grid.getNumRows(), 0);
    QCOMPARE(grid.getNumColumns(), 13);
}

void TestGrayscaleGrid::badIndex_getValueGivesMinusOne_andLogs_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expectedLog");
    QTest::newRow("row -1") << -1 << 0
                            << QStringLiteral("ERROR. GrayscaleGrid getValue(). row > numRows. "
                                              "row: -1 numRows: 8");
    QTest::newRow("row 8") << 8 << 0
                           << QStringLiteral("ERROR. GrayscaleGrid getValue(). row > numRows. "
                                             "row: 8 numRows: 8");
    QTest::newRow("column -1") << 0 << -1
                               << QStringLiteral("ERROR. GrayscaleGrid getValue(). col > "
                                                 "numColumns. col: -1 numColumns: 13");
    QTest::newRow("column 13") << 7 << 13
                               << QStringLiteral("ERROR. GrayscaleGrid getValue(). col > "
                                                 "numColumns. col: 13 numColumns: 13");
    QTest::newRow("both bad, row reported") << 9 << 99
                                            << QStringLiteral("ERROR. GrayscaleGrid getValue(). "
                                                              "row > numRows. row: 9 numRows: 8");
}

void TestGrayscaleGrid::badIndex_getValueGivesMinusOne_andLogs()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expectedLog);
    const GrayscaleGrid grid = defaultGrid();
    QCOMPARE(grid.getValue(row, column), -1);
    QCOMPARE(capturedLog, QStringList({expectedLog}));
}

void TestGrayscaleGrid::badIndex_setValueStoresNothing_andLogs_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expectedLog");
    QTest::newRow("row -1") << -1 << 0
                            << QStringLiteral("ERROR. GrayscaleGrid setValue(). row > numRows. "
                                              "row: -1 numRows: 8");
    QTest::newRow("column 13") << 0 << 13
                               << QStringLiteral("ERROR. GrayscaleGrid setValue(). col > "
                                                 "numColumns. col: 13 numColumns: 13");
}

void TestGrayscaleGrid::badIndex_setValueStoresNothing_andLogs()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expectedLog);
    GrayscaleGrid grid = defaultGrid();
    capturedLog.clear();
    grid.setValue(row, column, 17);
    QVERIFY(sameCells(grid, defaultGrid()));
    QCOMPARE(capturedLog.first(), expectedLog);
}

void TestGrayscaleGrid::setNumRowsAndColumns_discardsValues()
{
    GrayscaleGrid grid = patternedGrid(8, 13);
    grid.setNumRowsAndColumns(8, 13);
    QVERIFY(sameCells(grid, defaultGrid()));
}

void TestGrayscaleGrid::valueFromPercent_addressesWholeGrid_data()
{
    QTest::addColumn<double>("rowFraction");
    QTest::addColumn<double>("columnFraction");
    QTest::addColumn<int>("expected");
    // Levels are row * 16 + column in an 8 x 13 grid.
    QTest::newRow("origin") << 0.0 << 0.0 << 0;
    QTest::newRow("last cell only at exactly 1") << 1.0 << 1.0 << 7 * 16 + 12;
    QTest::newRow("just below 1 truncates") << 0.999 << 0.999 << 6 * 16 + 11;
    QTest::newRow("middle") << 0.5 << 0.5 << 3 * 16 + 6;
    QTest::newRow("beyond the grid") << 2.0 << 0.0 << -1;
    QTest::newRow("not a number") << qQNaN() << 0.0 << -1;
    QTest::newRow("infinite") << 0.0 << qInf() << -1;
}

void TestGrayscaleGrid::valueFromPercent_addressesWholeGrid()
{
    QFETCH(double, rowFraction);
    QFETCH(double, columnFraction);
    QFETCH(int, expected);
    QCOMPARE(patternedGrid(8, 13).getValueFromPercent(rowFraction, columnFraction), expected);
}

QTEST_GUILESS_MAIN(TestGrayscaleGrid)
#include "tst_grayscalegrid.moc"
