#pragma once
#include <QDialog>
#include <QSettings>

#include <memory>

namespace Ui {
class ShowLogDialog;
}

// Read-only view of the log file with a button that deletes it. Remembers its
// geometry in "ShowLogDialog".
class ShowLog : public QDialog {
public:
    explicit ShowLog(QWidget* mainWindow);
    ~ShowLog() override;

    // Shows the log and deletes it when the user resets it. Returns the dialog's
    // result, or 0 without showing the dialog when the log is missing, empty or unreadable.
    int exec() override;

private:
    std::unique_ptr<Ui::ShowLogDialog> form;
    QSettings settings;
};
