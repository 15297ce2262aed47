#include "platform/services.h"

#include "platform/folder_dialog.h"
#include "platform/show_in_folder.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
    void open(const std::string& target, Failed failed) override
    {
        launchWatched("xdg-open", target, std::move(failed));
    }
    void showInFolder(const std::string& path, Failed failed) override
    {
        // Only the folder opened instead can fail here: a file manager that
        // answered the call has taken the request.
        showItemInFolder(QDBusConnection::sessionBus(), path,
            [failed = std::move(failed)](
                const std::string& folder) { launchWatched("xdg-open", folder, failed); });
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

namespace {

// An opener that exits with a status other than 0 could not open its
// target; one ended by a signal was stopped, not refused.
bool failedStatus(int status)
{
    return WIFEXITED(status) && WEXITSTATUS(status) != 0;
}

// Reaps `pid` when it has ended (false while it runs) and tells `failed`
// when it failed.
bool reap(pid_t pid, const std::function<void()>& failed)
{
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == 0 || (ended < 0 && errno == EINTR))
        return false;
    if (ended == pid && failedStatus(status) && failed) {
        // A box shown from here runs its own event loop: the watch that
        // called is done with by then.
        const std::function<void()> tell = failed;
        tell();
    }
    return true;
}

// Watches the child `pid` from the event loop: a process descriptor that
// becomes readable when it ends, or, where the kernel has none, a look
// four times a second.
void watchChild(pid_t pid, std::function<void()> failed)
{
    QObject* const owner = QCoreApplication::instance();
    if (!owner) {
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
        return;
    }
#ifdef SYS_pidfd_open
    const int descriptor = int(::syscall(SYS_pidfd_open, pid, 0));
#else
    const int descriptor = -1;
#endif
    if (descriptor >= 0) {
        auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
            [notifier, descriptor, pid, failed = std::move(failed)] {
                notifier->setEnabled(false);
                if (!reap(pid, failed)) {
                    notifier->setEnabled(true);
                    return;
                }
                ::close(descriptor);
                notifier->deleteLater();
            });
        return;
    }
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, failed = std::move(failed)] {
        timer->stop();
        if (!reap(pid, failed)) {
            timer->start();
            return;
        }
        timer->deleteLater();
    });
    timer->start(250);
}

} // namespace

void launchWatched(const char* program, const std::string& argument, std::function<void()> failed)
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
    const int notStarted = posix_spawnp(&pid, program, nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (notStarted) {
        if (failed)
            failed();
        return;
    }
    watchChild(pid, std::move(failed));
}

} // namespace qevra::platform
