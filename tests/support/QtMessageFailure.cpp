#include "QtMessageFailure.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform says so for window operations it lacks (size hints of
// every dialog, raising a dock); it is no fault of ours.
bool isPlatformLimitation(const QString& message)
{
    return message.startsWith(QLatin1String("This plugin does not support "));
}

void failOnWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (isPlatformLimitation(message))
        return;
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
