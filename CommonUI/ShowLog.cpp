#include "ShowLog.h"

#include "DialogGeometry.h"
#include "LanguageEngine.h"
#include "Log.h"
#include "MessageBoxes.h"
#include "ui_ShowLog.h"

#include <QFile>

namespace {

const QString kGroup = "ShowLogDialog";
// A long-running installation can grow a log the text view cannot lay out
// quickly; the newest entries are the ones that matter.
constexpr qint64 kShownTailBytes = 1 << 20;

// False when the log exists but cannot be read; a missing log reads as empty.
bool readLogTail(const QString& path, QByteArray& contents)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const qint64 size = file.size();
    if (size > kShownTailBytes) {
        // Start on a line boundary so the first entry and its UTF-8 text are whole.
        if (!file.seek(size - kShownTailBytes))
            return false;
        file.readLine();
    }
    contents = file.readAll();
    return file.error() == QFileDevice::NoError;
}

}  // namespace

ShowLog::ShowLog(QWidget* mainWindow) : QDialog(mainWindow), form(std::make_unique<Ui::ShowLogDialog>())
{
    form->setupUi(this);
    restoreDialogGeometry(this, settings, kGroup);
    setWindowTitle(translate("ShowingLogFile"));
    form->okButton->setText(translate("ResetLogFile"));
    form->cancelButton->setText(translate("Close"));
}

ShowLog::~ShowLog() = default;

int ShowLog::exec()
{
    const QString path = QString::fromStdString(logFilePath());
    QByteArray contents;
    if (!readLogTail(path, contents)) {
        showCriticalBox(parentWidget(), translate("Error"), translate("ErrorWhileOpeningLogFile"));
        return 0;
    }
    if (contents.isEmpty()) {
        showInformationBox(parentWidget(), translate("ShowingLogFile"), translate("EmptyLog"));
        return 0;
    }
    form->plainTextEdit_Content->setPlainText(QString::fromUtf8(contents));

    const int result = QDialog::exec();
    if (result == QDialog::Accepted && !resetLogFile())
        logError("ShowLog::exec", "The log file " + logFilePath() + " could not be deleted");
    storeDialogGeometry(this, settings, kGroup);
    return result;
}
