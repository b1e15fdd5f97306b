#pragma once
#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class NewPresetDialogForm;
}

// Modal question for the name of a new user preset: an explanation, a name field of
// at most 50 characters, Ok and Cancel.
class NewPresetDialog : public QDialog {
    Q_OBJECT

public:
    explicit NewPresetDialog(QWidget* parent);
    ~NewPresetDialog() override;

    // The name as typed, blanks included; empty when nothing was typed.
    QString presetName() const;

private:
    std::unique_ptr<Ui::NewPresetDialogForm> form;
};
