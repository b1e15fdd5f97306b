#pragma once
#include "Preset.h"

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
void loadUserPresets();

// Records of every top-level element from the first "preset" on, starting from
// presetDefaults. A missing file gives an empty list (logged when logFailure is
// set); an unparsable one gives an empty list and is always logged.
std::vector<Preset*> readPresetFile(const std::string& path, bool logFailure);

// Takes ownership of the record, appends it to userPresets and its element to
// user.xml. An unparsable user.xml is moved aside first, never overwritten.
void appendUserPreset(Preset* record);

// Removes the index-th user preset from the list and from user.xml.
void deleteUserPresetFromFile(int index);
