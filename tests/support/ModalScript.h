#pragma once
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <set>

class QWidget;

namespace windowtest {

// Answers the modal dialogs of a window test by script. A timer looks for the
// top modal widget while the code under test runs its dialog's event loop; each
// dialog that shows takes the next scripted answer in order. A dialog of another
// kind or text than the next answer expects, or one shown when the script is
// used up, fails the test and is rejected so the test goes on. Answers still
// waiting when the script ends fail the test too. Scripts nest: the latest one
// in force answers, so an empty script kept for a whole test fails every dialog
// that no inner script expects.
//
// File dialogs must be the toolkit's own: the constructor asks for them.
class ModalScript {
public:
    // Dialog: any other dialog, found by its title.
    enum class Kind { MessageBox, FileDialog, SaveForm, InputDialog, Dialog };

    ModalScript();
    ~ModalScript();
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    // A message box whose title or text holds `expected` (any box when empty);
    // presses the standard button.
    ModalScript& messageBox(const QString& expected, QMessageBox::StandardButton button);
    // Chooses existing files (one or more) in an open dialog, or names the file of a save dialog.
    ModalScript& chooseFiles(const QStringList& paths);
    ModalScript& cancelFileDialog();
    // Presses Save (or Open) on the name the dialog proposes, as a user does; the
    // proposed path (folder and name) goes to *proposed when given.
    ModalScript& acceptProposedName(QString* proposed = nullptr);
    // In a folder dialog: goes to `folder`, clicks its sub-folder `name` in the list
    // and presses Choose.
    ModalScript& chooseSubfolder(const QString& folder, const QString& name);
    // The save-options dialog: picks the type and depth rows, then OK or Cancel.
    ModalScript& saveOptions(int typeIndex, int depthIndex, bool accept = true);
    // An input dialog, or the new-preset dialog: enters the text, then OK or Cancel.
    ModalScript& inputText(const QString& text, bool accept = true);
    // Any other answer.
    ModalScript& expect(Kind kind, const QString& expected, std::function<void(QWidget*)> answer);

    // Processes events until every scripted answer was given; false on time-out.
    bool waitUntilAnswered(int timeoutMs = 20000);
    int pending() const { return static_cast<int>(answers.size()); }
    // "kind: title | text" of every dialog seen, in order.
    const QStringList& seen() const { return log; }

private:
    struct Answer {
        Kind kind;
        QString expected;
        std::function<void(QWidget*)> act;
    };

    void poll();

    std::deque<Answer> answers;
    QTimer timer;
    QStringList log;
    std::set<const QWidget*> handled;
};

}  // namespace windowtest
