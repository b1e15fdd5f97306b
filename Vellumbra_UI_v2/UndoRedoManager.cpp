#include "UndoRedoManager.h"

#include <QAction>

namespace {

std::vector<std::unique_ptr<UndoRedoManager::WidgetControlBase>> undoControls;
std::vector<std::unique_ptr<UndoRedoManager::WidgetControlBase>> redoControls;

}  // namespace

UndoRedoManager::UndoRedoManager(Clock clockIn)
{
    setClock(std::move(clockIn));
    refreshControls();
}

void UndoRedoManager::setClock(Clock clockIn)
{
    clock = clockIn ? std::move(clockIn) : Clock([] { return QDateTime::currentDateTime(); });
    lastRecordTime = clock();
}

UndoRedoManager::~UndoRedoManager()
{
    clear();
}

bool UndoRedoManager::continuesTopRecord(const std::function<bool(ActionBase*)>& sameTarget)
{
    const QDateTime previous = lastRecordTime;
    lastRecordTime = clock();
    // The window runs from the previous change, so a long steady drag stays one record.
    return !undoStack.empty() && lastRecordTime < previous.addMSecs(mergeWindowMs) &&
           sameTarget(undoStack.back().get());
}

void UndoRedoManager::push(std::unique_ptr<ActionBase> action)
{
    if (static_cast<int>(undoStack.size()) >= undoDepth)
        undoStack.erase(undoStack.begin(), undoStack.end() - (undoDepth - 1));
    undoStack.push_back(std::move(action));
    redoStack.clear();
    refreshControls();
}

void UndoRedoManager::replay(std::vector<std::unique_ptr<ActionBase>>& from,
                             std::vector<std::unique_ptr<ActionBase>>& to, bool undoing, UndoRedoManager& manager)
{
    if (from.empty())
        return;
    manager.busy = true;
    std::unique_ptr<ActionBase> action = std::move(from.back());
    from.pop_back();
    if (undoing)
        action->undo();
    else
        action->redo();
    to.push_back(std::move(action));
    manager.busy = false;
    manager.refreshControls();
}

void UndoRedoManager::undo()
{
    replay(undoStack, redoStack, true, *this);
}

void UndoRedoManager::redo()
{
    replay(redoStack, undoStack, false, *this);
}

void UndoRedoManager::clear()
{
    undoStack.clear();
    refreshControls();
    redoStack.clear();
    refreshControls();
}

void UndoRedoManager::refreshControls() const
{
    for (const auto& control : undoControls)
        control->setEnabled(canUndo());
    for (const auto& control : redoControls)
        control->setEnabled(canRedo());
}

void UndoRedoManager::addUndoControl(QAction* action)
{
    undoControls.push_back(std::make_unique<WidgetControl<QAction>>(action, &QAction::setEnabled));
}

void UndoRedoManager::addRedoControl(QAction* action)
{
    redoControls.push_back(std::make_unique<WidgetControl<QAction>>(action, &QAction::setEnabled));
}

void UndoRedoManager::deleteControls()
{
    undoControls.clear();
    redoControls.clear();
}
