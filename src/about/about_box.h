#pragma once

#include <QWidget>

namespace qevra {

// The About box: shown without being modal, hidden on close; centred on the
// screen the first time, later where it was left.
class TAboutBox : public QWidget {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool placed_ = false;
};

} // namespace qevra
