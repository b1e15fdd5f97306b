#pragma once

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <opencv2/core.hpp>

#include <memory>
#include <vector>


namespace Ui {
class ImageRightReferencedClass;
}

// A frame tile of the advanced mode's frame list: a thumbnail with a text, a
// tinted pin shown over the timeline while the pointer hovers the tile, and the
// highlight of the tile last clicked.
class ProSharpestImageSelection : public QFrame {
    Q_OBJECT

public:
    // The tile joins parent's layout; its pin is a child of pinParent.
    ProSharpestImageSelection(QWidget* parent, QWidget* pinParent, const cv::Mat& image, int frameIndex,
                              const QString& text);
    // Leaves the list of tiles and deletes its pin.
    ~ProSharpestImageSelection() override;

    // Deletes every frame tile still alive.
    static void deleteAll();
    // The frame tiles alive, in creation order.
    static const std::vector<ProSharpestImageSelection*>& tiles() { return allTiles; }

    int frameIndex() const { return frameIndex_; }
    int tileNumber() const { return tileNumber_; }
    QLabel* pinLabel() const { return pinLabel_; }

signals:
    void onClick(int frameIndex);
    void movePin(QWidget* pin, int frameIndex);

public slots:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Highlights this tile and clears the others.
    void FrameClicked(int frameIndex);

private:
    static std::vector<ProSharpestImageSelection*> allTiles;

    // The pin goes with its parent when that is deleted first.
    QPointer<QLabel> pinLabel_;
    std::unique_ptr<Ui::ImageRightReferencedClass> ui;
    const int frameIndex_;
    const int tileNumber_;
};
