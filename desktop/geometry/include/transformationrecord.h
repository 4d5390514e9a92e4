#pragma once

#include "userimportedmesh.h"

#include <QQuaternion>
#include <QVector3D>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// One edit of a model's placement, as the editor applies it and as undo and redo replay
// it. Every part is optional; the parts apply in the order of the fields.
struct TransformationRecord {
    std::optional<QVector3D> position;
    // Degrees about x, y and z. Only the first non-zero angle (x before y before z) is
    // turned; all three zero turn nothing.
    std::optional<QVector3D> rotation;
    bool resetRotation = false;
    // Uniform scale of the mesh (unit scale included).
    std::optional<float> scale;
    bool removeSupports = false;

    // The axis (0 x, 1 y, 2 z) and angle the rotation part turns by; axis -1 for none.
    std::pair<int, float> turn() const;
    // Whether applying the record turns, rescales or strips the model, after which it is
    // set back on the platform.
    bool changesShape() const;
};

// Applies the record to the model; a model that was turned, rescaled or stripped of its
// supports is set back on the platform afterwards.
void applyTransformation(UserImportedMesh &mesh, const TransformationRecord &record);

// Undo and redo of the editor's steps. A transformation step remembers the placement
// before it (position, rotation, scale) and, when it removed supports, the supports
// themselves, so undo restores them whole; redo applies the record again. Other steps
// (support edits, models added to or taken from the scene) are recorded done, with how to
// take them back and how to do them again. Steps of models deleted since (destroyed, or
// not present by the caller's test) are passed over. New steps drop the steps that could
// be redone; the oldest steps go beyond kMaxSteps, or beyond kMaxSupportSteps steps that
// keep a whole support structure (each holds a copy of the engine's model and columns).
class TransformationHistory
{
public:
    static constexpr int kMaxSteps = 100;
    static constexpr int kMaxSupportSteps = 20;

    TransformationHistory();
    ~TransformationHistory();
    TransformationHistory(const TransformationHistory &) = delete;
    TransformationHistory &operator=(const TransformationHistory &) = delete;

    // Tells whether a model is still in the scene; without one every living model is.
    using PresenceTest = std::function<bool(const UserImportedMesh &mesh)>;
    using Action = std::function<void()>;
    // An edit of a model's supports, done in place; false when it changed nothing.
    using SupportEdit = std::function<bool(UserImportedMesh &mesh)>;

    void apply(const std::shared_ptr<UserImportedMesh> &mesh, const TransformationRecord &record);
    // A step already done. With a model, the step counts only while that model does.
    void record(Action undo, Action redo, const std::shared_ptr<UserImportedMesh> &mesh = {});
    // Runs the edit on the model's supports and, when it changed them, records the step:
    // undo and redo exchange the supports (and the model's position) before and after.
    bool editSupports(const std::shared_ptr<UserImportedMesh> &mesh, const SupportEdit &edit);
    // False when there was nothing (of a model still present) to undo or redo.
    bool undo(const PresenceTest &present = {});
    bool redo(const PresenceTest &present = {});
    bool canUndo(const PresenceTest &present = {}) const;
    bool canRedo(const PresenceTest &present = {}) const;
    void clear();
    int stepCount() const { return int(m_steps.size()); }

private:
    struct Step;
    static void run(Step &step, UserImportedMesh &mesh);
    static void revert(Step &step, UserImportedMesh &mesh);
    static std::shared_ptr<UserImportedMesh> liveMesh(const Step &step, const PresenceTest &present);
    static bool isLive(const Step &step, const PresenceTest &present);
    static std::unique_ptr<Step> recorded(Action undo, Action redo, const std::shared_ptr<UserImportedMesh> &mesh);
    void push(std::unique_ptr<Step> step);

    std::vector<std::unique_ptr<Step>> m_steps;
    size_t m_next = 0; // steps before this one are done
};
