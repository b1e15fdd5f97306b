#pragma once

// Where the user is in the workflow of the open media.
enum WorkflowState {
    StateBrowse = 1,            // choose a frame of the video or burst
    StateSharpestSearch = 2,    // sharpest-frame search running
    StateDefineParameters = 4,  // stacking parameters
    StateEditing = 5,           // edit the light image or the photo
    StateTool = 6,              // crop or horizon tool active
    StateExport = 7,            // export running
    StateStacking = 8,          // stacking running
};

// Sub-mode of StateTool.
enum EditingTool { ToolNone = 0, ToolCrop = 1, ToolHorizon = 2 };

bool isKnownState(int state);
// A computation runs and only its own step may be pressed.
bool isComputing(int state);

// A widget's treatment in one state; Unchanged leaves it as it was.
enum class Switch { Unchanged, Off, On };

// Pages, highlighted step and enabled widgets of one state. Page names are the
// form's object names; null leaves the page as it was.
struct StateView {
    const char* selectMenu;
    const char* verticalDockPage;
    const char* bottomPage;
    Switch mainOptions;
    Switch secondOptionsShown;
    Switch secondOptionsEnabled;  // frame_BottomPresets follows it
    Switch close;
    Switch undoRedo;
    Switch histogramPanel;
    Switch showExif;
    Switch showToneCurve;
    Switch highlightActions;
    Switch videoMenu;
};

// Null for a state that has no row (the view is then left as it is).
const StateView* stateView(int state, bool isSequence);

// What a press on a step of the step bar does.
enum class StepMove {
    None,             // a fresh display only
    Refuse,           // "OperationNotAllowed"; nothing else happens
    Wait,             // "WaitEndProcess", then a fresh display
    ChooseFrame,      // the current frame becomes the chosen one: parameters step
    BackToVideo,      // the whole sequence again, history and saved name cleared
    BackToParameters, // from editing to the parameters, range kept
    StartStacking,
    Export,
};

struct StepPlan {
    bool leaveTool;  // the crop or horizon tool is left first
    StepMove move;
};

StepPlan planStep(int state, bool isSequence, int step);

// What closing the media asks or waits for first.
enum class CloseQuestion {
    Plain,               // close at once
    StopVideo,           // stop a playing video, then close
    SaveDiscardOrCancel, // export all, discard or keep the media
    ConfirmDuringExport, // stop the export and close, or keep the media
    CancelSearch,        // stop the sharpest-frame search, then close
    CancelStacking,      // stop the stacking run and wait for it, then close
};

CloseQuestion closeQuestion(int state);
