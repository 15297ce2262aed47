// The pairing passes of the main window: by name, and by size with the
// content stage, and their hand-off to the copies editor.
#include "app/main_window.h"
#include "base/exceptions.h"
#include "editor/copies_editor.h"
#include "platform/services.h"
#include "search/content_stage.h"
#include "search/stop_flag.h"

#include <QFile>

namespace qevra {

namespace {

const QString kCountText = QStringLiteral("Всего найденных дубликатов - ");

bool inPictureSet(const QString& text)
{
    return text == "jpg" || text == "jpeg" || text == "bmp" || text == kPicturesGroup
        || text == "gif";
}

bool inMediaSet(const QString& text)
{
    return text == "mp3" || text == "wav" || text == "avi" || text == kVideoGroup || text == "mid";
}

QString shown(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

} // namespace

void TForm1::markPictures()
{
    if (form2_ && inPictureSet(extensionText()))
        form2_->Label6->setCaption(QStringLiteral("graf"));
}

void TForm1::markMedia()
{
    if (form2_ && inMediaSet(extensionText()))
        form2_->Label6->setCaption(QStringLiteral("mus"));
}

void TForm1::appendRows(const std::vector<search::Row>& rows, std::size_t from)
{
    for (std::size_t r = from; r < rows.size(); ++r) {
        ListBox2.append(rows[r].first);
        ListBox3.append(rows[r].second);
    }
}

void TForm1::fillNameLists()
{
    if (!form2_)
        return;
    form2_->appendRowNames();
}

void TForm1::funk()
{
    ListBox2.clear();
    ListBox3.clear();
    rowsCriterion = Criterion::Name;
    const std::size_t n = ListBox1.size();
    ProgressBar1->setMaximum(int(n));
    ProgressBar1->setPosition(0);

    // Every pair of equal names gives its two rows in outer-candidate order;
    // the window stays live, its displays refreshed a few times a second.
    // Only files whose names recur are identified, without following a
    // link at their end, so that one file is never paired with itself.
    std::vector<search::Row> rows;
    search::pairByName(
        ListBox1,
        [this](const std::string& path) {
            return fileSystem->examine(path, fs::Resolve::NoFinalLink);
        },
        rows, candidateStamps,
        [this](std::size_t i) {
            if (pump()) {
                ProgressBar1->setPosition(int(i));
                StatusBar1->setText(shown(fs::bareName(ListBox1[i])));
            }
        });
    appendRows(rows);
    rows = {};
    if (n > 0) {
        ProgressBar1->setPosition(0);
        StatusBar1->setText(shown(fs::bareName(ListBox1[n - 1])));
        markPictures();
    }
    markMedia();
    fillNameLists();
    if (form2_)
        form2_->Label1->setCaption(kCountText + QString::number(ListBox2.size()));
    hide();
    if (form2_)
        form2_->show();
}

void TForm1::func()
{
    const std::size_t n = ListBox1.size();
    if (n == 0) {
        platform::ShowMessage(QStringLiteral("Файлов нет"));
    } else {
        ListBox2.clear();
        ListBox3.clear();
        const bool bySize = sizeOnly();
        rowsCriterion = bySize ? Criterion::Size : Criterion::Content;
        ProgressBar1->setMaximum(int(n));
        ProgressBar1->setPosition(1);

        // Every candidate is measured; its stamp (identity, size, time) is
        // what the content stage and the editor's deletions check against.
        // By size, rows come as the sizes do; by content, only the rows of
        // files found equal are made, once everything is measured.
        candidateStamps.assign(n, fs::FileStamp());
        search::KeyPairer pairer;
        std::vector<search::Row> rows;
        for (std::size_t i = 0; i < n; ++i) {
            pump();
            if (search::StopFlag != 0)
                stopSearch();
            const std::string path(ListBox1[i]);
            // The displays show the candidate being measured; refreshed a
            // few times a second, and always when measuring fails.
            auto showCandidate = [&] {
                ProgressBar1->setPosition(int(i + 1));
                StatusBar1->setText(QStringLiteral("   ") + shown(path));
            };
            if (i + 1 == n)
                showCandidate();
            try {
                candidateStamps[i] = fileSystem->measure(path);
            } catch (...) {
                showCandidate();
                throw;
            }
            if (bySize) {
                rows.clear();
                pairer.add(std::uint32_t(i), std::uint64_t(candidateStamps[i].size), ListBox1,
                    candidateStamps, rows);
                appendRows(rows);
            }
        }
        pairer.clear();

        if (!bySize)
            keepEqualContent();

        StatusBar1->setText(QString());
        if (ListBox2.empty()) {
            platform::ShowMessage(QStringLiteral("Дубликатов нету"));
        } else {
            if (form2_)
                form2_->show();
            hide();
            if (form2_)
                form2_->Label1->setCaption(kCountText + QString::number(ListBox2.size()));
            markPictures();
        }
        markMedia();
    }

    // Hand-off to the copies editor.
    if (!form2_)
        return;
    form2_->clearNameLists();
    ProgressBar1->setPosition(0);
    fillNameLists();
    form2_->fsbitbtn4->hide();
    form2_->Label9->hide();
    const QString kind = form2_->Label6->caption();
    if (kind == QStringLiteral("graf") || kind == QStringLiteral("mus"))
        form2_->fsbitbtn4->show();
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
    // The bar keeps its scale of candidates and shows the share of bytes
    // compared.
    StatusBar1->setText(kComparingText);
    const std::int64_t scale = ProgressBar1->maximum();
    search::ProgressFunction progress(
        [this, scale](search::Phase, std::uint64_t done, std::uint64_t total) {
            if (pump() && total > 0)
                ProgressBar1->setPosition(
                    int(static_cast<long double>(done) * scale / static_cast<long double>(total)));
            return search::StopFlag == 0;
        });
    const auto rows = search::pairByContent(*fileSystem, ListBox1, candidateStamps, progress);
    if (!rows)
        stopSearch();
    appendRows(*rows);
}

std::int64_t TForm1::CompareFiles(const std::string& first, const std::string& second)
{
    return search::compareFiles(*fileSystem, first, second);
}

} // namespace qevra
