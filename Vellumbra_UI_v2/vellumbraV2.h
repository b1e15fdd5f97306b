#pragma once
#include "ui_vellumbraV2.h"

#include <QMainWindow>

// The application's one main window. Every action, menu and widget is reached
// through the form by its object name.
class VellumbraV2 : public QMainWindow {
    Q_OBJECT

public:
    explicit VellumbraV2(QWidget* parent = nullptr);

private:
    Ui::VellumbraClass ui;
};
