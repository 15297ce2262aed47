#pragma once

#include <QWidget>

namespace qevra::controls {

// The progress bar: the filled part is width × position ÷ maximum pixels,
// rounded to the nearest pixel; at position 0 or with a maximum of 0 the
// whole bar is unfilled. The minimum plays no part in the drawing.
class ProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int position() const { return position_; }
    int step() const { return step_; }

    void setMaximum(int maximum);
    // A position above the maximum is refused: false, nothing changes.
    bool setPosition(int position);

    // Pixels of the filled part for a bar `width` pixels wide.
    static int filledWidth(int width, int position, int maximum);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int min_ = 1;
    int max_ = 100;
    int position_ = 0;
    int step_ = 1;
};

} // namespace qevra::controls
