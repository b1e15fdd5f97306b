#pragma once
#include "EditingSliderTable.h"

#include <QMainWindow>
#include <QSlider>
#include <gtest/gtest.h>

// The main window's form on a bare window, for the editing sliders' names, ranges
// and start positions.
struct EditingForm {
    QMainWindow host;
    Ui_VellumbraClass ui;

    EditingForm() { ui.setupUi(&host); }

    QSlider* slider(const EditingSlider& row) const { return ui.*row.slider; }
    QString name(const EditingSlider& row) const { return slider(row)->objectName(); }

    static const EditingSlider& row(const QString& name)
    {
        const EditingSlider* found = editingSliderNamed(name);
        if (!found)
            ADD_FAILURE() << "no table row for " << name.toStdString();
        return found ? *found : editingSliders().front();
    }
};
