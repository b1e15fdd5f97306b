#pragma once
#include "Preset.h"

#include <optional>
#include <string>
#include <vector>

// Factory presets ("default.xml") and the user's presets ("user.xml"), both XML.
// Records stay allocated for the whole process: tiles keep pointers to their
// names, so reloading a list or deleting a preset never frees a record.

extern std::vector<Preset*> defaultPresets;
extern bool defaultPresetsLoaded;
extern std::vector<Preset*> userPresets;
extern bool userPresetsLoaded;

// Folder prefixes, each ending with a separator; both start as "Presets/".
void setDefaultPresetsDir(const std::string& prefix);
void setUserPresetsDir(const std::string& prefix);

void loadDefaultPresets();
// A user.xml that cannot be parsed is set aside as "user.xml.corrupt[.n]" and replaced
// by the presets that could still be read from it, which the list then holds. When it
// cannot be set aside, the list holds those presets all the same and the file stays.
// A user.xml that cannot be read gives an empty list and is left alone.
void loadUserPresets();

// What a load or an addition could not do quietly with a damaged or unreadable user.xml.
struct UserPresetsRepair
{
    enum class Outcome {
        SetAside,      // moved to setAsidePath, keptCount presets kept in user.xml
        KeptInMemory,  // could not be moved: keptCount presets kept for this session only
        Unreadable,    // could not be read: no preset of it is shown
    };
    std::string setAsidePath;
    int keptCount = 0;
    Outcome outcome = Outcome::SetAside;
    std::string filePath;  // the user.xml concerned
};
// The repair made since the last call, if any: each is reported once, and a file that
// stays unreadable or damaged only the first time.
std::optional<UserPresetsRepair> takeUserPresetsRepair();

// Records of every top-level element from the first "preset" on, starting from
// presetDefaults. A missing file gives an empty list (logged when logFailure is
// set); an unreadable or unparsable one gives an empty list and is always logged.
std::vector<Preset*> readPresetFile(const std::string& path, bool logFailure);

// Takes ownership of the record, appends its element to user.xml and, once the
// file is written, the record to userPresets. An unparsable user.xml (a NUL byte
// included) is set aside first as on loading, never overwritten; one that exists
// but cannot be read is left alone and nothing is appended. False when the preset
// was not saved (logged).
bool appendUserPreset(Preset* record);

// Removes the index-th user preset from the list and from user.xml. A user.xml
// that exists but cannot be read leaves both alone. False when the file was not
// rewritten (logged).
bool deleteUserPresetFromFile(int index);
