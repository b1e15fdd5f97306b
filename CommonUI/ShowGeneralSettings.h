#pragma once
#include <QDialog>

#include <memory>

class QSettings;

namespace Ui {
class ShowGeneralSettings;
}

// Modal dialog of the general settings ("GeneralSettings"); it remembers its own
// geometry in "DialogSettings". Accepting stores every key; rejecting stores nothing.
class ShowGeneralSettings : public QDialog {
    Q_OBJECT

public:
    explicit ShowGeneralSettings(QWidget* mainWindow);
    ~ShowGeneralSettings() override;

    // Runs the dialog and stores the settings when it is accepted.
    int exec() override;

    // True after an accepted run that chose another language than the stored one.
    bool languageChanged() const { return changedLanguage; }

private:
    void fillLanguages();
    void setTranslatedTexts();

    std::unique_ptr<Ui::ShowGeneralSettings> form;
    bool changedLanguage = false;
};
