#include "ModalScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
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

namespace {

QPushButton* acceptButton(QFileDialog* dialog)
{
    auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox");
    if (!box)
        return nullptr;
    QPushButton* save = box->button(QDialogButtonBox::Save);
    return save ? save : box->button(QDialogButtonBox::Open);
}

void pressAccept(QFileDialog* dialog)
{
    QPushButton* accept = acceptButton(dialog);
    if (!accept || !accept->isEnabled()) {
        ADD_FAILURE() << "The file dialog offers no button to accept its name";
        dialog->reject();
        return;
    }
    QTest::mouseClick(accept, Qt::LeftButton);
    if (dialog->isVisible()) {
        ADD_FAILURE() << "The file dialog did not take its name";
        dialog->reject();
    }
}

// The row of the list that shows name, once the folder's listing has come in.
QModelIndex rowNamed(QAbstractItemView* list, const QString& name)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        const QAbstractItemModel* model = list->model();
        for (int row = 0; model && row < model->rowCount(list->rootIndex()); ++row) {
            const QModelIndex index = model->index(row, 0, list->rootIndex());
            if (index.data().toString() == name && !list->visualRect(index).isEmpty())
                return index;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return QModelIndex();
}

}  // namespace

ModalScript& ModalScript::acceptProposedName(QString* proposed)
{
    return expect(Kind::FileDialog, QString(), [proposed](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        if (proposed) {
            auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
            *proposed = field ? dialog->directory().filePath(field->text()) : QString();
        }
        pressAccept(dialog);
    });
}

ModalScript& ModalScript::chooseSubfolder(const QString& folder, const QString& name)
{
    return expect(Kind::FileDialog, QString(), [folder, name](QWidget* modal) {
        auto* dialog = static_cast<QFileDialog*>(modal);
        dialog->setDirectory(folder);
        auto* list = dialog->findChild<QAbstractItemView*>("listView");
        const QModelIndex row = list ? rowNamed(list, name) : QModelIndex();
        if (!row.isValid()) {
            ADD_FAILURE() << "The folder dialog never listed " << name.toStdString();
            dialog->reject();
            return;
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row).center());
        pressAccept(dialog);
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
