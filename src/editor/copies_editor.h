#pragma once

#include <QWidget>

namespace qevra {

class TForm1;

// The copies editor: lists the pairs a search found. Closing it hides it
// and brings the main window back.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(TForm1* form1, QWidget* parent = nullptr);

    // Empties both name lists (the search does this before collecting).
    void clearNameLists();

    void FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TForm1* form1_;
};

} // namespace qevra
