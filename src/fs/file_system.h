#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::fs {

// Paths are the file system's bytes; "/" separates, "/" alone is the root.

enum class EntryType : std::uint8_t {
    File, // a regular file (never a symbolic link)
    Directory, // a real directory (never a symbolic link)
    Other, // links, devices, sockets, pipes, vanished entries
};

// One read of a directory: every entry's bare name ("." and ".." included)
// and type, in the order the file system returned them. The names share one
// buffer so that a large directory costs few allocations.
class DirListing {
public:
    struct Entry {
        std::uint32_t offset;
        std::uint32_t length;
        EntryType type;
    };

    void clear()
    {
        names_.clear();
        entries_.clear();
    }
    void add(std::string_view name, EntryType type);
    std::size_t size() const { return entries_.size(); }
    std::string_view name(std::size_t i) const
    {
        return std::string_view(names_).substr(entries_[i].offset, entries_[i].length);
    }
    EntryType type(std::size_t i) const { return entries_[i].type; }

private:
    std::string names_;
    std::vector<Entry> entries_;
};

// The read-only attribute: set when the owner may not write.
constexpr std::uint32_t kReadOnlyAttribute = 1;

// An open file for reading; closed by the destructor.
class ReadStream {
public:
    virtual ~ReadStream() = default;
    virtual std::int64_t size() = 0; // -1 on failure
    // Reads up to `count` bytes at the current position; -1 on failure.
    virtual std::int64_t read(char* buffer, std::int64_t count) = 0;
};

// The file-system services the search and the copies editor use. The real
// implementation is POSIX; tests put a double in front of it to fail or
// observe chosen calls. The content stage calls openRead from several
// worker threads at once (each stream is used by one thread at a time), so
// implementations must allow that.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Reads the whole directory into `out`; false when it cannot be opened.
    virtual bool readDirectory(const std::string& dir, DirListing& out) = 0;
    // True only for an existing regular file (a link to one counts).
    virtual bool fileExists(const std::string& path) = 0;
    // True only for an existing directory.
    virtual bool directoryExists(const std::string& path) = 0;
    // Opens read-only, takes the size, closes. Throws EInOutError(errno).
    virtual std::int64_t measure(const std::string& path) = 0;
    // Opens for reading; nullptr when that fails.
    virtual std::unique_ptr<ReadStream> openRead(const std::string& path) = 0;
    // The attribute word (kReadOnlyAttribute when the owner-write bit is
    // clear); false when the file cannot be examined.
    virtual bool readAttributes(const std::string& path, std::uint32_t& attributes) = 0;
    // Sets or clears the owner-write bit from the read-only attribute;
    // failures are ignored by the callers.
    virtual bool writeAttributes(const std::string& path, std::uint32_t attributes) = 0;
    // Removes the file permanently.
    virtual bool deleteFile(const std::string& path) = 0;
};

// The process-wide real file system.
FileSystem& realFileSystem();

// The separator to put between a directory path and a name: none when the
// path already ends in "/".
inline std::string_view separatorFor(std::string_view dir)
{
    return !dir.empty() && dir.back() == '/' ? std::string_view() : std::string_view("/");
}

// The bare name: the part after the last "/".
inline std::string_view bareName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace qevra::fs
