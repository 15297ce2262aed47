#pragma once

#include <QDBusConnection>
#include <QString>
#include <functional>
#include <string>

namespace qevra::platform {

// The file:// address of a path: its exact bytes, percent-encoded where an
// address needs it (bytes that are not UTF-8 stay the bytes they are).
QString fileAddress(const std::string& path);

// The folder that holds a path ("/" for a file at the root).
std::string folderOf(const std::string& path);

// Asks the file manager on `bus` to show the file selected in its folder
// (org.freedesktop.FileManager1.ShowItems). Where none answers (no bus, no
// such service, an error or no reply in time), `fallback` gets the file's
// folder once the answer is known.
void showItemInFolder(const QDBusConnection& bus, const std::string& path,
    std::function<void(const std::string& folder)> fallback);

} // namespace qevra::platform
