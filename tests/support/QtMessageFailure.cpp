#include "QtMessageFailure.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

QtMessageHandler previousHandler = nullptr;

// What the offscreen platform says of window operations it leaves out; the real
// platform does them, so they say nothing about the program.
bool isPlatformLimitation(const QString& message)
{
    return message.startsWith(QLatin1String("This plugin does not support"));
}

void failOnWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if ((type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) && !isPlatformLimitation(message))
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
