#pragma once

#include "base/criterion.h"
#include "controls/basic_controls.h"
#include "controls/progress_bar.h"
#include "controls/status_bar.h"
#include "controls/xp_button.h"
#include "controls/xp_check_box.h"
#include "fs/file_system.h"
#include "platform/event_pump.h"
#include "platform/services.h"
#include "search/masks.h"
#include "search/measuring.h"
#include "search/path_column.h"
#include "search/path_list.h"
#include "search/progress.h"
#include "search/request.h"
#include "search/results.h"
#include "search/search.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qevra {

class TForm2;
class TAboutBox;

// Texts the main window and the search share.
inline const QString kNoDirectory = QStringLiteral("не выбран");
inline const QString kScanningText = QStringLiteral("    Идет сканирование каталога");
inline const QString kSearchingText = QStringLiteral("    Идет поиск копий файлов");
inline const QString kComparingText = QStringLiteral("    Сравнение содержимого файлов");

// The main window: the choice of directories, extension and criterion, the
// search and its Stop, and the hidden lists that carry a search's data.
class TForm1 : public QWidget, public search::SearchObserver {
    Q_OBJECT
public:
    explicit TForm1(platform::Services& services, QWidget* parent = nullptr);
    ~TForm1() override;

    // The copies editor and the About box, created after this window.
    void setPeers(TForm2* form2, TAboutBox* aboutBox);
    TForm2* form2() const { return form2_; }
    TAboutBox* aboutBox() const { return aboutBox_; }

    // Visible controls.
    controls::TxpButton* xpButton1;
    controls::TxpButton* xpButton2;
    controls::TxpButton* xpButton3;
    controls::TxpButton* xpButton4;
    controls::Label* Label3;
    controls::Label* Label2;
    controls::Label* Label4;
    controls::TfsComboBox* proComboBox1;
    controls::TxpButton* fsBitBtn4;
    controls::Label* Label5;
    controls::TxpCheckBox* checkbox1;
    controls::TxpCheckBox* CheckBox2;
    controls::TxpCheckBox* CheckBox3;
    controls::ProgressBar* ProgressBar1;
    controls::StatusBar* StatusBar1;

    // What the search found, which the copies editor reads; the hidden
    // lists of candidates, first copies and second copies are its parts.
    search::Results results;
    search::PathList& ListBox1 = results.candidates;
    search::PathColumn& ListBox2 = results.first;
    search::PathColumn& ListBox3 = results.second;
    // What the search saw of each candidate it identified or measured (by
    // candidate index), and the criterion the rows were made by: the
    // editor's deletions check against them.
    search::StampList& candidateStamps = results.stamps;
    Criterion& rowsCriterion = results.criterion;
    // The hidden list of roots.
    search::PathList ListBox4;
    // The folder dialog's prompt.
    const QString folderDialog1Caption = QStringLiteral("Выберите папку для поиска дубликатов");

    // Handlers.
    void FormCreate();
    void FormMouseMove();
    void Label2MouseMove();
    void ProgressBar1MouseMove();
    void StatusBar1MouseMove();
    void xpButton1Click();
    void xpButton2Click();
    void xpButton3Click();
    void xpButton4Click();
    void xpButton5Click();
    void checkbox1Click();
    void xpCheckBox1Click();
    void xpCheckBox2Click();

    // The directories as the two buttons choose them: the main one (the
    // root list anew), one more.
    void chooseMainDirectory(const std::string& dir);
    void addDirectory(const std::string& dir);

    // The search's routines, each a stage of the engine's search with what
    // the window shows and does after it: the collection of one root, the
    // name pass and the size pass with its content stage.
    void DirSize(const std::string& dir);
    void funk();
    void func();

    // True while a search command runs.
    bool searching() const { return request_.has_value(); }

    // How far the search has come, from every stage: runs the events step,
    // refreshes the status text and the progress bar, and answers the stop
    // flag where the stage polls it.
    bool step(search::Phase phase, std::uint64_t done, std::uint64_t total) override;
    // A stage begins: the status text and the progress bar's scale.
    void phaseStarted(search::Phase phase, std::uint64_t total) override;
    // What could not be read or compared goes to the program's warnings.
    void warning(const search::Warning& warning) override;

    // The events step of the long loops, throttled in time.
    platform::EventPump pump;
    // Threads that measure candidates ahead of the size pass (none: each is
    // measured at its turn, as tests that act between two want).
    unsigned measureThreads = search::measuringThreads();
    // Whether directories are read on a worker ahead of the collection (not:
    // each at its turn, as tests that act between two want).
    bool readAhead = true;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class SearchRun;
    // The extension text the running search started with (the box's
    // current text when no search runs).
    QString extensionText() const;
    // The request the boxes make now (what to look for; how to run).
    search::SearchRequest requestFromBoxes() const;
    // Shows the candidate the name pass or the size pass has come to.
    void showNaming(std::size_t candidate);
    void showMeasuring(std::size_t candidate);
    // Runs `work`; a candidate that cannot be measured is shown before its
    // error goes to the error box.
    search::Ended measuring(const std::function<search::Ended()>& work);
    // Ends the search when a stage was stopped: as it stands in the
    // collection, with the displays cleared in the size pass.
    void endStage(const search::Ended& ended);
    // Ends the search for a press of Stop: clears the displays and the
    // flag, then the silent abort.
    [[noreturn]] void stopSearch();
    // The pass of a criterion over the candidates, then its hand-off.
    void runPass(Criterion criterion);
    // The hand-off of a pass's rows to the copies editor: the count line,
    // the preview kind, the messages, the windows.
    void handOff(Criterion criterion);

    platform::Services& services_;
    TForm2* form2_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;

    // The running search's request, taken when it started.
    std::optional<search::SearchRequest> request_;
    bool endAfterSearch_ = false;
};

} // namespace qevra
