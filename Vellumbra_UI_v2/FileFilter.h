#pragma once
#include <QString>

#include <string>

// A file-dialog filter: with names, one entry per extension first ("name (*.ext);;"),
// then the group entry with every extension, then "All Files (*.*)". count >= 1.
QString buildFileFilter(const char* const* extensions, int count, const QString& groupName,
                        const std::string* names = nullptr);

// The extension of the first "*.ext" pattern of one filter entry ("TIFF (*.tif)"
// gives "tif"); empty when it names none ("All Files (*.*)").
QString filterExtension(const QString& filter);
