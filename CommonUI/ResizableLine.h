#pragma once
#include <QColor>
#include <QLabel>
#include <QPoint>

// Transparent line over the preview with two draggable ends; the horizon tool.
// It covers its whole parent and follows the parent's size while visible.
class ResizableLine : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QColor lineColor READ lineColor WRITE setLineColor)
    Q_PROPERTY(qint8 lineThickness READ lineThickness WRITE setLineThickness)
    Q_PROPERTY(Qt::PenStyle lineStyle READ lineStyle WRITE setLineStyle)

public:
    explicit ResizableLine(QWidget* parent);

    QColor lineColor() const { return color; }
    void setLineColor(const QColor& value);
    qint8 lineThickness() const { return thickness; }
    void setLineThickness(qint8 value);
    Qt::PenStyle lineStyle() const { return style; }
    void setLineStyle(Qt::PenStyle value);

    // Ends in this widget's coordinates; (-1, -1) until the line is first shown.
    QPoint p1() const { return end1; }
    QPoint p2() const { return end2; }

    // Shows the line across the middle half of the parent.
    void showDefault();

    bool eventFilter(QObject* object, QEvent* event) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool endsAreSet() const;
    void redraw();
    void rescale(bool keepScale);

    QColor color = Qt::white;
    qint8 thickness = 1;
    Qt::PenStyle style = Qt::SolidLine;
    QPoint end1{-1, -1};
    QPoint end2{-1, -1};
    QPoint* movingEnd = nullptr;
    QPoint* fixedEnd = nullptr;
};
