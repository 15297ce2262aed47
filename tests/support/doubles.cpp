#include "support/doubles.h"

#include "platform/application.h"

namespace qevra::testing {

void RecordingBoxes::showMessage(const QString& text)
{
    messages.push_back(text);
    if (whileShown)
        whileShown(text);
}

void RecordingBoxes::showError(const QString& text)
{
    errors.push_back(text);
    if (whileShown)
        whileShown(text);
}

std::optional<std::string> ScriptedFolderBrowser::browse(QWidget*, const QString& prompt)
{
    prompts.push_back(prompt);
    if (answers.empty())
        return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingDesktop::open(const std::string& target, Failed failed)
{
    opened.push_back(target);
    if (failing && failed)
        failed();
}

void RecordingDesktop::showInFolder(const std::string& path, Failed failed)
{
    shownInFolder.push_back(path);
    if (failing && failed)
        failed();
}

RecordingBoxes& boxes()
{
    static RecordingBoxes instance;
    return instance;
}

ScriptedFolderBrowser& folders()
{
    static ScriptedFolderBrowser instance;
    return instance;
}

RecordingDesktop& desktop()
{
    static RecordingDesktop instance;
    return instance;
}

platform::Services& doubleServices()
{
    static platform::Services instance(fs::realFileSystem(), boxes(), folders(), desktop());
    return instance;
}

void installDoubles()
{
    Application::setServices(&doubleServices());
}

void resetDoubles()
{
    boxes() = RecordingBoxes();
    folders() = ScriptedFolderBrowser();
    desktop() = RecordingDesktop();
    doubleServices().setEnding(false);
}

} // namespace qevra::testing
