#include "MessageBoxes.h"

#include "LanguageEngine.h"

#include <QAbstractButton>

#include <initializer_list>
#include <string>
#include <utility>

namespace {

using ButtonLabel = std::pair<QMessageBox::StandardButton, const char*>;

QMessageBox::StandardButton runBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                   const QString& text, std::initializer_list<ButtonLabel> buttons)
{
    QMessageBox::StandardButtons standardButtons;
    for (const ButtonLabel& button : buttons)
        standardButtons |= button.first;
    QMessageBox box(icon, title, text, standardButtons, parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    for (const ButtonLabel& button : buttons)
        box.button(button.first)->setText(translate(button.second));
    for (QAbstractButton* button : box.buttons())
        button->setCursor(Qt::PointingHandCursor);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QMessageBox::StandardButton showCriticalBox(QWidget* parent, const QString& title, const QString& text)
{
    return runBox(parent, QMessageBox::Critical, title, text, {{QMessageBox::Ok, "Ok"}});
}

QMessageBox::StandardButton showInformationBox(QWidget* parent, const QString& title, const QString& text)
{
    return runBox(parent, QMessageBox::Information, title, text, {{QMessageBox::Ok, "Ok"}});
}

QMessageBox::StandardButton showWarningBox(QWidget* parent, const QString& title, const QString& text)
{
    return runBox(parent, QMessageBox::Warning, title, text, {{QMessageBox::Ok, "Ok"}});
}

QMessageBox::StandardButton askCloseOrReturn(QWidget* parent, const QString& title, const QString& text)
{
    return runBox(parent, QMessageBox::Question, title, text, {{QMessageBox::Yes, "Close"}, {QMessageBox::No, "Return"}});
}

QMessageBox::StandardButton askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    return runBox(parent, QMessageBox::Question, title, text, {{QMessageBox::Yes, "Yes"}, {QMessageBox::No, "No"}});
}

QMessageBox::StandardButton askWarningYesNo(QWidget* parent, const QString& title, const QString& text)
{
    return runBox(parent, QMessageBox::Warning, title, text, {{QMessageBox::Yes, "Yes"}, {QMessageBox::No, "No"}});
}
