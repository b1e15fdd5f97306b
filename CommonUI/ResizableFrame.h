#pragma once
#include <QFrame>
#include <QPoint>
#include <QRect>

// Crop rectangle over the preview: moved by its inside, resized by its borders
// and corners. Its geometry within the parent is the crop.
class ResizableFrame : public QFrame {
    Q_OBJECT

public:
    explicit ResizableFrame(QWidget* parent);

    // Sets the geometry kept inside the parent, at least 10 x 10 where the parent allows.
    void setGeometryClamped(int x, int y, int width, int height);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Zone under the mouse from hovering: 0 top-left, 1 left, 2 bottom-left, 3 bottom,
    // 4 bottom-right, 5 right, 6 top-right, 7 top, 8 inside; -1 before any hover.
    void hover(int x, int y);
    void drag(int x, int y);

    QPoint pressPosition;
    QRect pressGeometry;
    int zone = -1;
};
