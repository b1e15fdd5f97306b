#include "CommandLine.h"

#include <algorithm>

namespace {

const QString kInstallerSwitch = QStringLiteral("-ii");
const QString kHandOffSwitch = QStringLiteral("-LrPlug");
constexpr int kFirstHandOffPath = 5;

// The plug-in always sends a count and as many paths as it says; anything else opens
// only what is really there and says why.
void readHandOffFiles(const QStringList& arguments, StartRequest& request)
{
    if (arguments.size() <= 4) {
        request.problem = QStringLiteral("the file count is missing");
        return;
    }
    bool numeric = false;
    const int count = arguments[4].toInt(&numeric);
    if (!numeric) {
        request.problem = QStringLiteral("the file count \"%1\" is not a number").arg(arguments[4]);
        return;
    }
    if (count < 1) {
        request.problem = QStringLiteral("the file count is %1").arg(count);
        return;
    }
    const int available = static_cast<int>(arguments.size()) - kFirstHandOffPath;
    if (available < count)
        request.problem = QStringLiteral("%1 files announced, %2 given").arg(count).arg(available);
    request.files = arguments.mid(kFirstHandOffPath, std::min(count, available));
    request.asBurst = count != 1;
}

}  // namespace

StartRequest parseCommandLine(const QStringList& arguments)
{
    StartRequest request;
    if (arguments.size() > 2 && arguments[1] == kInstallerSwitch) {
        request.form = StartRequest::Form::Installer;
        request.language = arguments[2];
    } else if (arguments.size() >= 4 && arguments[1] == kHandOffSwitch) {
        request.form = StartRequest::Form::HandOff;
        request.resultFile = arguments[2];
        request.secondPath = arguments[3];
        readHandOffFiles(arguments, request);
        // An empty hand-off window offers nothing but Exit: the user is told why.
        if (request.files.isEmpty())
            request.problemKey = "ExplHandOffNoFiles";
    } else if (arguments.size() == 2) {
        request.files = QStringList{arguments[1]};
    } else if (arguments.size() > 2) {
        request.problem = QStringLiteral("%1 files named; only one opens from the command line")
                              .arg(arguments.size() - 1);
        request.problemKey = "ExplOneFileOnly";
    }
    return request;
}
