#pragma once

#include <QWidget>

namespace qevra::controls {

// A status bar of one part across its whole width that shows one line of
// text in the tooltip font.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    // Replaces the whole line; repaints only when the text changed.
    void setText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

} // namespace qevra::controls
