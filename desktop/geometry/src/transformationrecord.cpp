#include "transformationrecord.h"

#include <utility>

std::pair<int, float> TransformationRecord::turn() const
{
    if (!rotation)
        return {-1, 0.0f};
    for (int axis = 0; axis < 3; ++axis) {
        if ((*rotation)[axis] != 0.0f)
            return {axis, (*rotation)[axis]};
    }
    return {-1, 0.0f};
}

bool TransformationRecord::changesShape() const
{
    return turn().first >= 0 || resetRotation || scale.has_value() || removeSupports;
}

void applyTransformation(UserImportedMesh &mesh, const TransformationRecord &record)
{
    if (record.position)
        mesh.setPosition(*record.position);
    const std::pair<int, float> turn = record.turn();
    if (turn.first >= 0)
        mesh.rotate(turn.first, turn.second);
    if (record.resetRotation)
        mesh.resetRotation();
    if (record.scale)
        mesh.setUniformScale(*record.scale);
    if (record.removeSupports)
        mesh.removeSupports();
    if (record.changesShape())
        mesh.placeOnPlatform();
}

struct TransformationHistory::Step {
    std::weak_ptr<UserImportedMesh> mesh;
    TransformationRecord record;
    QVector3D position;
    QQuaternion rotation;
    QVector3D scale;
    std::unique_ptr<UserImportedMeshSupports> removedSupports;
};

TransformationHistory::TransformationHistory() = default;

TransformationHistory::~TransformationHistory() = default;

void TransformationHistory::run(Step &step, UserImportedMesh &mesh)
{
    step.position = mesh.position();
    step.rotation = mesh.rotation();
    step.scale = mesh.scale();
    // Supports removed by the step are kept for its undo.
    if (step.record.removeSupports && mesh.hasSupports())
        step.removedSupports = mesh.detachSupports();
    applyTransformation(mesh, step.record);
}

void TransformationHistory::revert(Step &step, UserImportedMesh &mesh)
{
    if (step.removedSupports)
        mesh.attachSupports(std::move(step.removedSupports));
    mesh.setScale(step.scale);
    mesh.setRotation(step.rotation);
    mesh.setPosition(step.position);
}

void TransformationHistory::apply(const std::shared_ptr<UserImportedMesh> &mesh, const TransformationRecord &record)
{
    if (!mesh)
        return;
    m_steps.resize(m_next);
    auto step = std::make_unique<Step>();
    step->mesh = mesh;
    step->record = record;
    run(*step, *mesh);
    m_steps.push_back(std::move(step));
    if (m_steps.size() > size_t(kMaxSteps))
        m_steps.erase(m_steps.begin());
    m_next = m_steps.size();
}

std::shared_ptr<UserImportedMesh> TransformationHistory::liveMesh(const Step &step, const PresenceTest &present)
{
    std::shared_ptr<UserImportedMesh> mesh = step.mesh.lock();
    if (mesh && present && !present(*mesh))
        mesh.reset();
    return mesh;
}

bool TransformationHistory::undo(const PresenceTest &present)
{
    while (m_next > 0) {
        Step &step = *m_steps[--m_next];
        if (const std::shared_ptr<UserImportedMesh> mesh = liveMesh(step, present)) {
            revert(step, *mesh);
            return true;
        }
    }
    return false;
}

bool TransformationHistory::redo(const PresenceTest &present)
{
    while (m_next < m_steps.size()) {
        Step &step = *m_steps[m_next++];
        if (const std::shared_ptr<UserImportedMesh> mesh = liveMesh(step, present)) {
            run(step, *mesh);
            return true;
        }
    }
    return false;
}

bool TransformationHistory::canUndo(const PresenceTest &present) const
{
    for (size_t i = m_next; i > 0; --i) {
        if (liveMesh(*m_steps[i - 1], present))
            return true;
    }
    return false;
}

bool TransformationHistory::canRedo(const PresenceTest &present) const
{
    for (size_t i = m_next; i < m_steps.size(); ++i) {
        if (liveMesh(*m_steps[i], present))
            return true;
    }
    return false;
}

void TransformationHistory::clear()
{
    m_steps.clear();
    m_next = 0;
}
