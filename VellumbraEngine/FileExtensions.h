#pragma once

// Lower-case file extensions by role. Callers compare the lower-case suffix of a
// path against them with indexOfString.

constexpr int imageExtensionCount = 48;
extern const char* const imageExtensions[imageExtensionCount];

constexpr int videoExtensionCount = 9;
extern const char* const videoExtensions[videoExtensionCount];

// The export formats, in the order of the save dialogs.
constexpr int exportExtensionCount = 13;
extern const char* const exportExtensions[exportExtensionCount];
