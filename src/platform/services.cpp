#include "platform/services.h"

#include "platform/folder_dialog.h"
#include "platform/show_in_folder.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace qevra::platform {

extern "C" char** environ;

namespace {

// A message box that centres itself on the screen once its final size is
// known.
class CentredBox : public QMessageBox {
public:
    CentredBox(Icon icon, const QString& text)
        : QMessageBox(icon, kApplicationTitle, text)
    {
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
};

void runBox(QMessageBox::Icon icon, const QString& text)
{
    CentredBox box(icon, text);
    // Set explicitly so that a translation never changes it.
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

class RealMessageBoxes final : public MessageBoxes {
public:
    void showMessage(const QString& text) override { runBox(QMessageBox::NoIcon, text); }
    void showError(const QString& text) override { runBox(QMessageBox::Critical, text); }
};

class RealFolderBrowser final : public FolderBrowser {
public:
    std::optional<std::string> browse(QWidget* parent, const QString& prompt) override
    {
        return FolderDialog::browse(parent, prompt);
    }
};

class RealDesktop final : public Desktop {
public:
    void open(const std::string& target) override { launchDetached("xdg-open", target); }
    void showInFolder(const std::string& path) override
    {
        showItemInFolder(QDBusConnection::sessionBus(), path,
            [](const std::string& folder) { launchDetached("xdg-open", folder); });
    }
};

} // namespace

Services& realServices()
{
    static RealMessageBoxes boxes;
    static RealFolderBrowser folders;
    static RealDesktop desktop;
    static Services services(fs::realFileSystem(), boxes, folders, desktop);
    return services;
}

void Services::ShowMessage(const QString& text)
{
    if (!ending_)
        boxes.showMessage(text);
}

void Services::showError(const QString& text)
{
    if (!ending_)
        boxes.showError(text);
}

QString errorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

} // namespace qevra::platform

namespace qevra::platform {

bool launchDetached(const char* program, const std::string& argument)
{
    // Started directly, never through a shell, with the argument's exact
    // bytes; in a session of its own so that it outlives nothing of ours.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string programCopy = program;
    std::string argumentCopy = argument;
    char* argv[] = { programCopy.data(), argumentCopy.data(), nullptr };
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program, nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (failed)
        return false;
    // Reap the child whenever it ends, so that it leaves no zombie.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

} // namespace qevra::platform
