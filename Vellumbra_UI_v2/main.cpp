#include "AppIdentity.h"
#include "ApplicationStyleSheet.h"
#include "CommandLine.h"
#include "ImageIO.h"
#include "InstallerSettings.h"
#include "VellumbraResources.h"
#include "vellumbraV2.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include <memory>

namespace {

// Marks a running instance for the process's life. Nothing looks at it: a second
// instance starts as the first did.
std::unique_ptr<QLockFile> holdInstanceLock()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    auto lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral("VellumbraV2HandleX64.lock")));
    lock->tryLock(0);
    return lock;
}

QStringList decodedArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int runWindow(QApplication& application, VellumbraV2& window, const StartRequest& request)
{
    if (window.startupFailed())
        return 1;
    window.show();
    window.openStartRequest(request);
    return application.exec();
}

}  // namespace

int main(int argc, char* argv[])
{
    initImageLibraries(argc > 0 ? argv[0] : "");
    const std::unique_ptr<QLockFile> instanceLock = holdInstanceLock();
    QApplication application(argc, argv);
    applyApplicationIdentity();
    loadVellumbraResources();

    const StartRequest request = parseCommandLine(decodedArguments(argc, argv));
    if (request.form == StartRequest::Form::Installer) {
        applyInstallerSettings(request.language);
        return 0;
    }
    applyApplicationStyleSheet(application);
    if (request.form == StartRequest::Form::HandOff) {
        VellumbraV2 window(request.resultFile, request.secondPath);
        return runWindow(application, window, request);
    }
    VellumbraV2 window;
    return runWindow(application, window, request);
}
