#include "ResultName.h"

#include "Workspace.h"

QString stackedResultName(const Workspace& workspace, const QString& qualityName)
{
    const QString power =
        workspace.autoAntighosting ? QStringLiteral("a") : QString::number(workspace.antighostingPower / 10);
    // One pass over the pattern: a base name holding "%2" stays as it is.
    return QString("Vb_%1 (A%2_M%3%4%5)")
        .arg(workspace.resultBaseName(), QString::number(workspace.antighostingMode / 10), power,
             ("_" + qualityName).left(3), QString::number(workspace.stackedFrameCount));
}
