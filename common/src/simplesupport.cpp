#include "simplesupport.h"

#include "boundedstream.h"

#include <QDataStream>
#include <QPainter>
#include <QPolygonF>

SimpleSupport::SimpleSupport(int x_, int y_, SupportType type_, int size_, int bottom_, int top_)
    : x(x_)
    , y(y_)
    , type(type_)
    , size(size_)
    , bottom(bottom_)
    , top(top_)
{
}

void SimpleSupport::draw(QImage *image) const
{
    if (!image || image->isNull())
        return;
    // Positions and sizes come from the file: a mark wholly outside the image is not drawn,
    // so no coordinate below overflows.
    const qint64 reach = qint64(size) / 2 + 1;
    if (size < 0 || qint64(x) + reach < 0 || qint64(y) + reach < 0 || qint64(x) - reach > image->width()
        || qint64(y) - reach > image->height() || size > 4 * qMax(image->width(), image->height()))
        return;
    const int half = size / 2;
    const float r = float(size / 1.73205081);
    const qreal cx = x;
    const qreal cy = y;

    QPainter painter(image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    switch (type) {
    case SupportCircle:
        painter.drawEllipse(QRect(x - half, y - half, size, size));
        break;
    case SupportSquare:
        painter.fillRect(QRect(x - half, y - half, size, size), Qt::white);
        break;
    case SupportTriangle:
        painter.drawPolygon(
            QPolygonF({QPointF(cx, cy - half), QPointF(cx + r, cy + half), QPointF(cx - r, cy + half)}));
        break;
    case SupportDiamond:
        painter.drawPolygon(
            QPolygonF({QPointF(cx, cy - half), QPointF(cx + r, cy), QPointF(cx, cy + half), QPointF(cx - r, cy)}));
        break;
    default:
        break;
    }
}

QImage SimpleSupport::getCursorImage() const
{
    QImage cursor(32, 32, QImage::Format_ARGB32);
    cursor.fill(Qt::transparent);
    SimpleSupport centred = *this;
    centred.x = 16;
    centred.y = 16;
    centred.draw(&cursor);
    return cursor;
}

void SimpleSupport::streamOutSupport(QDataStream *out) const
{
    if (out)
        *out << x << y << type << size << bottom << top;
}

bool SimpleSupport::streamInSupport(QDataStream *in)
{
    return in && BoundedStream::readInt32(*in, x) && BoundedStream::readInt32(*in, y)
        && BoundedStream::readInt32(*in, type) && BoundedStream::readInt32(*in, size)
        && BoundedStream::readInt32(*in, bottom) && BoundedStream::readInt32(*in, top);
}
