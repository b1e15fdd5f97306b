#pragma once
#include <QMessageBox>
#include <QString>

class QWidget;

// "Replace / Use a new name", asked for a file that exists already; a new name is
// the default. With several files, its check box lets the answer stand for the rest.
class ExistingFileQuestion {
public:
    ExistingFileQuestion(QWidget* parent, bool severalFiles);

    // True to write over target, false to take a new name. The question names the
    // result that goes to target, when given.
    bool replace(const QString& target, const QString& result = QString());

private:
    QMessageBox box;
    int answer = -1;
};

// The name one file is written under: fileName when no file is there or the user
// replaces it, else the first free "name-N" beside it.
QString replaceOrRename(QWidget* parent, const QString& fileName);
