#include "support/form_fixture.h"

#include "platform/exceptions.h"

#include <QApplication>
#include <QLineEdit>

namespace qevra::testing {

bool HookedFileSystem::readDirectory(const std::string& dir, fs::DirListing& out)
{
    reads.push_back(dir);
    if (onReadDirectory)
        onReadDirectory(dir);
    if (unreadable.count(dir)) {
        out.clear();
        return false;
    }
    return real().readDirectory(dir, out);
}

std::int64_t HookedFileSystem::measure(const std::string& path)
{
    if (onMeasure)
        onMeasure(path);
    if (const auto error = measureErrors.find(path); error != measureErrors.end())
        throw EInOutError(error->second);
    return real().measure(path);
}

std::unique_ptr<fs::ReadStream> HookedFileSystem::openRead(const std::string& path)
{
    if (onOpenRead)
        onOpenRead(path);
    return real().openRead(path);
}

bool HookedFileSystem::readAttributes(const std::string& path, std::uint32_t& attributes)
{
    return real().readAttributes(path, attributes);
}

bool HookedFileSystem::writeAttributes(const std::string& path, std::uint32_t attributes)
{
    return real().writeAttributes(path, attributes);
}

bool HookedFileSystem::deleteFile(const std::string& path)
{
    return !undeletable.count(path) && real().deleteFile(path);
}

void FormsTest::SetUp()
{
    resetDoubles();
    search::StopFlag = 0;
    form1 = std::make_unique<TForm1>();
    form2 = std::make_unique<TForm2>(form1.get());
    about = std::make_unique<TAboutBox>();
    form1->setPeers(form2.get(), about.get());
    form1->fileSystem = &fileSystem;
    // Every events step runs, so that tests do not depend on timing.
    form1->pump.setInterval(std::chrono::milliseconds(0));
    form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form1.get()));
}

void FormsTest::TearDown()
{
    about.reset();
    form2.reset();
    form1.reset();
    resetDoubles();
    search::StopFlag = 0;
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

void FormsTest::click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

void FormsTest::showPairs(const std::vector<std::pair<std::string, std::string>>& pairs)
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
    form2->fsListBox1->names()->appendFromColumn();
    form2->fsListBox2->names()->appendFromColumn();
    form1->hide();
    form2->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form2.get()));
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

} // namespace qevra::testing
