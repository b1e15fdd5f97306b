#pragma once
#include "EngineDefaults.h"
#include "Preset.h"
#include "WorkerCount.h"
#include "Workspace.h"

// Building a main window fills the process-wide defaults from its form and sizes the
// preview box to its view; the guard puts back what other tests of the program expect.
class ProcessDefaultsGuard
{
public:
    ~ProcessDefaultsGuard()
    {
        engineDefaults = engine;
        presetDefaults = preset;
        workspaceDefaults = workspace;
        setToneMappingWorkerCount(workers);
        setPreviewBox(box);
    }

private:
    EngineDefaults engine = engineDefaults;
    PresetSettings preset = presetDefaults;
    WorkspaceDefaults workspace = workspaceDefaults;
    int workers = toneMappingWorkerCount();
    cv::Size box = previewBox();
};
