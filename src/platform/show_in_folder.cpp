#include "platform/show_in_folder.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>

namespace qevra::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObject = QStringLiteral("/org/freedesktop/FileManager1");
constexpr int kReplyTimeout = 5000; // milliseconds

} // namespace

QString fileAddress(const std::string& path)
{
    const QByteArray bytes(path.data(), qsizetype(path.size()));
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void showItemInFolder(const QDBusConnection& bus, const std::string& path,
    std::function<void(const std::string& folder)> fallback)
{
    const std::string folder = folderOf(path);
    if (!bus.isConnected()) {
        fallback(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kService, "ShowItems");
    call << QStringList { fileAddress(path) } << QString();
    // The answer comes later: the window stays live while a file manager
    // starts, and only a failure opens the folder instead.
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, kReplyTimeout), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [watcher, folder, fallback = std::move(fallback)] {
            if (watcher->isError())
                fallback(folder);
            watcher->deleteLater();
        });
}

} // namespace qevra::platform
