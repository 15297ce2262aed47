// The pairing passes of the main window: by name, and by size with the
// content stage, and their hand-off to the copies editor.
#include "app/main_window.h"
#include "base/exceptions.h"
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/content_stage.h"
#include "search/measuring.h"
#include "search/stop_flag.h"

#include <QFile>

namespace qevra {

namespace {

QString shown(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

} // namespace

void TForm1::appendRows(const std::vector<search::Row>& rows)
{
    for (const search::Row& row : rows) {
        ListBox2.append(row.first);
        ListBox3.append(row.second);
    }
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

void TForm1::funk()
{
    ListBox2.clear();
    ListBox3.clear();
    rowsCriterion = Criterion::Name;
    const std::size_t n = ListBox1.size();
    ProgressBar1->setMaximum(int(n));
    ProgressBar1->setPosition(0);

    // Every pair of equal names gives its two rows in outer-candidate order.
    // Only files whose names recur are identified, without following a link
    // at their end, so that one file is never paired with itself.
    std::vector<search::Row> rows;
    search::pairByName(
        ListBox1, search::identifyWith(services_.fileSystem), rows, candidateStamps,
        [this, n](std::size_t i) { step(search::Phase::Naming, i, n); }, measureThreads,
        [this] { pump(); });
    appendRows(rows);
    rows = {};

    // The picture kind is taken at the outer steps, so only when there was
    // a candidate; the media kind in any case.
    std::optional<PreviewKind> kind = previewKindFor(extensionText());
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
}

void TForm1::func()
{
    const std::size_t n = ListBox1.size();
    std::optional<std::size_t> count;
    std::optional<PreviewKind> kind;
    if (n == 0) {
        services_.ShowMessage(QStringLiteral("Файлов нет"));
    } else {
        ListBox2.clear();
        ListBox3.clear();
        const bool bySize = request_ && request_->criterion == Criterion::Size;
        rowsCriterion = bySize ? Criterion::Size : Criterion::Content;
        ProgressBar1->setMaximum(int(n));
        ProgressBar1->setPosition(1);

        // Every candidate is measured; its stamp (identity, size, time) is
        // what the content stage and the editor's deletions check against.
        // By size, rows come as the sizes do; by content, only the rows of
        // files found equal are made, once everything is measured.
        search::KeyPairer pairer;
        std::vector<search::Row> rows;
        bool measured = false;
        try {
            measured = search::measureCandidates(
                services_.fileSystem, ListBox1, candidateStamps, *this,
                [&](std::uint32_t i) {
                    if (!bySize)
                        return;
                    rows.clear();
                    pairer.add(
                        i, std::uint64_t(candidateStamps[i].size), ListBox1, candidateStamps, rows);
                    appendRows(rows);
                },
                measureThreads);
        } catch (const search::MeasureError& error) {
            showMeasuring(error.index());
            throw;
        }
        if (!measured)
            stopSearch();
        pairer.clear();

        if (!bySize)
            keepEqualContent();

        StatusBar1->setText(QString());
        kind = previewKindFor(extensionText());
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

void TForm1::stopSearch()
{
    StatusBar1->setText(QString());
    ProgressBar1->setPosition(0);
    search::StopFlag = 0;
    Abort();
}

void TForm1::keepEqualContent()
{
    StatusBar1->setText(kComparingText);
    const auto rows = search::pairByContent(services_.fileSystem, ListBox1, candidateStamps, *this);
    if (!rows)
        stopSearch();
    appendRows(*rows);
}

} // namespace qevra
