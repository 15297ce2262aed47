// The search command of the main window and its routines: adapters over the
// engine's search (search/search.h), which run the events step from its
// progress, show where it has come and hand its answer to the copies editor.
#include "app/main_window.h"
#include "app/stop_flag.h"
#include "base/exceptions.h"
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/comparison_memory.h"
#include "search/measuring.h"
#include "search/search.h"

#include <QCoreApplication>
#include <QFile>

namespace qevra {

namespace {

QString shown(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

} // namespace

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
    search::SearchRequest request = requestFromBoxes();
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

    SearchRun run(*this, std::move(request));
    if (form2_)
        form2_->clearNameLists();
    StatusBar1->setText(kScanningText);
    // The whole search in the engine; a large earlier search's lists give
    // their memory back first.
    endStage(
        measuring([&] { return search::run(*request_, services_.fileSystem, results, *this); }));
    handOff(request_->criterion);

    if (form2_) {
        form2_->show();
        form2_->raise();
    }
}

search::SearchRequest TForm1::requestFromBoxes() const
{
    search::SearchRequest request;
    request.extensionText = proComboBox1->currentText();
    for (const QString& mask : search::masksFor(request.extensionText))
        request.masks.emplace_back(mask);
    request.options.readAhead = readAhead;
    request.options.measureThreads = measureThreads;
    // A candidate that cannot be measured ends the search in the error box.
    request.options.stopAtUnmeasurable = true;
    // What searches by content proved is remembered for the next ones.
    if (const auto folder = search::ComparisonStore::folderForSearches())
        request.options.comparisons = *folder;
    return request;
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
        if (StopFlag != 0) {
            StopFlag = 0;
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
        if (StopFlag != 0)
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
        return StopFlag == 0;
    }
    return true;
}

void TForm1::phaseStarted(search::Phase phase, std::uint64_t total)
{
    switch (phase) {
    case search::Phase::Collecting:
        break;
    case search::Phase::Naming:
        StatusBar1->setText(kSearchingText);
        ProgressBar1->setMaximum(int(total));
        ProgressBar1->setPosition(0);
        break;
    case search::Phase::Measuring:
        StatusBar1->setText(kSearchingText);
        if (total > 0) {
            ProgressBar1->setMaximum(int(total));
            ProgressBar1->setPosition(1);
        }
        break;
    case search::Phase::Comparing:
        StatusBar1->setText(kComparingText);
        break;
    }
}

void TForm1::warning(const search::Warning& warning)
{
    // The window has no place for them: they go where the program's
    // warnings go.
    qWarning("%s: %s", warning.path.c_str(), warning.what.c_str());
}

void TForm1::showNaming(std::size_t candidate)
{
    ProgressBar1->setPosition(int(candidate));
    StatusBar1->setText(shown(fs::bareName(ListBox1[candidate])));
}

void TForm1::showMeasuring(std::size_t candidate)
{
    ProgressBar1->setPosition(int(candidate + 1));
    StatusBar1->setText(QStringLiteral("   ") + shown(ListBox1[candidate]));
}

search::Ended TForm1::measuring(const std::function<search::Ended()>& work)
{
    try {
        return work();
    } catch (const search::MeasureError& error) {
        // The displays show the candidate that could not be measured.
        showMeasuring(error.index());
        throw;
    }
}

void TForm1::endStage(const search::Ended& ended)
{
    if (!ended.stopped)
        return;
    // Stopped in the collection, the search ends as it stands; in the size
    // pass, with its displays cleared.
    if (ended.phase == search::Phase::Collecting)
        Abort();
    stopSearch();
}

void TForm1::stopSearch()
{
    StatusBar1->setText(QString());
    ProgressBar1->setPosition(0);
    StopFlag = 0;
    Abort();
}

void TForm1::handOff(Criterion criterion)
{
    const std::size_t n = ListBox1.size();
    std::optional<PreviewKind> kind = previewKindFor(extensionText());
    if (criterion == Criterion::Name) {
        // The picture kind is taken at the outer steps, so only when there
        // was a candidate; the media kind in any case.
        if (n > 0) {
            ProgressBar1->setPosition(0);
            StatusBar1->setText(shown(fs::bareName(ListBox1[n - 1])));
        } else if (kind == PreviewKind::Pictures) {
            kind.reset();
        }
        if (form2_)
            form2_->showResults(ListBox2.size(), kind, false);
        hide();
        if (form2_)
            form2_->show();
        return;
    }
    std::optional<std::size_t> count;
    if (n == 0) {
        services_.ShowMessage(QStringLiteral("Файлов нет"));
        kind.reset();
    } else {
        StatusBar1->setText(QString());
        if (ListBox2.empty()) {
            services_.ShowMessage(QStringLiteral("Дубликатов нету"));
            if (kind == PreviewKind::Pictures)
                kind.reset();
        } else {
            if (form2_)
                form2_->show();
            hide();
            count = ListBox2.size();
        }
    }
    ProgressBar1->setPosition(0);
    if (form2_)
        form2_->showResults(count, kind, true);
}

void TForm1::DirSize(const std::string& dir)
{
    const search::SearchRequest own = request_ ? search::SearchRequest() : requestFromBoxes();
    const search::SearchRequest& request = request_ ? *request_ : own;
    endStage(search::collectRoot(request, services_.fileSystem, dir, results, *this));
}

void TForm1::funk()
{
    runPass(Criterion::Name);
}

void TForm1::func()
{
    runPass(request_                 ? request_->criterion
            : CheckBox3->isChecked() ? Criterion::Size
                                     : Criterion::Content);
}

void TForm1::runPass(Criterion criterion)
{
    search::SearchRequest request = request_ ? *request_ : requestFromBoxes();
    request.criterion = criterion;
    endStage(
        measuring([&] { return search::runPass(request, services_.fileSystem, results, *this); }));
    handOff(criterion);
}

} // namespace qevra
