#include "NewPresetDialog.h"

#include "LanguageEngine.h"
#include "ui_NewPresetDialog.h"

NewPresetDialog::NewPresetDialog(QWidget* parent)
    : QDialog(parent), form(std::make_unique<Ui::NewPresetDialogForm>())
{
    form->setupUi(this);
    setWindowTitle(translate("CreationPreset"));
    form->label_ExplCreationPreset->setText(translate("ExplCreationPreset"));
    form->okButton->setText(translate("Ok"));
    form->cancelButton->setText(translate("Cancel"));
    if (parent)
        setWindowIcon(parent->windowIcon());
}

NewPresetDialog::~NewPresetDialog() = default;

QString NewPresetDialog::presetName() const
{
    return form->lineEdit_PresetName->text();
}
