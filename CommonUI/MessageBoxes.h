#pragma once
#include <QMessageBox>

class QWidget;

// Modal message boxes with translated button labels. Callers pass translated
// titles and texts; each returns the standard button that closed the box.
QMessageBox::StandardButton showCriticalBox(QWidget* parent, const QString& title, const QString& text);
QMessageBox::StandardButton showInformationBox(QWidget* parent, const QString& title, const QString& text);
QMessageBox::StandardButton showWarningBox(QWidget* parent, const QString& title, const QString& text);
// Yes is labelled "Close" and means close; No is labelled "Return".
QMessageBox::StandardButton askCloseOrReturn(QWidget* parent, const QString& title, const QString& text);
QMessageBox::StandardButton askYesNo(QWidget* parent, const QString& title, const QString& text);
QMessageBox::StandardButton askWarningYesNo(QWidget* parent, const QString& title, const QString& text);
