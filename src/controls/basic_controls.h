#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace qevra::controls {

// A single-line label that sizes itself to its text.
class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& caption, QWidget* parent);
    QString caption() const { return text(); }
    void setCaption(const QString& caption);
};

// The push button of both windows: hand cursor, takes the focus, and runs
// its click action when a press completes.
class TxpButton : public QPushButton {
    Q_OBJECT
public:
    TxpButton(const QString& caption, QWidget* parent);
};

// The criterion box: toggles first, then runs its click action.
class TxpCheckBox : public QCheckBox {
    Q_OBJECT
public:
    TxpCheckBox(const QString& caption, QWidget* parent);
};

// The editable drop-down box with inline completion: the first item that
// begins with the typed text (letter case ignored) completes it, the
// completed rest selected.
class TfsComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TfsComboBox(QWidget* parent);
};

} // namespace qevra::controls
