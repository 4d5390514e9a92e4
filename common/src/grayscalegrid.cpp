#include "grayscalegrid.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString cellKey(int row, int column)
{
    return QLatin1Char('r') + QString::number(row) + QLatin1Char('c') + QString::number(column);
}

// Integral doubles within the int range convert; anything else gives
// `fallback`. Casting an out-of-range double to int is undefined, and JSON
// from the network may carry any number.
int doubleToInt(double value, int fallback)
{
    if (!std::isfinite(value) || value != std::trunc(value) || value < std::numeric_limits<int>::min()
        || value > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(value);
}

// A JSON number read as an integer: 0 when missing, not a number, not
// integral or out of range.
int jsonInt(const QJsonValue &value)
{
    return value.isDouble() ? doubleToInt(value.toDouble(), 0) : 0;
}

// A cell level: a JSON string is read as a decimal integer, anything else as
// a JSON integer; 0 when it does not convert.
int jsonLevel(const QJsonValue &value)
{
    if (value.isString())
        return value.toString().toInt(nullptr, 10);
    return jsonInt(value);
}

// A side longer than the cell limit is refused even when the other side is 0:
// the rows are built from one prototype row, which would be allocated anyway.
bool isTooLarge(int rows, int columns)
{
    return rows > GrayscaleGrid::maxCells || columns > GrayscaleGrid::maxCells
        || static_cast<qint64>(rows) * columns > GrayscaleGrid::maxCells;
}

} // namespace

int GrayscaleGrid::getNumRows() const
{
    return numRows;
}

int GrayscaleGrid::getNumColumns() const
{
    return numColumns;
}

void GrayscaleGrid::setNumRowsAndColumns(int rows, int columns)
{
    rows = std::max(rows, 0);
    columns = std::max(columns, 0);
    if (isTooLarge(rows, columns)) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::setNumRowsAndColumns. Grid too "
                                             "large. numRows: %1 numColumns: %2")
                                  .arg(rows)
                                  .arg(columns);
        return;
    }
    numRows = rows;
    numColumns = columns;
    values = QVector<QVector<int>>(numRows, QVector<int>(numColumns, freshLevel));
}

void GrayscaleGrid::setValue(int row, int column, int value)
{
    if (row < 0 || row >= numRows) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid setValue(). row > numRows. row: ")
                + QString::number(row) + QStringLiteral(" numRows: ") + QString::number(numRows);
        return;
    }
    if (column < 0 || column >= numColumns) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid setValue(). col > numColumns. col: ")
                + QString::number(column) + QStringLiteral(" numColumns: ") + QString::number(numColumns);
        return;
    }
    values[row][column] = value;
    qDebug().noquote() << QStringLiteral("GrayscaleGrid::setValue: ") + QString::number(value);
}

int GrayscaleGrid::getValue(int row, int column) const
{
    if (row < 0 || row >= numRows) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid getValue(). row > numRows. row: ")
                + QString::number(row) + QStringLiteral(" numRows: ") + QString::number(numRows);
        return -1;
    }
    if (column < 0 || column >= numColumns) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid getValue(). col > numColumns. col: ")
                + QString::number(column) + QStringLiteral(" numColumns: ") + QString::number(numColumns);
        return -1;
    }
    return values.at(row).at(column);
}

int GrayscaleGrid::getValueFromPercent(double rowFraction, double columnFraction) const
{
    // Truncation toward zero; a fraction giving no valid int index (NaN,
    // huge) is a bad index.
    const int row = doubleToInt(std::trunc((numRows - 1) * rowFraction), -1);
    const int column = doubleToInt(std::trunc((numColumns - 1) * columnFraction), -1);
    return getValue(row, column);
}

QString GrayscaleGrid::getJSONString(int startRow, int endRow) const
{
    startRow = std::clamp(startRow, 0, numRows);
    endRow = std::clamp(endRow, startRow, numRows);

    // Written by hand rather than through QJsonObject: the keys and values are
    // plain ASCII integers, and the text is linear in the number of cells.
    QString text = QStringLiteral("{\"numRows\":%1,\"numColumns\":%2,\"startRow\":%3,\"endRow\":%4")
                       .arg(numRows)
                       .arg(numColumns)
                       .arg(startRow)
                       .arg(endRow);
    for (int row = startRow; row < endRow; ++row) {
        for (int column = 0; column < numColumns; ++column) {
            text += QStringLiteral(",\"") + cellKey(row, column) + QStringLiteral("\":")
                + QString::number(values.at(row).at(column));
        }
    }
    text += QLatin1Char('}');
    return text;
}

QString GrayscaleGrid::getJSONString() const
{
    return getJSONString(0, numRows);
}

QStringList GrayscaleGrid::getJSONChunks() const
{
    QStringList chunks;
    for (int start = 0; start < numRows; start += rowsPerChunk)
        chunks << getJSONString(start, std::min(start + rowsPerChunk, numRows));
    return chunks;
}

void GrayscaleGrid::setFromJSONString(const QString &text)
{
    qDebug().noquote() << QStringLiteral("GrayscaleGrid::setFromJSONString. jsonString: \"") + text + QLatin1Char('"');

    // A chunk is one flat object of numbers: nested arrays or objects are refused before
    // parsing (the JSON parser leaks on some of them, and a desktop could repeat them).
    if (text.contains(QLatin1Char('[')) || text.count(QLatin1Char('{')) > 1) {
        if (text.trimmed().startsWith(QLatin1Char('{')))
            qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::fromString. Not a flat object");
        else
            qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::fromString doc is not object");
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (doc.isNull()) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::fromString. doc is null");
        return;
    }
    if (!doc.isObject()) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::fromString doc is not object");
        return;
    }
    const QJsonObject chunk = doc.object();

    const int receivedRows = std::max(jsonInt(chunk.value(QLatin1String("numRows"))), 0);
    const int receivedColumns = std::max(jsonInt(chunk.value(QLatin1String("numColumns"))), 0);
    const int startRow = jsonInt(chunk.value(QLatin1String("startRow")));
    const int endRow = jsonInt(chunk.value(QLatin1String("endRow")));

    if (isTooLarge(receivedRows, receivedColumns)) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::fromString. Grid too large. numRows: %1 "
                                             "numColumns: %2")
                                  .arg(receivedRows)
                                  .arg(receivedColumns);
        return;
    }

    if (receivedRows != numRows || receivedColumns != numColumns)
        setNumRowsAndColumns(receivedRows, receivedColumns);

    if (startRow >= endRow)
        return;

    // Visit only rows that exist, and report the others once for the chunk
    // rather than once per cell.
    const int firstRow = std::clamp(startRow, 0, numRows);
    const int lastRow = std::clamp(endRow, firstRow, numRows);
    if (firstRow != startRow || lastRow != endRow) {
        qDebug().noquote() << QStringLiteral("ERROR. GrayscaleGrid::fromString. Rows outside the "
                                             "grid skipped. startRow: %1 endRow: %2 numRows: %3")
                                  .arg(startRow)
                                  .arg(endRow)
                                  .arg(numRows);
    }
    for (int row = firstRow; row < lastRow; ++row) {
        for (int column = 0; column < numColumns; ++column)
            setValue(row, column, jsonLevel(chunk.value(cellKey(row, column))));
    }
}
