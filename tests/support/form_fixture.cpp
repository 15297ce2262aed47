#include "support/form_fixture.h"

#include "base/exceptions.h"
#include "platform/application.h"

#include <QApplication>
#include <QLineEdit>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qevra::testing {

namespace {

// Counts a call in progress for as long as it lives.
class Busy {
public:
    explicit Busy(std::atomic<int>& count)
        : count_(count)
    {
        ++count_;
    }
    ~Busy() { --count_; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    std::atomic<int>& count_;
};

} // namespace

// Closed until opened, or until its time is up.
struct HookedFileSystem::Gate {
    explicit Gate(std::chrono::milliseconds limit)
        : deadline(std::chrono::steady_clock::now() + limit)
    {
    }
    void wait()
    {
        std::unique_lock lock(mutex);
        opened.wait_until(lock, deadline, [&] { return open; });
    }
    void openNow()
    {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    const std::chrono::steady_clock::time_point deadline;
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

bool HookedFileSystem::readDirectory(const std::string& dir, fs::DirListing& out)
{
    const Busy counted(busy);
    if (const int delay = metadataDelayMs.load(); delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (hangingDirectories.count(dir))
        gate()->wait();
    reads.push_back(dir);
    if (onReadDirectory)
        onReadDirectory(dir);
    if (unreadable.count(dir)) {
        out.clear();
        return false;
    }
    return real().readDirectory(dir, out);
}

std::shared_ptr<HookedFileSystem::Gate> HookedFileSystem::gate()
{
    std::lock_guard lock(gateMutex_);
    if (!gate_)
        gate_ = std::make_shared<Gate>(hangLimit);
    return gate_;
}

void HookedFileSystem::openGate()
{
    gate()->openNow();
}

bool HookedFileSystem::waitUntilIdle(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (busy.load() != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

fs::FileStamp HookedFileSystem::measure(const std::string& path)
{
    const Busy counted(busy);
    if (const int delay = metadataDelayMs.load(); delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (onMeasure)
        onMeasure(path);
    if (const auto error = measureErrors.find(path); error != measureErrors.end())
        throw EInOutError(error->second);
    fs::FileStamp stamp = real().measure(path);
    if (const auto size = reportedSizes.find(path); size != reportedSizes.end())
        stamp.size = size->second;
    return stamp;
}

namespace {

// An open file whose reads wait at a gate first.
class HangingStream : public fs::ReadStream {
public:
    HangingStream(std::unique_ptr<fs::ReadStream> real,
        std::shared_ptr<HookedFileSystem::Gate> gate, std::atomic<int>& busy)
        : real_(std::move(real))
        , gate_(std::move(gate))
        , busy_(busy)
    {
    }
    std::optional<fs::FileStamp> stamp() override { return real_->stamp(); }
    std::int64_t read(char* buffer, std::int64_t count) override
    {
        const Busy counted(busy_);
        gate_->wait();
        return real_->read(buffer, count);
    }

private:
    std::unique_ptr<fs::ReadStream> real_;
    std::shared_ptr<HookedFileSystem::Gate> gate_;
    std::atomic<int>& busy_;
};

// An open file whose stamp reports another size.
class LyingStream : public fs::ReadStream {
public:
    LyingStream(std::unique_ptr<fs::ReadStream> real, std::int64_t size)
        : real_(std::move(real))
        , size_(size)
    {
    }
    std::optional<fs::FileStamp> stamp() override
    {
        auto stamp = real_->stamp();
        if (stamp)
            stamp->size = size_;
        return stamp;
    }
    std::int64_t read(char* buffer, std::int64_t count) override
    {
        return real_->read(buffer, count);
    }

private:
    std::unique_ptr<fs::ReadStream> real_;
    std::int64_t size_;
};

} // namespace

std::unique_ptr<fs::ReadStream> HookedFileSystem::openRead(const std::string& path)
{
    const Busy counted(busy);
    if (onOpenRead)
        onOpenRead(path);
    auto stream = real().openRead(path);
    if (stream && hangingReads.count(path))
        return std::make_unique<HangingStream>(std::move(stream), gate(), busy);
    if (const auto size = reportedSizes.find(path); stream && size != reportedSizes.end())
        return std::make_unique<LyingStream>(std::move(stream), size->second);
    return stream;
}

std::optional<fs::FileStamp> HookedFileSystem::examine(const std::string& path, fs::Resolve resolve)
{
    const Busy counted(busy);
    if (const int delay = metadataDelayMs.load(); delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    auto stamp = real().examine(path, resolve);
    if (const auto size = reportedSizes.find(path); stamp && size != reportedSizes.end())
        stamp->size = size->second;
    return stamp;
}

fs::Removal HookedFileSystem::removeFile(
    const std::string& path, const fs::FileStamp& seen, bool unchanged)
{
    if (undeletable.count(path))
        return fs::Removal::Failed;
    fs::FileStamp real_seen = seen;
    if (const auto size = reportedSizes.find(path); size != reportedSizes.end())
        real_seen.size = real().examine(path, fs::Resolve::NoLinks).value_or(seen).size;
    return real().removeFile(path, real_seen, unchanged);
}

fs::TrashMove HookedFileSystem::moveToTrash(
    const std::string& path, const fs::FileStamp& seen, bool unchanged)
{
    if (untrashable.count(path))
        return {};
    fs::FileStamp realSeen = seen;
    if (const auto size = reportedSizes.find(path); size != reportedSizes.end())
        realSeen.size = real().examine(path, fs::Resolve::NoLinks).value_or(seen).size;
    return real().moveToTrash(path, realSeen, unchanged);
}

fs::Restoring HookedFileSystem::restoreFromTrash(
    const fs::TrashedFile& file, fs::FileStamp* restored)
{
    return real().restoreFromTrash(file, restored);
}

bool HookedFileSystem::inTrash(const std::string& path)
{
    return real().inTrash(path);
}

void FormsTest::SetUp()
{
    resetDoubles();
    StopFlag = 0;
    // The windows as the program makes them, on the doubles and the hooked
    // file system.
    services = std::make_unique<platform::Services>(fileSystem, boxes(), folders(), desktop());
    Application::setServices(services.get());
    program = std::make_unique<Program>(*services);
    form1 = &program->Form1;
    form2 = &program->Form2;
    about = &program->AboutBox;
    // Every events step runs, and each directory is read and each candidate
    // measured at its turn, so that tests do not depend on timing.
    form1->pump.setInterval(std::chrono::milliseconds(0));
    form1->measureThreads = 0;
    form1->readAhead = false;
    form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form1));
}

void FormsTest::TearDown()
{
    // A search given up may have left a worker inside the hooked file
    // system (a slow open, a read at a gate): it goes before the double.
    fileSystem.openGate();
    EXPECT_TRUE(fileSystem.waitUntilIdle());
    form1 = nullptr;
    form2 = nullptr;
    about = nullptr;
    program.reset();
    Application::setServices(&doubleServices());
    services.reset();
    resetDoubles();
    StopFlag = 0;
}

void FormsTest::chooseDirectories(const std::vector<std::string>& dirs)
{
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        folders().answers.push_back(dirs[i]);
        click(i == 0 ? form1->xpButton1 : form1->xpButton2);
    }
}

void FormsTest::typeExtension(const QString& text)
{
    form1->proComboBox1->setFocus();
    form1->proComboBox1->lineEdit()->selectAll();
    QTest::keyClick(form1->proComboBox1->lineEdit(), Qt::Key_Delete);
    typeText(form1->proComboBox1->lineEdit(), text);
}

void FormsTest::prepareSearch(const std::vector<std::string>& dirs, const QString& extension,
    controls::TxpCheckBox* criterion)
{
    if (form2->isVisible())
        form2->close();
    form1->ListBox4.clear();
    chooseDirectories(dirs);
    typeExtension(extension);
    for (controls::TxpCheckBox* box : criteria()) {
        if (box != criterion && box->isChecked())
            click(box);
    }
    if (!criterion->isChecked())
        click(criterion);
}

std::vector<std::pair<std::string, std::string>> FormsTest::rows() const
{
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t r = 0; r < form1->ListBox2.size(); ++r)
        out.emplace_back(form1->ListBox2[r], form1->ListBox3[r]);
    return out;
}

void FormsTest::click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

void FormsTest::showPairs(
    const std::vector<std::pair<std::string, std::string>>& pairs, Criterion criterion)
{
    form2->clearNameLists();
    form1->ListBox1.clear();
    form1->ListBox2.clear();
    form1->ListBox3.clear();
    for (const auto& [first, second] : pairs) {
        form1->ListBox1.append(first);
        form1->ListBox2.append(std::uint32_t(form1->ListBox1.size() - 1));
        form1->ListBox1.append(second);
        form1->ListBox3.append(std::uint32_t(form1->ListBox1.size() - 1));
    }
    showEditor(criterion);
}

void FormsTest::showEditor(Criterion criterion)
{
    form1->rowsCriterion = criterion;
    form1->candidateStamps.clear();
    for (std::size_t c = 0; c < form1->ListBox1.size(); ++c)
        form1->candidateStamps.push_back(
            fs::realFileSystem()
                .examine(std::string(form1->ListBox1[c]), fs::Resolve::NoFinalLink)
                .value_or(fs::FileStamp()));
    form2->appendRowNames();
    form1->hide();
    form2->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form2));
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

} // namespace qevra::testing
