#include "editorrequests.h"

namespace {

// Mouse events kept while no frame takes them (a hidden item): the oldest go first.
constexpr size_t kMaximumMouseEvents = 64;

} // namespace

bool ModelEditRequest::needsSelectedModel() const
{
    switch (action) {
    case Action::None:
    case Action::ClearAll:
    case Action::Undo:
    case Action::Redo:
    case Action::Arrange:
        return false;
    default:
        return true;
    }
}

bool MouseRequest::isMove(Action action)
{
    return action == Action::MoveModel || action == Action::ShowSelectBaseArrow
        || action == Action::MoveInEditSupportMode || action == Action::DragGimbalMoveIcon
        || action == Action::DragGimbalRotationHandle;
}

void MouseRequest::add(Action action, const QPointF &position, int axis, bool snap)
{
    pending = true;
    if (isMove(action) && !events.empty() && events.back().action == action) {
        events.back().position = position;
        events.back().snap = snap;
        return;
    }
    if (events.size() >= kMaximumMouseEvents)
        events.erase(events.begin());
    events.push_back({action, position, axis, snap});
}
