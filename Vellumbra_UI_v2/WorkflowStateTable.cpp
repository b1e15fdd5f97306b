#include "WorkflowStateTable.h"

namespace {

constexpr Switch U = Switch::Unchanged;
constexpr Switch N = Switch::Off;
constexpr Switch Y = Switch::On;

// Columns: selectMenu, vertical dock page, bottom page, main options, second
// options shown, second options enabled, close, undo/redo, histogram panel,
// EXIF, tone curve, the two highlight actions, video menu.
constexpr StateView browse{"1", "page_PRO_SelectImage", "page_TimeLine", Y, N, U, Y, U, Y, N, N, Y, Y};
constexpr StateView search{nullptr, nullptr, "page_ProgressBar", N, N, U, Y, U, Y, Y, N, N, N};
constexpr StateView parameters{"2", "page_PRO_DefineParams", "page_TimeLine", Y, N, U, Y, U, Y, N, N, Y, Y};
constexpr StateView editingSequence{"3", "page_PRO_Editing", "page_TM", Y, Y, Y, Y, N, Y, N, N, Y, N};
constexpr StateView editingPhoto{"1", "page_PRO_Editing", "page_TM", Y, Y, Y, Y, N, Y, N, N, Y, N};
constexpr StateView tool{nullptr, nullptr, nullptr, N, U, N, U, U, U, U, U, U, U};
constexpr StateView exportSequence{"4", "page_Exporting", "page_ProgressBar", Y, N, U, Y, N, Y, Y, Y, N, N};
constexpr StateView exportPhoto{"2", "page_Exporting", "page_ProgressBar", Y, N, U, Y, N, Y, Y, Y, N, N};
constexpr StateView stacking{nullptr, nullptr, "page_ProgressBar", N, N, U, Y, N, Y, Y, N, N, N};

}  // namespace

bool isComputing(int state)
{
    return state == StateSharpestSearch || state == StateExport || state == StateStacking;
}

const StateView* stateView(int state, bool isSequence)
{
    switch (state) {
    case StateBrowse: return &browse;
    case StateSharpestSearch: return &search;
    case StateDefineParameters: return &parameters;
    case StateEditing: return isSequence ? &editingSequence : &editingPhoto;
    case StateTool: return &tool;
    case StateExport: return isSequence ? &exportSequence : &exportPhoto;
    case StateStacking: return &stacking;
    default: return nullptr;
    }
}

// The numbering has a gap: every named state, and only those, has a view.
bool isKnownState(int state)
{
    return stateView(state, false) != nullptr;
}

namespace {

StepMove editingStep(bool isSequence, int step)
{
    if (!isSequence)
        return step == 2 ? StepMove::Export : StepMove::None;
    switch (step) {
    case 1: return StepMove::BackToVideo;
    case 2: return StepMove::BackToParameters;
    case 4: return StepMove::Export;
    default: return StepMove::None;
    }
}

}  // namespace

StepPlan planStep(int state, bool isSequence, int step)
{
    switch (state) {
    case StateBrowse:
        if (step == 2)
            return {false, StepMove::ChooseFrame};
        return {false, step == 1 ? StepMove::None : StepMove::Refuse};
    case StateSharpestSearch:
        return {false, step == 1 ? StepMove::None : StepMove::Wait};
    case StateDefineParameters:
        switch (step) {
        case 1: return {false, StepMove::BackToVideo};
        case 3: return {false, StepMove::StartStacking};
        case 4: return {false, StepMove::Refuse};
        default: return {false, StepMove::None};
        }
    case StateEditing:
        return {false, editingStep(isSequence, step)};
    case StateTool:
        if (step == 3)
            return {false, StepMove::None};
        return {true, editingStep(isSequence, step)};
    case StateExport:
        return {false, step == (isSequence ? 4 : 2) ? StepMove::None : StepMove::Wait};
    case StateStacking:
        return {false, step == 2 ? StepMove::None : StepMove::Wait};
    default:
        return {false, StepMove::None};
    }
}

CloseQuestion closeQuestion(int state)
{
    switch (state) {
    // Leaving the crop or horizon tool must not drop the edits silently either.
    case StateEditing:
    case StateTool: return CloseQuestion::SaveDiscardOrCancel;
    case StateStacking: return CloseQuestion::CancelStacking;
    case StateSharpestSearch: return CloseQuestion::CancelSearch;
    case StateExport: return CloseQuestion::ConfirmDuringExport;
    case StateBrowse:
    case StateDefineParameters: return CloseQuestion::StopVideo;
    default: return CloseQuestion::Plain;
    }
}
