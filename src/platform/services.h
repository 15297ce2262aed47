#pragma once

#include "fs/file_system.h"

#include <QString>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace qevra::platform {

// The application title: task-bar text and the title of every box.
inline const QString kApplicationTitle = QStringLiteral("Qevra");

// Modal boxes of one line of text.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // The ordinary message box: no icon, one "OK" that Enter and Esc press.
    virtual void showMessage(const QString& text) = 0;
    // The error box: stop icon, one "OK".
    virtual void showError(const QString& text) = 0;
};

// The modal folder-browse dialog.
class FolderBrowser {
public:
    virtual ~FolderBrowser() = default;
    // The chosen directory's path (file-system bytes), or nothing when the
    // user cancelled.
    virtual std::optional<std::string> browse(QWidget* parent, const QString& prompt) = 0;
};

// The desktop's actions: "open" for a file, a mailto: link or a web
// address, and showing a file selected in its folder in the file manager.
// Both return at once; `failed`, when given, runs later from the event loop
// if nothing could open the target (the opener could not be started or
// ended with a failure status). Without it a failure goes untold.
class Desktop {
public:
    using Failed = std::function<void()>;
    virtual ~Desktop() = default;
    virtual void open(const std::string& target, Failed failed = {}) = 0;
    virtual void showInFolder(const std::string& path, Failed failed = {}) = 0;
};

// The services the windows use, owned by the program (the real ones) or by
// a test (doubles), and handed to every window.
class Services {
public:
    Services(fs::FileSystem& files, MessageBoxes& messageBoxes, FolderBrowser& folderBrowser,
        Desktop& desktopOpen)
        : fileSystem(files)
        , boxes(messageBoxes)
        , folders(folderBrowser)
        , desktop(desktopOpen)
    {
    }
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    fs::FileSystem& fileSystem;
    MessageBoxes& boxes;
    FolderBrowser& folders;
    Desktop& desktop;

    // ShowMessage: the ordinary message box, or nothing while the program
    // ends.
    void ShowMessage(const QString& text);
    // The error box, or nothing while the program ends.
    void showError(const QString& text);
    // While the program is ending (the main window was closed during a
    // search), boxes close at once as if cancelled.
    void setEnding(bool value) { ending_ = value; }
    bool ending() const { return ending_; }

private:
    bool ending_ = false;
};

// The program's real services: the POSIX file system, the message boxes,
// the folder dialog and the desktop's actions.
Services& realServices();

// Starts `program` (found on PATH) with one argument, without a shell and
// in a session of its own, and returns at once. Its end is watched from the
// event loop, never waited for: `failed` (when given) runs when it could not
// be started (at once) or ended with an exit status other than 0.
void launchWatched(const char* program, const std::string& argument, std::function<void()> failed);

// The error box's text for an exception message: a full stop is appended
// when the message is not empty and its last character's code is greater
// than that of ".".
QString errorBoxText(const QString& message);

} // namespace qevra::platform
