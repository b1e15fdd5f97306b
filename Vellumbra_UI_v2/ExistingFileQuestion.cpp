#include "ExistingFileQuestion.h"

#include "ExportFormats.h"
#include "LanguageEngine.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFileInfo>

ExistingFileQuestion::ExistingFileQuestion(QWidget* parent, bool severalFiles)
    : box(QMessageBox::Question, translate("SavingFileAlreadyExist"), QString(), QMessageBox::Yes | QMessageBox::No,
          parent)
{
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(translate("Replace"));
    box.button(QMessageBox::No)->setText(translate("UseUniqueName"));
    for (QAbstractButton* button : box.buttons())
        button->setCursor(Qt::PointingHandCursor);
    if (severalFiles)
        box.setCheckBox(new QCheckBox(translate("DoSameForOtherImages")));
}

bool ExistingFileQuestion::replace(const QString& target, const QString& result)
{
    if (!box.checkBox() || !box.checkBox()->isChecked() || answer == -1) {
        box.setText(result.isEmpty() ? translate("SavingFileAlreadyExistText").arg(target)
                                     : translate("SavingResultAlreadyExistText").arg(result, target));
        answer = box.exec();
    }
    return answer == QMessageBox::Yes;
}

QString replaceOrRename(QWidget* parent, const QString& fileName)
{
    if (!QFileInfo::exists(fileName) || ExistingFileQuestion(parent, false).replace(fileName))
        return fileName;
    const QFileInfo file(fileName);
    const QString extension = file.suffix().isEmpty() ? QString() : QStringLiteral(".") + file.suffix();
    return uniqueTarget(file.absolutePath() + QStringLiteral("/") + file.completeBaseName(), extension,
                        [](const QString& path) { return QFileInfo::exists(path); });
}
