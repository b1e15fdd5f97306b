#include "QtMessageFailure.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform says so for window calls it leaves out (size hints, raise); no fault of ours.
// On an X display without a window manager, a dialog that opens as the one before
// it closes may be given the focus before it is mapped, which X refuses.
bool isPlatformNoise(const QString& message)
{
    return message.startsWith(QLatin1String("This plugin does not support ")) ||
           (message.contains(QLatin1String("BadMatch")) && message.contains(QLatin1String("SetInputFocus")));
}

void failOnWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if ((type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) && !isPlatformNoise(message))
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
