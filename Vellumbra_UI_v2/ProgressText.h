#pragma once
#include <QString>

#include <string>

// The stacking progress text from the language's printf pattern (two integers:
// the frame being accumulated and the frame count). Only "%d", "%i" and "%%" are
// understood; any other directive is shown as written, so a damaged language
// file can never read arguments that are not there.
QString imageNumberText(const std::string& pattern, int ordinal, int count);
