// The search command of the main window: checks, clears, collection and the
// pass the criterion selects.
#include "app/main_window.h"
#include "base/exceptions.h"
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/stop_flag.h"

#include <QCoreApplication>

namespace qevra {

// Holds the running search's request for its whole extent, however it
// ends; when the main window was closed meanwhile, the program ends as the
// command returns.
class TForm1::SearchRun {
public:
    SearchRun(TForm1& form, search::SearchRequest request)
        : form_(form)
    {
        form_.request_ = std::move(request);
    }
    ~SearchRun()
    {
        form_.request_.reset();
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
    if (searching())
        return;

    if (Label2->caption() == kNoDirectory) {
        services_.ShowMessage(QStringLiteral("Выберите каталог"));
        Abort();
    }
    search::SearchRequest request;
    request.extensionText = proComboBox1->currentText();
    if (request.extensionText.isEmpty()) {
        services_.ShowMessage(QStringLiteral("Выберите расширение файлов"));
        Abort();
    }
    // One criterion is checked at a time; the order is that of the boxes.
    if (checkbox1->isChecked())
        request.criterion = Criterion::Content;
    else if (CheckBox2->isChecked())
        request.criterion = Criterion::Name;
    else if (CheckBox3->isChecked())
        request.criterion = Criterion::Size;
    else {
        services_.ShowMessage(QStringLiteral("Выберите критерии поиска файлов"));
        Abort();
    }
    request.roots = ListBox4.toVector();
    for (const QString& mask : search::masksFor(request.extensionText))
        request.masks.emplace_back(mask);

    SearchRun run(*this, std::move(request));
    if (form2_)
        form2_->clearNameLists();
    StatusBar1->setText(kScanningText);
    // A large earlier search's lists give their memory back.
    ListBox2.release();
    ListBox3.release();
    ListBox1.release();
    search::StampList().swap(candidateStamps);

    for (const std::string& root : request_->roots)
        DirSize(root);

    StatusBar1->setText(kSearchingText);
    if (request_->criterion == Criterion::Name)
        funk();
    else
        func();

    if (form2_) {
        form2_->show();
        form2_->raise();
    }
}

QString TForm1::extensionText() const
{
    return request_ ? request_->extensionText : proComboBox1->currentText();
}

bool TForm1::step(search::Phase phase, std::uint64_t done, std::uint64_t total)
{
    // The events step runs a few times a second at most; the displays are
    // refreshed when it ran, so that per-file work costs no window time.
    const bool ran = pump();
    switch (phase) {
    case search::Phase::Collecting:
        if (search::StopFlag != 0) {
            search::StopFlag = 0;
            return false;
        }
        StatusBar1->setText(kScanningText);
        return true;
    case search::Phase::Naming:
        // The name pass does not answer Stop: a press waits for the next
        // search.
        if (ran && done < ListBox1.size())
            showNaming(std::size_t(done));
        return true;
    case search::Phase::Measuring:
        if (search::StopFlag != 0)
            return false;
        if (ran || done + 1 == total)
            showMeasuring(std::size_t(done));
        return true;
    case search::Phase::Comparing:
        // The bar keeps its scale of candidates and shows the share of the
        // bytes compared.
        if (ran && total > 0)
            ProgressBar1->setPosition(int(static_cast<long double>(done) * ProgressBar1->maximum()
                / static_cast<long double>(total)));
        return search::StopFlag == 0;
    }
    return true;
}

void TForm1::DirSize(const std::string& dir)
{
    std::vector<search::WildcardMatcher> ownMasks;
    if (!request_) {
        for (const QString& mask : search::masksFor(proComboBox1->currentText()))
            ownMasks.emplace_back(mask);
    }
    search::Collector collector(services_.fileSystem, FileListBox1, readAhead);
    const auto outcome
        = collector.collect(dir, request_ ? request_->masks : ownMasks, ListBox1, *this);
    if (outcome == search::CollectOutcome::Stopped)
        Abort();
}

} // namespace qevra
