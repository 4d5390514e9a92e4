#include "samplelayers.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace SampleLayers {

QImage layer(int index, int count, bool antiAliased)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, antiAliased);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);

    const double t = count > 1 ? double(index) / (count - 1) : 0.0;

    // A tube: outer and inner wall.
    QPainterPath tube;
    tube.addEllipse(QPointF(330, 400), 170, 170);
    tube.addEllipse(QPointF(330, 400), 140, 140);
    painter.drawPath(tube);

    // A cone narrowing with the height.
    const double radius = 120.0 * (1.0 - 0.85 * t) + 4.0;
    painter.drawEllipse(QPointF(700, 250), radius, radius);

    // A plate with three holes over the lower third of the part.
    if (t < 0.35) {
        QPainterPath plate;
        plate.addRoundedRect(QRectF(600, 450, 420, 240), 24, 24);
        for (int hole = 0; hole < 3; ++hole)
            plate.addEllipse(QPointF(680 + hole * 130, 570), 35, 35);
        painter.drawPath(plate);
    }

    // Thin pins, swaying slightly.
    for (int pin = 0; pin < 6; ++pin) {
        const double x = 1100 + 30 * std::sin(t * 3.0 + pin);
        painter.drawEllipse(QPointF(x, 120 + pin * 100), 6, 6);
    }
    painter.end();
    return image;
}

} // namespace SampleLayers
