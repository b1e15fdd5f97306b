#include "ResultName.h"

#include "ExportFormats.h"
#include "SharpestImageSelection.h"
#include "Workspace.h"

#include <algorithm>

QString stackedResultName(const Workspace& workspace, const QString& qualityName)
{
    const QString power =
        workspace.autoAntighosting ? QStringLiteral("a") : QString::number(workspace.antighostingPower / 10);
    // One pass over the pattern: a base name holding "%2" stays as it is.
    return QString("Vb_%1 (A%2_M%3%4%5)")
        .arg(workspace.resultBaseName(), QString::number(workspace.antighostingMode / 10), power,
             ("_" + qualityName).left(3), QString::number(workspace.stackedFrameCount));
}

QString ownResultTitle(const Workspace& workspace, const QString& name)
{
    return uniqueTarget(name, QString(), [&](const QString& title) {
        return std::any_of(workspace.tiles.begin(), workspace.tiles.end(),
                           [&](const SharpestImageSelection* tile) { return tile->title() == title; });
    });
}
