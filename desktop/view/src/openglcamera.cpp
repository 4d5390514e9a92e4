#include "openglcamera.h"

#include <QDebug>
#include <QVector4D>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

// One preset step of a value: by `step` towards the goal, onto it once closer than a step.
double stepValue(double value, double goal, double step)
{
    if (std::abs(goal - value) < step)
        return goal;
    return value + (goal > value ? step : -step);
}

} // namespace

OpenGLCamera::Pose OpenGLCamera::presetPose(PresetView view)
{
    const QVector3D target(0.0f, 30.0f, 0.0f);
    switch (view) {
    case PresetView::Right:
        return {500.0, 0.0, 0.0, target};
    case PresetView::Left:
        return {500.0, 180.0, 0.0, target};
    case PresetView::Top:
        return {500.0, 270.0, 89.9999, target};
    case PresetView::Front:
        return {500.0, 270.0, 0.0, target};
    case PresetView::None:
    case PresetView::Home:
        break;
    }
    return {500.0, 300.0, 28.0, target};
}

OpenGLCamera::OpenGLCamera()
{
    setPose(presetPose(PresetView::Home));
}

void OpenGLCamera::setPose(const Pose &pose)
{
    m_distance = pose.distance;
    m_azimuth = pose.azimuth;
    m_elevation = pose.elevation;
    m_target = pose.target;
}

double OpenGLCamera::aspectRatio() const
{
    if (m_viewport.width() <= 0.0 || m_viewport.height() <= 0.0)
        return 1.0;
    return m_viewport.width() / m_viewport.height();
}

QVector3D OpenGLCamera::eyePosition() const
{
    const double azimuth = qDegreesToRadians(m_azimuth);
    const double elevation = qDegreesToRadians(m_elevation);
    const QVector3D offset(float(std::cos(elevation) * std::cos(azimuth) * m_distance),
        float(std::sin(elevation) * m_distance), float(-std::cos(elevation) * std::sin(azimuth) * m_distance));
    return m_target + offset;
}

QVector3D OpenGLCamera::sideVector() const
{
    const double azimuth = qDegreesToRadians(m_azimuth);
    const double elevation = qDegreesToRadians(m_elevation);
    const QVector3D forward(float(-std::cos(elevation) * std::cos(azimuth)), float(-std::sin(elevation)),
        float(std::cos(elevation) * std::sin(azimuth)));
    return QVector3D::crossProduct(upVector(), forward).normalized();
}

QVector3D OpenGLCamera::upVector() const
{
    // The world's vertical made square to the view direction (the eye position's change
    // with the elevation), worked out from the angles so that it stays exact when the
    // camera looks straight down.
    const double azimuth = qDegreesToRadians(m_azimuth);
    const double elevation = qDegreesToRadians(m_elevation);
    return QVector3D(float(-std::sin(elevation) * std::cos(azimuth)), float(std::cos(elevation)),
        float(std::sin(elevation) * std::sin(azimuth)));
}

QMatrix4x4 OpenGLCamera::viewMatrix() const
{
    QMatrix4x4 view;
    view.lookAt(eyePosition(), m_target, upVector());
    return view;
}

QMatrix4x4 OpenGLCamera::projectionMatrix() const
{
    QMatrix4x4 projection;
    const double aspect = aspectRatio();
    if (m_projection == Projection::Perspective) {
        projection.perspective(float(kFieldOfView), float(aspect), float(kNearPlane), float(kFarPlane));
        return projection;
    }
    // distance / 6 across the shorter side of the item, in proportion across the longer.
    const double shorter = m_distance * kOrthographicScale;
    const double halfWidth = aspect >= 1.0 ? shorter * aspect : shorter;
    const double halfHeight = aspect >= 1.0 ? shorter : shorter / aspect;
    projection.ortho(float(-halfWidth), float(halfWidth), float(-halfHeight), float(halfHeight), float(kNearPlane),
        float(kFarPlane));
    return projection;
}

void OpenGLCamera::zoom(double amount)
{
    m_distance = std::clamp(m_distance + amount, kMinimumDistance, kMaximumDistance);
}

void OpenGLCamera::placeRotationAnchor()
{
    m_anchorAzimuth = m_azimuth;
    m_anchorElevation = m_elevation;
    m_rotationAnchorPlaced = true;
}

void OpenGLCamera::releaseRotationAnchor()
{
    m_rotationAnchorPlaced = false;
}

bool OpenGLCamera::rotateRelativeToAnchor(double azimuthChange, double elevationChange)
{
    if (!m_rotationAnchorPlaced) {
        qDebug().noquote() << "NOTICE OpenGLCamera::rotateRelativeToAnchor. rotationAnchorIsPlaced == false";
        return false;
    }
    double azimuth = m_anchorAzimuth + azimuthChange;
    if (azimuth > 360.0)
        azimuth -= 360.0;
    else if (azimuth < 0.0)
        azimuth += 360.0;
    m_azimuth = azimuth;
    m_elevation = std::clamp(m_anchorElevation + elevationChange, -kMaximumElevation, kMaximumElevation);
    return true;
}

void OpenGLCamera::placePanningAnchor()
{
    m_anchorTarget = m_target;
    m_panningAnchorPlaced = true;
}

void OpenGLCamera::releasePanningAnchor()
{
    m_panningAnchorPlaced = false;
}

bool OpenGLCamera::panRelativeToAnchor(double sideAmount, double upAmount)
{
    if (!m_panningAnchorPlaced) {
        qDebug().noquote() << "NOTICE OpenGLCamera::panRelativeToAnchor. panningAnchorIsPlaced == false";
        return false;
    }
    m_target = m_anchorTarget - float(sideAmount) * sideVector() + float(upAmount) * upVector();
    return true;
}

bool OpenGLCamera::stepTowards(PresetView view)
{
    const Pose goal = presetPose(view);
    m_distance = stepValue(m_distance, goal.distance, kPresetDistanceStep);
    m_azimuth = stepValue(m_azimuth, goal.azimuth, kPresetAngleStep);
    m_elevation = stepValue(m_elevation, goal.elevation, kPresetAngleStep);
    for (int axis = 0; axis < 3; ++axis)
        m_target[axis] = float(stepValue(m_target[axis], goal.target[axis], kPresetTargetStep));
    const auto arrived = [](float value, float wanted) {
        return std::abs(value - wanted) <= 1e-5f * std::max({1.0f, std::abs(value), std::abs(wanted)});
    };
    m_movementDone = m_distance == goal.distance && m_azimuth == goal.azimuth && m_elevation == goal.elevation
        && arrived(m_target.x(), goal.target.x()) && arrived(m_target.y(), goal.target.y())
        && arrived(m_target.z(), goal.target.z());
    return m_movementDone;
}

SceneRay OpenGLCamera::rayThroughPixel(const QPointF &pixel) const
{
    // Worked out from the camera's axes rather than by inverting the projection, which
    // loses precision over a depth range of 0.5 to 2000.
    const double width = m_viewport.width() > 0.0 ? m_viewport.width() : 1.0;
    const double height = m_viewport.height() > 0.0 ? m_viewport.height() : 1.0;
    const double x = 2.0 * pixel.x() / width - 1.0;
    const double y = 1.0 - 2.0 * pixel.y() / height;
    const QVector3D eye = eyePosition();
    const QVector3D up = upVector();
    const QVector3D right = -sideVector();
    const QVector3D forward = QVector3D::crossProduct(up, right).normalized();
    const double aspect = aspectRatio();
    if (m_projection == Projection::Perspective) {
        const double halfHeight = std::tan(qDegreesToRadians(kFieldOfView) / 2.0);
        const QVector3D direction = forward + float(x * halfHeight * aspect) * right + float(y * halfHeight) * up;
        return {eye, direction * float(kFarPlane)};
    }
    const double shorter = m_distance * kOrthographicScale;
    const double halfWidth = aspect >= 1.0 ? shorter * aspect : shorter;
    const double halfHeight = aspect >= 1.0 ? shorter : shorter / aspect;
    const QVector3D origin
        = eye + float(kNearPlane) * forward + float(x * halfWidth) * right + float(y * halfHeight) * up;
    return {origin, forward * float(kFarPlane - kNearPlane)};
}

std::optional<QPointF> OpenGLCamera::projectToPixel(const QVector3D &scenePoint) const
{
    const QVector4D clip = projectionMatrix() * viewMatrix() * QVector4D(scenePoint, 1.0f);
    if (clip.w() <= 0.0f)
        return std::nullopt;
    const QVector3D ndc = clip.toVector3DAffine();
    return QPointF((ndc.x() + 1.0) / 2.0 * m_viewport.width(), (1.0 - ndc.y()) / 2.0 * m_viewport.height());
}
