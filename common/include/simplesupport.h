#pragma once

#include <QImage>
#include <QPoint>

class QDataStream;

enum SupportType : qint32 {
    SupportCircle = 0,
    SupportSquare = 1,
    SupportTriangle = 2,
    SupportDiamond = 3,
};

// A support marker drawn into layer images: a white shape of `size` pixels
// centred at (x, y), on every layer from `bottom` to `top`. Layer numbers count
// from the first stored layer of the job (absolute layer minus the leading
// blank layers), so a bottom of minus the leading blank count reaches the
// platform.
//
// Record in a file: six qint32, x, y, type, size, bottom, top.
class SimpleSupport
{
public:
    SimpleSupport() = default;
    SimpleSupport(int x, int y, SupportType type, int size, int bottom, int top);

    // Draws the shape filled white into the image.
    void draw(QImage *image) const;
    // The shape alone on a transparent 32 x 32 image, centred.
    QImage getCursorImage() const;

    void streamOutSupport(QDataStream *out) const;
    // False when the stream ends before the record does.
    bool streamInSupport(QDataStream *in);

    qint32 x = 0;
    qint32 y = 0;
    qint32 type = SupportCircle;
    qint32 size = 0;
    qint32 bottom = 0;
    qint32 top = 0;
};
