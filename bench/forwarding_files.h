#pragma once

#include "fs/file_system.h"

// The real file system, every call passed on (measureEach and examineEach
// through measure and examine, one path at a time, unless a bench passes them
// on whole): the benches' file systems change only the calls they watch or
// slow down.
class ForwardingFiles : public qevra::fs::FileSystem {
public:
    bool readDirectory(const std::string& dir, qevra::fs::DirListing& out) override
    {
        return real().readDirectory(dir, out);
    }
    bool fileExists(const std::string& path) override { return real().fileExists(path); }
    bool directoryExists(const std::string& path) override { return real().directoryExists(path); }
    qevra::fs::FileStamp measure(const std::string& path) override { return real().measure(path); }
    std::unique_ptr<qevra::fs::ReadStream> openRead(const std::string& path) override
    {
        return real().openRead(path);
    }
    std::optional<qevra::fs::FileStamp> examine(
        const std::string& path, qevra::fs::Resolve resolve) override
    {
        return real().examine(path, resolve);
    }
    qevra::fs::Removal removeFile(
        const std::string& path, const qevra::fs::FileStamp& seen, bool unchanged) override
    {
        return real().removeFile(path, seen, unchanged);
    }
    qevra::fs::TrashMove moveToTrash(
        const std::string& path, const qevra::fs::FileStamp& seen, bool unchanged) override
    {
        return real().moveToTrash(path, seen, unchanged);
    }
    qevra::fs::Restoring restoreFromTrash(
        const qevra::fs::TrashedFile& file, qevra::fs::FileStamp* restored) override
    {
        return real().restoreFromTrash(file, restored);
    }
    bool inTrash(const std::string& path) override { return real().inTrash(path); }

protected:
    static qevra::fs::FileSystem& real() { return qevra::fs::realFileSystem(); }
};
