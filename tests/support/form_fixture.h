#pragma once

#include "about/about_box.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/stop_flag.h"
#include "editor/copies_editor.h"
#include "fs/file_system.h"
#include "support/doubles.h"

#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace qevra::testing {

// The real file system with hooks: an action to run when a directory is
// read (as a user acting in the middle of a search would), and directories
// that read as unreadable.
class HookedFileSystem : public fs::FileSystem {
public:
    bool readDirectory(const std::string& dir, fs::DirListing& out) override;
    bool fileExists(const std::string& path) override { return real().fileExists(path); }
    bool directoryExists(const std::string& path) override { return real().directoryExists(path); }
    fs::FileStamp measure(const std::string& path) override;
    std::unique_ptr<fs::ReadStream> openRead(const std::string& path) override;
    std::optional<fs::FileStamp> examine(const std::string& path, fs::Resolve resolve) override;
    fs::Removal removeFile(
        const std::string& path, const fs::FileStamp& seen, bool unchanged) override;
    fs::TrashMove moveToTrash(
        const std::string& path, const fs::FileStamp& seen, bool unchanged) override;
    fs::Restoring restoreFromTrash(const fs::TrashedFile& file, fs::FileStamp* restored) override;
    bool inTrash(const std::string& path) override;

    std::function<void(const std::string&)> onReadDirectory;
    std::set<std::string> unreadable;
    std::vector<std::string> reads;
    // Runs before a file is measured (on the user-interface thread).
    std::function<void(const std::string&)> onMeasure;
    // Paths whose measuring fails with this errno value.
    std::map<std::string, int> measureErrors;
    // Runs before a file is opened for reading; the content stage opens
    // files on worker threads, so this must not touch widgets.
    std::function<void(const std::string&)> onOpenRead;
    // Paths whose deletion the system refuses, as for a file in use.
    std::set<std::string> undeletable;
    // Paths whose move to the trash the system refuses.
    std::set<std::string> untrashable;
    // Sizes that measuring and open files report instead of the real ones,
    // as pseudo-files do.
    std::map<std::string, std::int64_t> reportedSizes;

    // A share that takes this many milliseconds for every look at a file
    // (measuring and examining) and every directory read.
    std::atomic<int> metadataDelayMs { 0 };
    // Paths whose reads wait until the gate opens, as on a share that stopped
    // answering. The gate opens by itself after `hangLimit`, so that a
    // failing test ends rather than hangs.
    std::set<std::string> hangingReads;
    // Directories whose reading waits at the same gate.
    std::set<std::string> hangingDirectories;
    std::chrono::milliseconds hangLimit { 20000 };
    void openGate();
    // Calls in progress on the real file system behind the hooks, from any
    // thread; a test waits for none before its double goes.
    std::atomic<int> busy { 0 };
    // Waits until no call is in progress (or `limit` has passed).
    bool waitUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(20));

    struct Gate;

private:
    std::shared_ptr<Gate> gate();
    std::mutex gateMutex_;
    std::shared_ptr<Gate> gate_;
    static fs::FileSystem& real() { return fs::realFileSystem(); }
};

// The three windows as start-up makes them, with the doubles installed and
// the main window shown.
class FormsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Chooses the directories through the folder-dialog double, as a user
    // pressing "Выбрать каталог" and then "Добавить каталог" would.
    void chooseDirectories(const std::vector<std::string>& dirs);
    // Types the extension text into the extension box.
    void typeExtension(const QString& text);
    // Everything a user does before pressing "Искать копии": closes the
    // editor if it is open, chooses `dirs` anew, types `extension` and
    // checks `criterion` alone.
    void prepareSearch(const std::vector<std::string>& dirs, const QString& extension,
        controls::TxpCheckBox* criterion);
    // The three criterion boxes.
    std::vector<controls::TxpCheckBox*> criteria() const
    {
        return { form1->checkbox1, form1->CheckBox2, form1->CheckBox3 };
    }
    // The rows of the hidden lists, as paths.
    std::vector<std::pair<std::string, std::string>> rows() const;
    void click(QWidget* widget);
    // Puts pairs into the hidden lists as a pass would, then shows the
    // editor in place of the main window.
    void showPairs(const std::vector<std::pair<std::string, std::string>>& pairs,
        Criterion criterion = Criterion::Name);
    // Stamps the candidates as the search would have seen them now, and
    // shows the editor with the rows of the hidden lists, in place of the
    // main window.
    void showEditor(Criterion criterion);

    HookedFileSystem fileSystem;
    std::unique_ptr<platform::Services> services;
    std::unique_ptr<Program> program;
    TForm1* form1 = nullptr;
    TForm2* form2 = nullptr;
    TAboutBox* about = nullptr;
};

// Sends each character as a key press of its own (works for any alphabet).
void typeText(QWidget* widget, const QString& text);

} // namespace qevra::testing
