#pragma once

#include <QImage>
#include <QWidget>

namespace qevra::controls {

// A picture box: shows one picture stretched over its whole rectangle
// (aspect ratio not kept). It keeps its picture until another is set;
// hiding it does not clear it.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent);

    const QImage& picture() const { return picture_; }
    void setPicture(const QImage& picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

} // namespace qevra::controls
