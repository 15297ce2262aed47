#pragma once

#include "platform/services.h"

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace qevra::testing {

// Records every box instead of showing it.
class RecordingBoxes : public platform::MessageBoxes {
public:
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;

    std::vector<QString> messages;
    std::vector<QString> errors;
    // Runs inside a box, as the user's actions while it is open would.
    std::function<void(const QString&)> whileShown;
};

// Answers each folder dialog with the next scripted answer (nothing left:
// cancelled) and records the prompts it was asked with.
class ScriptedFolderBrowser : public platform::FolderBrowser {
public:
    std::optional<std::string> browse(QWidget* parent, const QString& prompt) override;

    std::deque<std::optional<std::string>> answers;
    std::vector<QString> prompts;
};

// Records every desktop action.
class RecordingDesktop : public platform::Desktop {
public:
    void open(const std::string& target, Failed failed) override;
    void showInFolder(const std::string& path, Failed failed) override;

    std::vector<std::string> opened;
    std::vector<std::string> shownInFolder;
    // Every action fails, as where no application can open anything: its
    // `failed` runs at once.
    bool failing = false;
};

RecordingBoxes& boxes();
ScriptedFolderBrowser& folders();
RecordingDesktop& desktop();

// The doubles with the real file system, as the services every window of a
// test uses unless it builds its own; the application's error box reports
// through them.
platform::Services& doubleServices();
void installDoubles();
// Empties their records and scripts, and clears the ending state.
void resetDoubles();

} // namespace qevra::testing
