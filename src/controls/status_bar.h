#pragma once

#include <QWidget>

namespace qevra::controls {

// A status bar of one part across its whole width that shows one line of
// text in the tooltip font. It docks at the bottom edge of its parent, 16
// pixels high, or higher when the font needs it: two blank rows, the
// panel's edge lines around the font's full height, and one blank row.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    static constexpr int kDesignedHeight = 16;

    const QString& text() const { return text_; }
    // Replaces the whole line; repaints only when the text changed.
    void setText(const QString& text);

    // The bar's height for its font.
    int barHeight() const;
    // The rectangle inside the panel's edge lines where the text is drawn.
    QRect textArea() const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void dock();

    QString text_;
};

} // namespace qevra::controls
