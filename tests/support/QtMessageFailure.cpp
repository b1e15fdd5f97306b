#include "QtMessageFailure.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

QtMessageHandler previousHandler = nullptr;

void failOnWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
        ADD_FAILURE() << "Qt " << (context.category ? context.category : "") << " message: "
                      << message.toStdString();
    if (previousHandler)
        previousHandler(type, context, message);
}

}  // namespace

void failTestsOnQtWarnings()
{
    previousHandler = qInstallMessageHandler(failOnWarning);
}
