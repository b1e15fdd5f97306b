#pragma once
#include <QString>

class Workspace;

// The default title of a result of the open media. One photo: its base name.
// A video or burst: with full, the stacked result's name made of the base name
// and the stacking options ("Vb_clip (A8_M3_Me12)"); without, the base name and
// the frame on show ("clip (123)"). qualityName: the shown name of the quality.
QString resultName(Workspace& workspace, bool full, const QString& qualityName);
