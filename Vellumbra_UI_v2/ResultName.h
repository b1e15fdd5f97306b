#pragma once
#include <QString>

class Workspace;

// The default title of a stacked result of a video or burst: the media's base name
// and the stacking options, as "Vb_clip (A8_M3_Me12)". qualityName: the shown name
// of the quality.
QString stackedResultName(const Workspace& workspace, const QString& qualityName);

// name when no result of the workspace bears it as its title, else the first free
// "name-1", "name-2", ...: a new result never takes another's title, nor its file.
QString ownResultTitle(const Workspace& workspace, const QString& name);
