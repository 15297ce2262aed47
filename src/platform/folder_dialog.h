#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qevra::platform {

// The bare names (file-system bytes) of the real sub-directories of `dir`,
// in the order the folder tree shows them: "." and "..", files and symbolic
// links left out; ordinary names first, then the hidden (dot) ones, each
// group sorted by displayed name case-insensitively (ties by bytes). Empty
// when the directory cannot be read.
std::vector<std::string> subdirectoryNames(const std::string& dir);

// The folder-browse dialog: the prompt above a tree of directories that
// starts at "/", with nothing preselected, and a line where a path can be
// typed. OK is enabled only while the answer names an existing directory.
//
// The answer is the selected tree item, or the typed text (encoded with
// QFile::encodeName), whichever the user did last, as the canonical path of
// the directory it names: no ".", "..", doubled "/" or symbolic link in it.
class FolderDialog : public QDialog {
    Q_OBJECT
public:
    FolderDialog(QWidget* parent, const QString& prompt);

    // Runs the dialog modally; the chosen directory's bytes, or nothing.
    static std::optional<std::string> browse(QWidget* parent, const QString& prompt);

    // The directory the dialog would return now (bytes), if any.
    std::optional<std::string> chosen() const;

    // The role under which each tree item keeps its full path (QByteArray).
    static constexpr int kPathRole = Qt::UserRole;

    QLabel* promptLabel;
    QTreeWidget* tree;
    QLineEdit* pathEdit;
    QPushButton* okButton;
    QPushButton* cancelButton;

private:
    // Whether the item's children have been read.
    static constexpr int kFilledRole = Qt::UserRole + 1;

    QTreeWidgetItem* makeItem(const std::string& path, const QString& shown);
    void fillChildren(QTreeWidgetItem* item);
    void selectionChanged();
    void textEdited(const QString& text);
    void updateOk();

    std::string answer_;
};

} // namespace qevra::platform
