#include "ModalScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace windowtest {

namespace {

// Scripts in force, the latest last; only the latest answers.
std::vector<ModalScript*> activeScripts;

const char* kindName(ModalScript::Kind kind)
{
    switch (kind) {
    case ModalScript::Kind::MessageBox: return "message box";
    case ModalScript::Kind::FileDialog: return "file dialog";
    case ModalScript::Kind::SaveForm: return "save options";
    case ModalScript::Kind::InputDialog: return "input dialog";
    case ModalScript::Kind::Dialog: return "dialog";
    }
    return "dialog";
}

bool kindOf(QWidget* modal, ModalScript::Kind* kind)
{
    if (qobject_cast<QMessageBox*>(modal))
        *kind = ModalScript::Kind::MessageBox;
    else if (qobject_cast<QFileDialog*>(modal))
        *kind = ModalScript::Kind::FileDialog;
    else if (qobject_cast<QInputDialog*>(modal) || modal->inherits("NewPresetDialog"))
        *kind = ModalScript::Kind::InputDialog;
    else if (modal->inherits("SaveForm"))
        *kind = ModalScript::Kind::SaveForm;
    else if (qobject_cast<QDialog*>(modal))
        *kind = ModalScript::Kind::Dialog;
    else
        return false;
    return true;
}

QString describe(QWidget* modal)
{
    QString text;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        text = box->text();
    else if (auto* input = qobject_cast<QInputDialog*>(modal))
        text = input->labelText();
    else if (auto* label = modal->findChild<QLabel*>())
        text = label->text();
    return modal->windowTitle() + " | " + text;
}

void rejectModal(QWidget* modal)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box && box->escapeButton())
        box->escapeButton()->click();
    else if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

// Quoted names, as the dialog's own name field takes several files.
QString fileNameField(const QStringList& paths)
{
    if (paths.size() == 1)
        return QFileInfo(paths.front()).fileName();
    QStringList quoted;
    for (const QString& path : paths)
        quoted << "\"" + QFileInfo(path).fileName() + "\"";
    return quoted.join(' ');
}

}  // namespace

ModalScript::ModalScript()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
    QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
    timer.start(10);
    activeScripts.push_back(this);
}

ModalScript::~ModalScript()
{
    timer.stop();
    activeScripts.erase(std::remove(activeScripts.begin(), activeScripts.end(), this), activeScripts.end());
    for (const Answer& answer : answers)
        ADD_FAILURE() << "The scripted " << kindName(answer.kind) << " \"" << answer.expected.toStdString()
                      << "\" never showed.";
}

ModalScript& ModalScript::expect(Kind kind, const QString& expected, std::function<void(QWidget*)> answer)
{
    answers.push_back({kind, expected, std::move(answer)});
    return *this;
}

ModalScript& ModalScript::messageBox(const QString& expected, QMessageBox::StandardButton button)
{
    return expect(Kind::MessageBox, expected, [button](QWidget* modal) {
        auto* box = static_cast<QMessageBox*>(modal);
        if (QAbstractButton* pressed = box->button(button)) {
            pressed->click();
            return;
        }
        ADD_FAILURE() << "The message box \"" << box->text().toStdString() << "\" has no button " << button;
        box->reject();
    });
}

ModalScript& ModalScript::chooseFiles(const QStringList& paths)
{
    return expect(Kind::FileDialog, QString(), [paths](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        dialog->setDirectory(QFileInfo(paths.value(0)).absolutePath());
        if (auto* field = dialog->findChild<QLineEdit*>("fileNameEdit"))
            field->setText(fileNameField(paths));
        else
            dialog->selectFile(paths.value(0));
        // accept() is protected in QFileDialog; the base's slot dispatches to it.
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible()) {
            ADD_FAILURE() << "The file dialog did not take " << paths.join(", ").toStdString();
            dialog->reject();
        }
    });
}

ModalScript& ModalScript::cancelFileDialog()
{
    return expect(Kind::FileDialog, QString(), [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
}

ModalScript& ModalScript::saveOptions(int typeIndex, int depthIndex, bool accept)
{
    return expect(Kind::SaveForm, QString(), [=](QWidget* modal) {
        auto* type = modal->findChild<QComboBox*>("comboBox_OutputExtension");
        auto* depth = modal->findChild<QComboBox*>("comboBox_OutputDepth");
        if (type && typeIndex >= 0)
            type->setCurrentIndex(typeIndex);
        if (depth && depthIndex >= 0)
            depth->setCurrentIndex(depthIndex);
        auto* dialog = static_cast<QDialog*>(modal);
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
}

ModalScript& ModalScript::inputText(const QString& text, bool accept)
{
    return expect(Kind::InputDialog, QString(), [=](QWidget* modal) {
        if (auto* input = qobject_cast<QInputDialog*>(modal))
            input->setTextValue(text);
        else if (auto* field = modal->findChild<QLineEdit*>())
            field->setText(text);
        auto* dialog = static_cast<QDialog*>(modal);
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
}

void ModalScript::poll()
{
    if (activeScripts.empty() || activeScripts.back() != this)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || handled.count(modal))
        return;
    handled.insert(modal);
    // A closed dialog may be shown again, or freed and its address reused by the next one.
    QObject::connect(modal, &QObject::destroyed, &timer, [this, modal] { handled.erase(modal); });
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        QObject::connect(dialog, &QDialog::finished, &timer, [this, modal] { handled.erase(modal); });

    Kind kind{};
    const bool known = kindOf(modal, &kind);
    const QString description = describe(modal);
    log << QString(known ? kindName(kind) : modal->metaObject()->className()) + ": " + description;
    if (!known || answers.empty() || answers.front().kind != kind ||
        (!answers.front().expected.isEmpty() && !description.contains(answers.front().expected))) {
        ADD_FAILURE() << "Unexpected " << (known ? kindName(kind) : modal->metaObject()->className()) << ": "
                      << description.toStdString()
                      << (answers.empty() ? std::string(" (no answer left)")
                                          : " (expected a " + std::string(kindName(answers.front().kind)) +
                                                " with \"" + answers.front().expected.toStdString() + "\")");
        rejectModal(modal);
        return;
    }
    const Answer answer = answers.front();
    answers.pop_front();
    answer.act(modal);
}

bool ModalScript::waitUntilAnswered(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!answers.empty() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return answers.empty();
}

}  // namespace windowtest
