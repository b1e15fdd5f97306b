#pragma once
#include <QDateTime>
#include <QString>

// The file through which the photo-catalogue plug-in learns what was saved.

// The line the plug-in reads for a saved file: its path with backslashes, then a line end.
QString handOffLine(const QString& savedPath);

// True when savedPath names a non-empty file written at or after `since`: a save
// that failed leaves no file, or an older one, and must not be handed off.
bool fileWrittenSince(const QString& savedPath, const QDateTime& since);

// Whether savedPath fits on one hand-off line: a line break in it would hand the
// plug-in two wrong paths.
bool handOffCarries(const QString& savedPath);

// Appends the hand-off line of savedPath to handOffFile (created when missing).
// False, with nothing written, when the line cannot carry the path or the file
// cannot be opened or written.
bool appendHandOffLine(const QString& handOffFile, const QString& savedPath);
