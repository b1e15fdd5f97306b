#include "SaveForm.h"

#include "LanguageEngine.h"
#include "ui_SaveForm.h"

namespace {

QString depthText(int depth) { return QString("%1 bits").arg(depth); }

}  // namespace

SaveForm::SaveForm(QWidget* parent, bool showExtension)
    : QDialog(parent), form(std::make_unique<Ui::SaveFormDialog>())
{
    form->setupUi(this);
    setWindowTitle(translate("SavingOptions"));
    form->label_OutputExtension->setText(translate("OutputExtension"));
    form->label_OutputDepth->setText(translate("OutputDepth"));
    form->cancelButton->setText(translate("Cancel"));
    form->okButton->setText(translate("Ok"));
    if (parent)
        setWindowIcon(parent->windowIcon());
    if (!showExtension) {
        form->label_OutputExtension->hide();
        form->comboBox_OutputExtension->hide();
    }
    connect(form->comboBox_OutputExtension, SIGNAL(currentIndexChanged(int)), this,
            SLOT(updateOutputDepthComboBox()));
    // The form's size is only a minimum: the style sheet's padded rows need more.
    ensurePolished();
    resize(size().expandedTo(sizeHint()));
}

SaveForm::~SaveForm() = default;

void SaveForm::fillOutputExtensions(const std::string* names, const char* const* extensions,
                                    const int (*depthTable)[3], int count, int selectedIndex)
{
    // The rows go in before the items: adding the first item already selects it.
    extensionList.clear();
    depthRows.clear();
    for (int i = 0; i < count; ++i) {
        extensionList << QString::fromUtf8(extensions[i]);
        depthRows.push_back({depthTable[i][0], depthTable[i][1], depthTable[i][2]});
    }
    QComboBox* box = form->comboBox_OutputExtension;
    {
        const QSignalBlocker blocker(box);
        box->clear();
        for (int i = 0; i < count; ++i)
            box->addItem(QString::fromStdString(names[i]));
        box->setCurrentIndex(selectedIndex);
    }
    updateOutputDepthComboBox();
}

void SaveForm::fillOutputDepths(const int* depths, int count, int selectedDepth)
{
    QComboBox* box = form->comboBox_OutputDepth;
    box->clear();
    for (int i = 0; i < count; ++i)
        box->addItem(depthText(depths[i]));
    const int selected = box->findText(depthText(selectedDepth));
    if (selected >= 0)
        box->setCurrentIndex(selected);
}

void SaveForm::updateOutputDepthComboBox()
{
    QComboBox* box = form->comboBox_OutputDepth;
    box->clear();
    const int type = form->comboBox_OutputExtension->currentIndex();
    // No selection (-1) or a type without a row offers no depth.
    if (type < 0 || type >= int(depthRows.size()))
        return;
    for (int depth : depthRows[type])
        if (depth != -1)
            box->addItem(depthText(depth));
}

int SaveForm::selectedType() const { return form->comboBox_OutputExtension->currentIndex(); }

QString SaveForm::selectedExtension() const { return extensionList.value(selectedType()); }

QString SaveForm::selectedDepth() const { return form->comboBox_OutputDepth->currentText(); }
