#pragma once
#include "ApplicationStyleSheet.h"
#include "vellumbraV2.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <memory>

// The real window, styled the way the program styles it: the sheet is on the
// application before the window is made, and taken off again afterwards.
class StyledMainWindow {
public:
    StyledMainWindow()
    {
        applyApplicationStyleSheet(*qApp);
        window = std::make_unique<VellumbraV2>();
        window->resize(1600, 900);
        window->show();
        QApplication::processEvents();
    }
    ~StyledMainWindow()
    {
        window.reset();
        qApp->setStyleSheet(QString());
    }
    template <class W = QWidget>
    W* child(const QString& name) const
    {
        W* widget = window->findChild<W*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }

    std::unique_ptr<VellumbraV2> window;
};
