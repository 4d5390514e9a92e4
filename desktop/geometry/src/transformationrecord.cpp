#include "transformationrecord.h"

#include <algorithm>
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
    bool forModel = true; // false: a step of the scene, live whatever models there are
    TransformationRecord record;
    QVector3D position;
    QQuaternion rotation;
    QVector3D scale;
    std::unique_ptr<UserImportedMeshSupports> removedSupports;
    // A step recorded done: taken back and done again by these.
    Action undoAction;
    Action redoAction;
    bool keepsSupports = false;
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

void TransformationHistory::push(std::unique_ptr<Step> step)
{
    m_steps.resize(m_next);
    m_steps.push_back(std::move(step));
    if (m_steps.size() > size_t(kMaxSteps))
        m_steps.erase(m_steps.begin());
    const auto keepsSupports = [](const std::unique_ptr<Step> &kept) { return kept->keepsSupports; };
    while (std::count_if(m_steps.begin(), m_steps.end(), keepsSupports) > kMaxSupportSteps)
        m_steps.erase(m_steps.begin());
    m_next = m_steps.size();
}

void TransformationHistory::apply(const std::shared_ptr<UserImportedMesh> &mesh, const TransformationRecord &record)
{
    if (!mesh)
        return;
    auto step = std::make_unique<Step>();
    step->mesh = mesh;
    step->record = record;
    run(*step, *mesh);
    step->keepsSupports = bool(step->removedSupports);
    push(std::move(step));
}

std::unique_ptr<TransformationHistory::Step> TransformationHistory::recorded(
    Action undo, Action redo, const std::shared_ptr<UserImportedMesh> &mesh)
{
    auto step = std::make_unique<Step>();
    step->mesh = mesh;
    step->forModel = bool(mesh);
    step->undoAction = std::move(undo);
    step->redoAction = std::move(redo);
    return step;
}

void TransformationHistory::record(Action undo, Action redo, const std::shared_ptr<UserImportedMesh> &mesh)
{
    push(recorded(std::move(undo), std::move(redo), mesh));
}

bool TransformationHistory::editSupports(const std::shared_ptr<UserImportedMesh> &mesh, const SupportEdit &edit)
{
    if (!mesh)
        return false;
    // The supports as they were, and where the model stood on them; the edit works on the
    // model's own supports, so that what it is handed (an anchor) stays valid.
    auto before = std::make_shared<std::unique_ptr<UserImportedMeshSupports>>(
        std::make_unique<UserImportedMeshSupports>(mesh->supports()));
    auto position = std::make_shared<QVector3D>(mesh->position());
    if (!edit(*mesh))
        return false;
    const std::weak_ptr<UserImportedMesh> weak = mesh;
    // Undo and redo alike exchange the kept supports and position with the model's.
    const Action exchange = [weak, before, position]() {
        const std::shared_ptr<UserImportedMesh> model = weak.lock();
        if (!model)
            return;
        std::unique_ptr<UserImportedMeshSupports> current = model->detachSupports();
        model->attachSupports(std::move(*before));
        *before = std::move(current);
        const QVector3D standing = model->position();
        model->setPosition(*position);
        *position = standing;
    };
    std::unique_ptr<Step> step = recorded(exchange, exchange, mesh);
    step->keepsSupports = true;
    push(std::move(step));
    return true;
}

std::shared_ptr<UserImportedMesh> TransformationHistory::liveMesh(const Step &step, const PresenceTest &present)
{
    std::shared_ptr<UserImportedMesh> mesh = step.mesh.lock();
    if (mesh && present && !present(*mesh))
        mesh.reset();
    return mesh;
}

bool TransformationHistory::isLive(const Step &step, const PresenceTest &present)
{
    return !step.forModel || liveMesh(step, present);
}

bool TransformationHistory::undo(const PresenceTest &present)
{
    while (m_next > 0) {
        Step &step = *m_steps[--m_next];
        if (!isLive(step, present))
            continue;
        if (step.undoAction)
            step.undoAction();
        else
            revert(step, *liveMesh(step, present));
        return true;
    }
    return false;
}

bool TransformationHistory::redo(const PresenceTest &present)
{
    while (m_next < m_steps.size()) {
        Step &step = *m_steps[m_next++];
        if (!isLive(step, present))
            continue;
        if (step.redoAction)
            step.redoAction();
        else
            run(step, *liveMesh(step, present));
        return true;
    }
    return false;
}

bool TransformationHistory::canUndo(const PresenceTest &present) const
{
    for (size_t i = m_next; i > 0; --i) {
        if (isLive(*m_steps[i - 1], present))
            return true;
    }
    return false;
}

bool TransformationHistory::canRedo(const PresenceTest &present) const
{
    for (size_t i = m_next; i < m_steps.size(); ++i) {
        if (isLive(*m_steps[i], present))
            return true;
    }
    return false;
}

void TransformationHistory::clear()
{
    m_steps.clear();
    m_next = 0;
}
