#include "UndoRedoManager.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QSlider>
#include <QSpinBox>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <vector>

namespace {

// The crop rectangle's owner in the window takes its value by const reference.
struct CropHolder {
    void setCropRect(const cv::Rect& rect) { crop = rect; }
    cv::Rect crop{0, 0, 100, 100};
};

// Widgets recorded the way the window's slots record them: after each change,
// the value before and after go to the history; replays go through the slots too.
class Recorded {
public:
    explicit Recorded(UndoRedoManager& history) : history(history)
    {
        for (int i = 0; i < 2; ++i) {
            sliders.push_back(std::make_unique<QSlider>());
            sliders.back()->setRange(-100, 100);
            QSlider* slider = sliders.back().get();
            previous.push_back(0);
            QObject::connect(slider, &QSlider::valueChanged, [this, i, slider](int value) {
                this->history.add(slider, &QAbstractSlider::setValue, previous[i], value, "Undo on exposure slider");
                previous[i] = value;
            });
        }
        spin.setRange(0, 50);
        QObject::connect(&spin, qOverload<int>(&QSpinBox::valueChanged), [this](int value) {
            this->history.add(&spin, &QSpinBox::setValue, spinBefore, value, "Undo on neighboring frames number");
            spinBefore = value;
        });
        QObject::connect(&check, &QCheckBox::toggled, [this](bool on) {
            this->history.add(&check, &QAbstractButton::setChecked, !on, on, "Align check box toggled");
        });
        group.setCheckable(true);
        group.setChecked(false);
        QObject::connect(&group, &QGroupBox::toggled, [this](bool on) {
            this->history.add(&group, &QGroupBox::setChecked, !on, on, "Undo on applying sharpening");
        });
    }

    // Widget 0 and 1: sliders; 2: spin box; 3: check box; 4: group box; 5: crop.
    void set(int widget, int value)
    {
        switch (widget) {
        case 0:
        case 1: sliders[widget]->setValue(value); break;
        case 2: spin.setValue(value); break;
        case 3: check.setChecked(value != 0); break;
        case 4: group.setChecked(value != 0); break;
        default: {
            const cv::Rect before = crop.crop;
            crop.setCropRect(cv::Rect(value, value, 100 - value, 100 - value));
            history.add(&crop, &CropHolder::setCropRect, before, crop.crop, "Undo on crop");
        }
        }
    }
    int value(int widget) const
    {
        switch (widget) {
        case 0:
        case 1: return sliders[widget]->value();
        case 2: return spin.value();
        case 3: return check.isChecked();
        case 4: return group.isChecked();
        default: return crop.crop.x;
        }
    }

private:
    UndoRedoManager& history;
    std::vector<std::unique_ptr<QSlider>> sliders;
    std::vector<int> previous;
    QSpinBox spin;
    int spinBefore = 0;
    QCheckBox check;
    QGroupBox group;
    CropHolder crop;
};

struct Step {
    char op;  // 's' set widget to value, 'u' undo, 'r' redo, 'c' clear
    int widget;
    int value;
    int afterMs;  // the clock moves on this much before the step
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    int undoCount;
    int redoCount;
    std::vector<int> values;  // widgets 0 to 5 at the end
};

std::vector<Step> distinctChanges(int count)
{
    std::vector<Step> steps;
    for (int i = 1; i <= count; ++i)
        steps.push_back({'s', 0, i, 600});
    return steps;
}

std::vector<Step> withUndos(std::vector<Step> steps, int undos)
{
    for (int i = 0; i < undos; ++i)
        steps.push_back({'u', 0, 0, 0});
    return steps;
}

}  // namespace

TEST(UndoRedoManager, RecordsMergesTrimsAndReplaysChanges)
{
    const Case cases[] = {
        {"a drag with steps under 500 ms is one record; undo restores the start",
         {{'s', 0, 10, 0}, {'s', 0, 20, 300}, {'s', 0, 30, 300}, {'s', 0, 40, 499}, {'u', 0, 0, 0}},
         0, 1, {0, 0, 0, 0, 0, 0}},
        {"a pause of exactly 500 ms starts a new record",
         {{'s', 0, 10, 0}, {'s', 0, 20, 500}, {'u', 0, 0, 0}},
         1, 1, {10, 0, 0, 0, 0, 0}},
        {"A, B, A within 500 ms are three records",
         {{'s', 0, 10, 0}, {'s', 1, 5, 100}, {'s', 0, 15, 100}},
         3, 0, {15, 5, 0, 0, 0, 0}},
        {"a drag back to its start leaves one record that changes nothing",
         {{'s', 0, 10, 0}, {'s', 0, 0, 100}, {'u', 0, 0, 0}},
         0, 1, {0, 0, 0, 0, 0, 0}},
        {"25 changes keep the last 20", withUndos(distinctChanges(25), 25), 0, 20, {5, 0, 0, 0, 0, 0}},
        {"redo replays what undo took back",
         {{'s', 0, 10, 0}, {'s', 2, 4, 600}, {'s', 3, 1, 600}, {'u', 0, 0, 0}, {'u', 0, 0, 0}, {'r', 0, 0, 0}},
         2, 1, {10, 0, 4, 0, 0, 0}},
        {"a new change after undo empties the redo stack",
         {{'s', 0, 10, 0}, {'s', 0, 20, 600}, {'u', 0, 0, 0}, {'s', 1, 7, 600}},
         2, 0, {10, 7, 0, 0, 0, 0}},
        {"undo and redo on an empty history do nothing", {{'u', 0, 0, 0}, {'r', 0, 0, 0}}, 0, 0, {0, 0, 0, 0, 0, 0}},
        {"a change within 500 ms of the last record merges into the top record after an undo",
         {{'s', 0, 10, 0}, {'s', 1, 5, 600}, {'u', 0, 0, 0}, {'s', 0, 12, 100}},
         1, 1, {12, 0, 0, 0, 0, 0}},
        {"undo creates no record and leaves the merge clock alone",
         {{'s', 0, 10, 0}, {'s', 1, 5, 600}, {'u', 0, 0, 400}, {'s', 0, 12, 400}},
         2, 0, {12, 0, 0, 0, 0, 0}},
        {"check box, group box, spin box and crop records replay",
         {{'s', 3, 1, 0}, {'s', 4, 1, 600}, {'s', 2, 9, 600}, {'s', 5, 20, 600}, {'u', 0, 0, 0}, {'u', 0, 0, 0},
          {'u', 0, 0, 0}, {'u', 0, 0, 0}, {'r', 0, 0, 0}, {'r', 0, 0, 0}},
         2, 2, {0, 0, 0, 1, 1, 0}},
        {"clear empties both stacks", {{'s', 0, 10, 0}, {'s', 0, 20, 600}, {'u', 0, 0, 0}, {'c', 0, 0, 0}},
         0, 0, {10, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000LL);
        QAction undoAction;
        QAction redoAction;
        UndoRedoManager::addUndoControl(&undoAction);
        UndoRedoManager::addRedoControl(&redoAction);
        {
            UndoRedoManager history([&now] { return now; });
            EXPECT_FALSE(undoAction.isEnabled());
            EXPECT_FALSE(redoAction.isEnabled());
            Recorded widgets(history);
            for (const Step& step : c.steps) {
                now = now.addMSecs(step.afterMs);
                switch (step.op) {
                case 's': widgets.set(step.widget, step.value); break;
                case 'u': history.undo(); break;
                case 'r': history.redo(); break;
                default: history.clear(); break;
                }
            }
            EXPECT_EQ(history.undoCount(), c.undoCount);
            EXPECT_EQ(history.redoCount(), c.redoCount);
            EXPECT_LE(history.undoCount() + history.redoCount(), UndoRedoManager::undoDepth);
            EXPECT_EQ(undoAction.isEnabled(), c.undoCount > 0);
            EXPECT_EQ(redoAction.isEnabled(), c.redoCount > 0);
            for (int widget = 0; widget < static_cast<int>(c.values.size()); ++widget)
                EXPECT_EQ(widgets.value(widget), c.values[widget]) << "widget " << widget;
        }
        UndoRedoManager::deleteControls();
    }
}

TEST(UndoRedoManager, ControlsOfDeletedActionsAreSkipped)
{
    auto undoAction = std::make_unique<QAction>();
    UndoRedoManager::addUndoControl(undoAction.get());
    undoAction.reset();
    QSlider slider;
    UndoRedoManager history;
    history.add(&slider, &QAbstractSlider::setValue, 0, 3, "Undo on hue slider");
    EXPECT_TRUE(history.canUndo());
    UndoRedoManager::deleteControls();
}
