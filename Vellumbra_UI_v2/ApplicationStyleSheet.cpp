#include "ApplicationStyleSheet.h"

#include "Log.h"
#include "VellumbraResources.h"

#include <QApplication>
#include <QFile>

namespace {
const char* const sheetPath = ":/Vellumbra/Resources/Vellumbra.qss";
}

QString applicationStyleSheet()
{
    loadVellumbraResources();
    QFile file(QString::fromLatin1(sheetPath));
    if (!file.open(QIODevice::ReadOnly)) {
        logError("applicationStyleSheet", std::string("The style sheet '") + sheetPath + "' could not be read.");
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

void applyApplicationStyleSheet(QApplication& application)
{
    const QString sheet = applicationStyleSheet();
    if (!sheet.isEmpty())
        application.setStyleSheet(sheet);
}
