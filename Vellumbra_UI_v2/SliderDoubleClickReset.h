#pragma once
#include <QObject>

#include <map>

class QSlider;
struct EditingSlider;

// Puts an editing slider back where the start-up settings place it when it is
// double-clicked; the slider then reports the change as after any move. The
// double-click is consumed so that the slider does not also page towards it.
class SliderDoubleClickReset : public QObject {
public:
    explicit SliderDoubleClickReset(QObject* parent);

    void watch(QSlider* slider, const EditingSlider& row);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::map<const QObject*, const EditingSlider*> rows;
};
