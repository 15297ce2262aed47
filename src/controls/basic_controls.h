#pragma once

#include "controls/flat_controls.h"

#include <QComboBox>
#include <QLabel>

namespace qevra::controls {

// A single-line label that sizes itself to its text.
class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& caption, QWidget* parent);
    QString caption() const { return text(); }
    void setCaption(const QString& caption);

    // Names the label for assistive tools as "title: caption", kept up to
    // date as the caption changes, for labels whose text alone (a path,
    // "не выбран") does not say what it is.
    void setAccessibleTitle(const QString& title);

    // The caption's colour: the program's text colour unless set.
    QColor textColour() const { return textColour_; }
    void setTextColour(QColor colour);

protected:
    // Under a style sheet the caption keeps its colour on a clear ground.
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void nameForAccessibility();

    QString accessibleTitle_;
    QColor textColour_;
};

class FlatComboEdit;

// The editable drop-down box with inline completion: the first item that
// begins with the typed text (letter case ignored) completes it, the
// completed rest selected. With fsFlat the flat frame is painted over its
// outer three pixels, edit field included.
class TfsComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(qevra::controls::TFlatStyle FlatStyle READ flatStyle WRITE setFlatStyle)
public:
    explicit TfsComboBox(QWidget* parent);

    TFlatStyle flatStyle() const { return flat_.style(); }
    void setFlatStyle(TFlatStyle style);
    bool hover() const { return flat_.hover(); }
    bool isHot() const { return flat_.isHot(); }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    friend class FlatComboEdit;
    // Paints the line over the drop-down button's left edge and the frame,
    // in the box's own coordinates.
    void paintFlatFrame(QPainter& painter) const;

    FlatFrameState flat_;
};

} // namespace qevra::controls
