#pragma once

#include <QMatrix4x4>
#include <QPointF>
#include <QSizeF>
#include <QVector3D>

#include <optional>

// A ray in the scene: origin + t x direction, t >= 0.
struct SceneRay {
    QVector3D origin;
    QVector3D direction;
};

// The orbit camera of the 3D editor: it circles a target point at a distance, turned by
// an azimuth about the vertical axis and raised by an elevation above the platform plane.
// Plain math without OpenGL, so that the drawing and the tests share one camera.
//
// Terms used here:
//   azimuth, elevation - degrees; the eye lies at target + (cos(el) cos(az) d, sin(el) d,
//                        -cos(el) sin(az) d), so azimuth 270 looks from the front (+z) and
//                        elevation 90 from straight above;
//   anchor             - the camera as it stood when a rotation or a pan began (mouse
//                        press); drags move relative to it, so that a drag event carries
//                        the whole distance from the press, not a step;
//   item pixels        - positions in the editor item, x to the right and y downwards,
//                        (0, 0) in the top left corner;
//   preset view        - one of five fixed camera poses reached in animated steps.
class OpenGLCamera
{
public:
    enum class Projection { Orthographic, Perspective };
    enum class PresetView { None, Home, Right, Left, Top, Front };

    struct Pose {
        double distance = 0.0;
        double azimuth = 0.0;
        double elevation = 0.0;
        QVector3D target;
    };

    static constexpr double kNearPlane = 0.5;
    static constexpr double kFarPlane = 2000.0;
    static constexpr double kFieldOfView = 30.0; // degrees, perspective only
    static constexpr double kMinimumDistance = 120.0;
    static constexpr double kMaximumDistance = 1700.0;
    static constexpr double kOrthographicScale = 1.0 / 6.0;
    static constexpr double kMaximumElevation = 89.9;
    // What one unit of a request moves: wheel delta to distance, pixels to degrees and
    // to millimetres.
    static constexpr double kZoomPerWheelUnit = 0.3;
    static constexpr double kDegreesPerPixel = 0.5;
    static constexpr double kPanPerPixel = 0.2;
    // One step of a preset move.
    static constexpr double kPresetDistanceStep = 40.0;
    static constexpr double kPresetAngleStep = 4.0;
    static constexpr double kPresetTargetStep = 2.0;

    // The pose of a preset; None gives the home pose.
    static Pose presetPose(PresetView view);

    // Starts at the home view, orthographic.
    OpenGLCamera();

    double distance() const { return m_distance; }
    double azimuth() const { return m_azimuth; }
    double elevation() const { return m_elevation; }
    const QVector3D &target() const { return m_target; }
    Pose pose() const { return {m_distance, m_azimuth, m_elevation, m_target}; }
    void setPose(const Pose &pose);

    Projection projection() const { return m_projection; }
    void setProjection(Projection projection) { m_projection = projection; }

    // The size of the item the camera looks through, item pixels.
    const QSizeF &viewportSize() const { return m_viewport; }
    void setViewportSize(const QSizeF &size) { m_viewport = size; }
    // Width over height; 1 for an empty viewport.
    double aspectRatio() const;

    QVector3D eyePosition() const;
    // Unit vectors of the camera: its up (square to the view direction, never pointing
    // down) and the side vector normalise(up x forward), which points to the screen's left.
    QVector3D upVector() const;
    QVector3D sideVector() const;
    QMatrix4x4 viewMatrix() const;
    QMatrix4x4 projectionMatrix() const;

    // The request values the item records for each user action.
    static double zoomAmount(int wheelDelta) { return wheelDelta * kZoomPerWheelUnit; }
    static QPointF rotationAmount(int deltaX, int deltaY)
    {
        return QPointF(-deltaX * kDegreesPerPixel, deltaY * kDegreesPerPixel);
    }
    static QPointF panningAmount(int deltaX, int deltaY)
    {
        return QPointF(-deltaX * kPanPerPixel, deltaY * kPanPerPixel);
    }

    // Adds the amount to the distance, held to [kMinimumDistance, kMaximumDistance].
    void zoom(double amount);

    void placeRotationAnchor();
    void releaseRotationAnchor();
    bool isRotationAnchorPlaced() const { return m_rotationAnchorPlaced; }
    // Azimuth and elevation become the anchor's plus the changes (azimuth brought back
    // into [0, 360], elevation held to +-89.9). Without an anchor nothing changes and a
    // notice is logged; false then.
    bool rotateRelativeToAnchor(double azimuthChange, double elevationChange);

    void placePanningAnchor();
    void releasePanningAnchor();
    bool isPanningAnchorPlaced() const { return m_panningAnchorPlaced; }
    // The target becomes the anchor's target - sideAmount x side vector + upAmount x up
    // vector. Without an anchor nothing changes and a notice is logged; false then.
    bool panRelativeToAnchor(double sideAmount, double upAmount);

    // One step of the animated move to a preset view; true once every value has arrived.
    bool stepTowards(PresetView view);
    bool isMovementDone() const { return m_movementDone; }

    // The scene ray under a point of the item.
    SceneRay rayThroughPixel(const QPointF &pixel) const;
    // Where a scene point shows in the item; none behind the eye.
    std::optional<QPointF> projectToPixel(const QVector3D &scenePoint) const;

private:
    double m_distance;
    double m_azimuth;
    double m_elevation;
    QVector3D m_target;
    Projection m_projection = Projection::Orthographic;
    QSizeF m_viewport;

    double m_anchorAzimuth = 0.0;
    double m_anchorElevation = 0.0;
    bool m_rotationAnchorPlaced = false;
    QVector3D m_anchorTarget;
    bool m_panningAnchorPlaced = false;
    bool m_movementDone = false;
};
