#include "ShowGeneralSettings.h"

#include "DialogGeometry.h"
#include "LanguageEngine.h"
#include "StartupValues.h"
#include "ui_ShowGeneralSettings.h"

#include <QSettings>

namespace {

const QString kGeneralGroup = "GeneralSettings";
const QString kDialogGroup = "DialogSettings";
constexpr int kDefaultOverExposedLimit = 98;
constexpr int kDefaultUnderExposedLimit = 2;
constexpr int kDefaultNbSharpenImages = 3;

void setTextAndTooltip(QLabel* label, QWidget* field, const std::string& key)
{
    label->setText(translate(key));
    const QString tooltip = translate(key + "Tooltip");
    label->setToolTip(tooltip);
    field->setToolTip(tooltip);
}

}  // namespace

ShowGeneralSettings::ShowGeneralSettings(QWidget* mainWindow)
    : QDialog(mainWindow), form(std::make_unique<Ui::ShowGeneralSettings>())
{
    form->setupUi(this);
    if (mainWindow)
        setWindowIcon(mainWindow->windowIcon());
    QSettings settings;
    fillLanguages();
    restoreDialogGeometry(this, settings, kDialogGroup);

    // The export quality the writer uses now: OK must not put back a default unasked.
    form->spinBox_JPEGQuality->setValue(jpgQuality());
    form->spinBox_PNGQuality->setValue(pngCompression());
    settings.beginGroup(kGeneralGroup);
    form->spinBox_OverExposedLimit->setValue(settings.value("OverExposedLimit", kDefaultOverExposedLimit).toInt());
    form->spinBox_UnderExposedLimit->setValue(settings.value("UnderExposedLimit", kDefaultUnderExposedLimit).toInt());
    form->spinBox_NbSharpenImages->setValue(settings.value("NbSharpenImages", kDefaultNbSharpenImages).toInt());
    settings.endGroup();

    setTranslatedTexts();
}

ShowGeneralSettings::~ShowGeneralSettings() = default;

void ShowGeneralSettings::fillLanguages()
{
    QComboBox* box = form->ChoiceLanguageApplication;
    box->clear();
    for (const auto& language : LanguageEngine::availableLanguages())
        box->addItem(QString::fromStdString(language.first));
    box->setCurrentIndex(box->findText(QString::fromStdString(LanguageEngine::currentLanguage())));
}

void ShowGeneralSettings::setTranslatedTexts()
{
    setWindowTitle(translate("Settings"));
    form->label_GeneralTitle->setText(translate("General"));
    form->LanguageLabel->setText(translate("Language"));
    setTextAndTooltip(form->label_JPGQuality, form->spinBox_JPEGQuality, "JPGImageQuality");
    setTextAndTooltip(form->label_PNGQuality, form->spinBox_PNGQuality, "PNGImageCompression");
    form->label_ViewTitle->setText(translate("View"));
    setTextAndTooltip(form->label_OverExposedLimit, form->spinBox_OverExposedLimit, "OverExposedLimit");
    setTextAndTooltip(form->label_UnderExposedLimit, form->spinBox_UnderExposedLimit, "UnderExposedLimit");
    form->label_ParametersTitle->setText(translate("Parameters"));
    setTextAndTooltip(form->label_NbSharpenImages, form->spinBox_NbSharpenImages, "NbSharpenImages");
    form->cancelButton->setText(translate("Cancel"));
    form->okButton->setText(translate("Ok"));
}

int ShowGeneralSettings::exec()
{
    const int result = QDialog::exec();
    if (result != QDialog::Accepted)
        return result;

    QSettings settings;
    settings.beginGroup(kGeneralGroup);
    // With no language found the box is empty; an empty name would break the next start.
    const QString language = form->ChoiceLanguageApplication->currentText();
    if (!language.isEmpty() && settings.value("ChosenLanguage").toString() != language) {
        changedLanguage = true;
        settings.setValue("ChosenLanguage", language);
    }
    setJpgQuality(form->spinBox_JPEGQuality->value());
    setPngCompression(form->spinBox_PNGQuality->value());
    settings.setValue("JPGQuality", form->spinBox_JPEGQuality->value());
    settings.setValue("PNGCompression", form->spinBox_PNGQuality->value());
    settings.setValue("OverExposedLimit", form->spinBox_OverExposedLimit->value());
    settings.setValue("UnderExposedLimit", form->spinBox_UnderExposedLimit->value());
    settings.setValue("NbSharpenImages", form->spinBox_NbSharpenImages->value());
    settings.endGroup();
    storeDialogGeometry(this, settings, kDialogGroup);
    return result;
}
