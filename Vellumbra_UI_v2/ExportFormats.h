#pragma once
#include "FileExtensions.h"

#include <QString>

#include <functional>
#include <vector>

// The formats an edited result, the light image or a frame can be written in. The
// position in the table is the format index the settings and dialogs use.
namespace exportformats {

constexpr int kFormatCount = exportExtensionCount;
constexpr int kDepthSlots = 3;

// Language key of each format's display name.
extern const char* const nameKeys[kFormatCount];
// Depths offered per format, in bits and in the order offered; -1 marks an empty
// slot, always after the filled ones.
extern const int depthRows[kFormatCount][kDepthSlots];

// The index of a lower-case extension without its dot, or -1.
int formatOfExtension(const QString& extension);
// The format of a file name by its suffix (any case), or -1 (no suffix included).
int formatOfFileName(const QString& fileName);
// A stored index, or fallback when it lies outside the table (a hand-edited settings store).
int checkedFormat(int stored, int fallback);
// The filled depth slots of a format, in table order.
std::vector<int> depthsOf(int format);
// The filter of one format as the save dialogs list it: "name (*.ext)".
QString formatFilter(const QString& displayName, int format);
// A name from a save dialog as it is written: a name without an extension takes
// the selected filter's, as other systems' dialogs give it; any other keeps its own.
QString withFilterExtension(const QString& fileName, const QString& selectedFilter);

}  // namespace exportformats

// Sorts values[first..last] in place by less: the middle element is the pivot.
void quickSort(int* values, int first, int last, const std::function<bool(int, int)>& less);

// A tile's title as a file name: path separators, "..", control characters and
// characters no file system takes become "_"; an empty result becomes "_".
QString safeFileTitle(const QString& title);

// base + extension when that is free, else base-1, base-2, ... + extension: the
// first whose path taken() says is free.
QString uniqueTarget(const QString& base, const QString& extension, const std::function<bool(const QString&)>& taken);
