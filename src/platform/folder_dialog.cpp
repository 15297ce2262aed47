#include "platform/folder_dialog.h"

#include "fs/file_system.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace qevra::platform {

namespace {

bool isDirectory(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A typed path without its trailing slashes; "/" (or "//"...) stays "/".
std::string withoutTrailingSlash(std::string path)
{
    const auto last = path.find_last_not_of('/');
    if (last == std::string::npos)
        return path.empty() ? path : std::string("/");
    path.erase(last + 1);
    return path;
}

} // namespace

std::vector<std::string> subdirectoryNames(const std::string& dir)
{
    fs::DirListing listing;
    if (!fs::realFileSystem().readDirectory(dir, listing))
        return {};

    struct Entry {
        std::string name;
        QString shown;
        bool hidden;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        // The listing says Directory only for real directories, never for a
        // symbolic link to one, so links are neither shown nor followed.
        if (listing.type(i) != fs::EntryType::Directory)
            continue;
        const std::string_view name = listing.name(i);
        if (name == "." || name == "..")
            continue;
        const QByteArray bytes(name.data(), static_cast<qsizetype>(name.size()));
        entries.push_back({ std::string(name), QFile::decodeName(bytes), name.front() == '.' });
    }
    // Hidden directories are shown, but after the ordinary ones, so that the
    // folders a user usually looks for come first.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.hidden != b.hidden)
            return !a.hidden;
        const int order = a.shown.compare(b.shown, Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
        return a.name < b.name;
    });

    std::vector<std::string> names;
    names.reserve(entries.size());
    for (Entry& entry : entries)
        names.push_back(std::move(entry.name));
    return names;
}

FolderDialog::FolderDialog(QWidget* parent, const QString& prompt)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Обзор папок"));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    promptLabel = new QLabel(prompt, this);
    promptLabel->setWordWrap(true);
    tree = new QTreeWidget(this);
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setUniformRowHeights(true);
    pathEdit = new QLineEdit(this);
    tree->setAccessibleName(QStringLiteral("Папки"));
    pathEdit->setAccessibleName(QStringLiteral("Путь к папке"));
    auto* buttons = new QDialogButtonBox(this);
    okButton = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    cancelButton = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    // Enter anywhere but on "Отмена" presses OK, and only while it is enabled
    // (QDialog ignores Enter when the default button is disabled); the line
    // edit passes Enter on to the dialog.
    okButton->setDefault(true);
    layout->addWidget(promptLabel);
    layout->addWidget(tree);
    layout->addWidget(pathEdit);
    layout->addWidget(buttons);

    // The top of the hierarchy, collapsed: nothing is read until it is
    // expanded, and nothing is selected.
    tree->addTopLevelItem(makeItem("/", QStringLiteral("/")));

    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        // The directory may have gone since OK was enabled.
        if (chosen())
            accept();
        else
            updateOk();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tree, &QTreeWidget::itemExpanded, this, &FolderDialog::fillChildren);
    connect(tree, &QTreeWidget::itemSelectionChanged, this, &FolderDialog::selectionChanged);
    // textEdited, not textChanged: only what the user types replaces the
    // answer; the text shown for a selected item (decoded, perhaps lossily)
    // never becomes a path.
    connect(pathEdit, &QLineEdit::textEdited, this, &FolderDialog::textEdited);
    updateOk();
    resize(360, 420);
}

QTreeWidgetItem* FolderDialog::makeItem(const std::string& path, const QString& shown)
{
    auto* item = new QTreeWidgetItem(QStringList { shown });
    item->setData(0, kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    item->setData(0, kFilledRole, false);
    // Whether a directory has sub-directories is known only once it is read;
    // reading every shown directory ahead would stall on slow mounts, so the
    // indicator is offered and taken away when expansion finds nothing.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

void FolderDialog::fillChildren(QTreeWidgetItem* item)
{
    if (item->data(0, kFilledRole).toBool())
        return;
    item->setData(0, kFilledRole, true);
    const QByteArray pathBytes = item->data(0, kPathRole).toByteArray();
    const std::string dir(pathBytes.constData(), static_cast<std::size_t>(pathBytes.size()));

    QList<QTreeWidgetItem*> children;
    for (const std::string& name : subdirectoryNames(dir)) {
        std::string path = dir;
        path += fs::separatorFor(dir);
        path += name;
        const QByteArray nameBytes(name.data(), static_cast<qsizetype>(name.size()));
        children.append(makeItem(path, QFile::decodeName(nameBytes)));
    }
    if (children.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    else
        item->addChildren(children);
}

void FolderDialog::selectionChanged()
{
    const QList<QTreeWidgetItem*> selected = tree->selectedItems();
    if (selected.isEmpty())
        return; // cleared because the user typed: the typed text stays the answer
    const QByteArray bytes = selected.front()->data(0, kPathRole).toByteArray();
    answer_.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    pathEdit->setText(QFile::decodeName(bytes));
    updateOk();
}

void FolderDialog::textEdited(const QString& text)
{
    // "~" at the start stands for the home directory, as in a shell.
    QString typed = text;
    if (typed == u'~' || typed.startsWith(QStringLiteral("~/")))
        typed.replace(0, 1, QDir::homePath());
    answer_ = withoutTrailingSlash(QFile::encodeName(typed).toStdString());
    // The selection no longer names the answer; clearing it also lets a
    // later click on the same item choose it again.
    tree->clearSelection();
    updateOk();
}

std::optional<std::string> FolderDialog::chosen() const
{
    // Only a full path names a directory: the program has no working
    // directory a relative one could be taken from. The answer is the
    // directory's canonical path (no ".", "..", doubled "/" or link in it),
    // so that what is shown is what is searched and one directory is always
    // spelt alike.
    if (answer_.empty() || answer_.front() != '/')
        return std::nullopt;
    const std::unique_ptr<char, decltype(&std::free)> canonical(
        ::realpath(answer_.c_str(), nullptr), &std::free);
    if (!canonical || !isDirectory(canonical.get()))
        return std::nullopt;
    return std::string(canonical.get());
}

void FolderDialog::updateOk()
{
    okButton->setEnabled(chosen().has_value());
}

std::optional<std::string> FolderDialog::browse(QWidget* parent, const QString& prompt)
{
    FolderDialog dialog(parent, prompt);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

} // namespace qevra::platform
