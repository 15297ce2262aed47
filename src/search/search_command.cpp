// The search command of the main window: checks, clears, collection and the
// pass the criterion selects.
#include "app/main_window.h"
#include "base/exceptions.h"
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/stop_flag.h"

#include <QCoreApplication>

namespace qevra {

// Marks a search as running for its whole extent, however it ends; when the
// main window was closed meanwhile, the program ends as the command returns.
class TForm1::SearchRun {
public:
    explicit SearchRun(TForm1& form)
        : form_(form)
    {
        form_.searching_ = true;
    }
    ~SearchRun()
    {
        form_.searching_ = false;
        form_.masks_.clear();
        form_.searchExtension_.clear();
        if (form_.endAfterSearch_)
            QCoreApplication::quit();
    }
    SearchRun(const SearchRun&) = delete;
    SearchRun& operator=(const SearchRun&) = delete;

private:
    TForm1& form_;
};

void TForm1::xpButton3Click()
{
    // A press while a search runs is ignored: the running search keeps the
    // inputs it started with.
    if (searching_)
        return;

    if (Label2->caption() == kNoDirectory) {
        platform::ShowMessage(QStringLiteral("Выберите каталог"));
        Abort();
    }
    const QString extensionText = proComboBox1->currentText();
    if (extensionText.isEmpty()) {
        platform::ShowMessage(QStringLiteral("Выберите расширение файлов"));
        Abort();
    }
    const bool byContent = checkbox1->isChecked();
    const bool byName = CheckBox2->isChecked();
    const bool bySize = CheckBox3->isChecked();
    if (!byContent && !byName && !bySize) {
        platform::ShowMessage(QStringLiteral("Выберите критерии поиска файлов"));
        Abort();
    }

    SearchRun run(*this);
    const std::vector<std::string> roots = ListBox4.toVector();
    searchExtension_ = extensionText;
    searchSizeOnly_ = bySize;
    for (const QString& mask : search::masksFor(extensionText))
        masks_.emplace_back(mask);

    if (form2_)
        form2_->clearNameLists();
    StatusBar1->setText(kScanningText);
    // A large earlier search's lists give their memory back.
    ListBox2.release();
    ListBox3.release();
    ListBox1.release();
    search::StampList().swap(candidateStamps);

    for (const std::string& root : roots)
        DirSize(root);

    StatusBar1->setText(kSearchingText);

    // One criterion is checked at a time; the order is that of the boxes.
    if (byContent)
        func();
    if (byName)
        funk();
    if (bySize)
        func();

    if (form2_) {
        form2_->show();
        form2_->raise();
    }
}

QString TForm1::extensionText() const
{
    return searching_ ? searchExtension_ : proComboBox1->currentText();
}

bool TForm1::sizeOnly() const
{
    return searching_ ? searchSizeOnly_ : CheckBox3->isChecked();
}

bool TForm1::enterDirectory()
{
    pump();
    if (search::StopFlag != 0) {
        search::StopFlag = 0;
        return false;
    }
    StatusBar1->setText(kScanningText);
    return true;
}

void TForm1::DirSize(const std::string& dir)
{
    std::vector<search::WildcardMatcher> ownMasks;
    if (!searching_) {
        for (const QString& mask : search::masksFor(proComboBox1->currentText()))
            ownMasks.emplace_back(mask);
    }
    search::Collector collector(*fileSystem, FileListBox1);
    const auto outcome = collector.collect(
        dir, searching_ ? masks_ : ownMasks, ListBox1, [this] { return enterDirectory(); });
    if (outcome == search::CollectOutcome::Stopped)
        Abort();
}

} // namespace qevra
