#include "ResultName.h"

#include "ImagesSequence.h"
#include "Workspace.h"

QString resultName(Workspace& workspace, bool full, const QString& qualityName)
{
    const QString base = workspace.resultBaseName();
    if (!workspace.isSequence)
        return base;
    if (!full) {
        const int frame = workspace.frameSource ? workspace.frameSource->getCurrentIndex() : 0;
        return QString("%1 (%2)").arg(base, QString::number(frame));
    }
    const QString power =
        workspace.autoAntighosting ? QStringLiteral("a") : QString::number(workspace.antighostingPower / 10);
    // One pass over the pattern: a base name holding "%2" stays as it is.
    return QString("Vb_%1 (A%2_M%3%4%5)")
        .arg(base, QString::number(workspace.antighostingMode / 10), power, ("_" + qualityName).left(3),
             QString::number(workspace.stackedFrameCount));
}
