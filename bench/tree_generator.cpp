#include "tree_generator.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace qevra::bench {

namespace {

// Bump when planTree() changes, so that older trees are not reused.
constexpr int kGeneratorVersion = 1;

constexpr std::array kLatinWords = { "report", "notes", "photo", "backup", "draft", "invoice",
    "readme", "data", "log", "summary", "letter", "scan", "IMG", "DSC", "track", "project",
    "Budget", "todo", "minutes", "config" };
constexpr std::array kCyrillicWords = { "отчёт", "заметки", "фото", "Документ", "письмо", "список",
    "ДОГОВОР", "черновик", "счёт", "Протокол" };
constexpr std::array kDirectoryWords = { "docs", "Pictures", "music", "src", "archive", "misc",
    "2019", "2020", "work", "home", "Проекты", "Разное", "old", "new", "tmp", "shared" };
constexpr std::array kHiddenDirectoryWords = { ".cache", ".config", ".git", ".local", ".thumbs" };

template <typename Words> const char* pick(Random& random, const Words& words)
{
    return words[random.between(0, words.size() - 1)];
}

std::string fileName(Random& random, const TreeSpec& spec, std::uint64_t number,
    const std::string& extension, bool hidden)
{
    std::string name;
    if (hidden)
        name += '.';
    const bool cyrillic = random.chance(spec.cyrillicNameShare);
    name += cyrillic ? pick(random, kCyrillicWords) : pick(random, kLatinWords);
    name += stemSeparator(random);
    name += std::to_string(number);
    // Some stems carry dots of their own, so that a mask's "*" has to
    // look past the first one.
    if (random.chance(0.08))
        name += random.chance(0.5) ? ".v2" : ".txt.old";
    if (!extension.empty()) {
        name += '.';
        name += extension;
    }
    return name;
}

void fillDirectory(Random& random, const TreeSpec& spec, TreePlan& plan, std::uint32_t directory,
    std::uint64_t& remaining, double totalWeight)
{
    std::uint64_t count = random.between(spec.minFilesPerDirectory, spec.maxFilesPerDirectory);
    if (count > remaining)
        count = remaining;
    remaining -= count;
    const std::string& dirPath = plan.directories[directory].path;
    for (std::uint64_t i = 0; i < count; ++i) {
        PlannedFile file;
        file.directory = directory;
        file.hidden = random.chance(spec.hiddenFileShare);
        double roll = static_cast<double>(random.next() >> 11) * 0x1.0p-53 * totalWeight;
        for (const ExtensionShare& share : spec.extensions) {
            file.extension = share.extension;
            roll -= share.weight;
            if (roll < 0)
                break;
        }
        const std::uint64_t number = plan.files.size();
        const std::string name = fileName(random, spec, number, file.extension, file.hidden);
        file.path = dirPath.empty() ? name : dirPath + '/' + name;
        file.contentSeed = spec.seed * 0x100000001B3ull + number;
        plan.files.push_back(std::move(file));
    }
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error)
{
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

bool readWhole(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string markerText(const TreeSpec& spec)
{
    return "qevra benchmark tree\n" + spec.describe();
}

} // namespace

std::vector<ExtensionShare> TreeSpec::defaultExtensions()
{
    return {
        { "txt", 0.30 },
        { "TXT", 0.04 },
        { "Txt", 0.01 },
        { "jpg", 0.10 },
        { "JPG", 0.03 },
        { "jpeg", 0.02 },
        { "png", 0.05 },
        { "gif", 0.02 },
        { "bmp", 0.01 },
        { "doc", 0.05 },
        { "docx", 0.04 },
        { "pdf", 0.05 },
        { "htm", 0.03 },
        { "html", 0.03 },
        { "exe", 0.02 },
        { "cpp", 0.04 },
        { "h", 0.03 },
        { "mp3", 0.03 },
        { "avi", 0.01 },
        { "log", 0.03 },
        { "txtx", 0.01 },
        { "text", 0.01 },
        { "gz", 0.01 },
        { "", 0.03 },
    };
}

std::string TreeSpec::describe() const
{
    std::ostringstream out;
    out << "generator " << kGeneratorVersion << '\n'
        << "files " << files << '\n'
        << "seed " << seed << '\n'
        << "depth " << maxDepth << '\n'
        << "per-directory " << minFilesPerDirectory << ' ' << maxFilesPerDirectory << '\n'
        << "hidden-files " << hiddenFileShare << '\n'
        << "hidden-directories " << hiddenDirectoryShare << '\n'
        << "cyrillic-names " << cyrillicNameShare << '\n'
        << "extensions";
    for (const ExtensionShare& share : extensions)
        out << ' ' << (share.extension.empty() ? "-" : share.extension) << '=' << share.weight;
    out << '\n' << "variant " << variant << '\n';
    return out.str();
}

TreePlan planTree(const TreeSpec& spec)
{
    if (spec.extensions.empty() || spec.minFilesPerDirectory == 0
        || spec.minFilesPerDirectory > spec.maxFilesPerDirectory)
        throw std::invalid_argument("tree spec: bad extension mix or files per directory");
    double totalWeight = 0;
    for (const ExtensionShare& share : spec.extensions)
        totalWeight += share.weight;

    Random random(spec.seed);
    TreePlan plan;
    plan.directories.push_back({ "", 0, false });
    plan.files.reserve(spec.files);

    // Directories that may still get children: those above the deepest level.
    std::vector<std::uint32_t> parents;
    if (spec.maxDepth > 0)
        parents.push_back(0);

    std::uint64_t remaining = spec.files;
    fillDirectory(random, spec, plan, 0, remaining, totalWeight);
    while (remaining > 0) {
        if (parents.empty())
            throw std::invalid_argument("tree spec: files do not fit in the root alone");
        // A uniformly chosen parent grows a random recursive tree: a few
        // broad upper levels, most directories near the depth limit.
        const std::uint32_t parent = parents[random.between(0, parents.size() - 1)];
        PlannedDirectory dir;
        dir.depth = plan.directories[parent].depth + 1;
        dir.hidden = random.chance(spec.hiddenDirectoryShare);
        std::string name
            = dir.hidden ? pick(random, kHiddenDirectoryWords) : pick(random, kDirectoryWords);
        name += '_';
        name += std::to_string(plan.directories.size());
        const std::string& parentPath = plan.directories[parent].path;
        dir.path = parentPath.empty() ? name : parentPath + '/' + name;
        const auto index = static_cast<std::uint32_t>(plan.directories.size());
        if (dir.depth < spec.maxDepth)
            parents.push_back(index);
        plan.directories.push_back(std::move(dir));
        fillDirectory(random, spec, plan, index, remaining, totalWeight);
    }
    return plan;
}

bool writeGeneratedContents(int fd, const PlannedFile& file)
{
    if (file.size == 0)
        return true;
    if (file.hole) {
        while (::ftruncate(fd, static_cast<off_t>(file.size)) != 0) {
            if (errno != EINTR)
                return false;
        }
        return true;
    }
    Random random(file.contentSeed);
    std::array<char, 64 * 1024> buffer;
    std::uint64_t left = file.size;
    std::uint64_t offset = 0;
    while (left > 0) {
        const std::size_t chunk = left < buffer.size() ? left : buffer.size();
        for (std::size_t i = 0; i < chunk; i += 8) {
            const std::uint64_t word = random.next();
            std::memcpy(buffer.data() + i, &word, chunk - i < 8 ? chunk - i : 8);
        }
        if (file.flipMask != 0 && file.flipAt >= offset && file.flipAt - offset < chunk)
            buffer[file.flipAt - offset] = static_cast<char>(
                static_cast<unsigned char>(buffer[file.flipAt - offset]) ^ file.flipMask);
        offset += chunk;
        std::size_t done = 0;
        while (done < chunk) {
            const ssize_t written = ::write(fd, buffer.data() + done, chunk - done);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(written);
        }
        left -= chunk;
    }
    return true;
}

void writeTree(const std::string& root, const TreePlan& plan, const ContentWriter& writer)
{
    const std::string prefix = root.empty() || root.back() == '/' ? root : root + '/';
    for (std::size_t i = 1; i < plan.directories.size(); ++i) {
        const std::string path = prefix + plan.directories[i].path;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            fail("cannot create directory", path, errno);
    }
    for (const PlannedFile& file : plan.files) {
        const std::string path = prefix + file.path;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("cannot create file", path, errno);
        const bool written = writer(fd, file);
        const int writeError = errno;
        if (::close(fd) != 0 && written)
            fail("cannot close file", path, errno);
        if (!written)
            fail("cannot write file", path, writeError);
    }
}

PrepareOutcome prepareTree(const std::string& root, const TreeSpec& spec, const TreePlan& plan,
    const ContentWriter& writer)
{
    namespace stdfs = std::filesystem;
    std::error_code error;
    stdfs::create_directories(root, error);
    if (error)
        throw std::runtime_error("cannot create directory " + root + ": " + error.message());

    const std::string markerPath = (stdfs::path(root) / kMarkerName).native();
    const std::string wanted = markerText(spec);
    std::string found;
    const bool hasMarker = readWhole(markerPath, found);
    if (hasMarker && found == wanted)
        return PrepareOutcome::Reused;

    if (hasMarker) {
        // An earlier tree of other parameters: ours to replace. The marker
        // goes first, so that an interrupted clean-up is not taken for a
        // finished tree.
        stdfs::remove(markerPath, error);
        for (const stdfs::directory_entry& entry : stdfs::directory_iterator(root)) {
            stdfs::remove_all(entry.path(), error);
            if (error)
                throw std::runtime_error(
                    "cannot remove " + entry.path().native() + ": " + error.message());
        }
    } else if (!stdfs::is_empty(root, error)) {
        throw std::runtime_error(
            root + " is not empty and holds no benchmark tree; choose an empty or new directory");
    }

    writeTree(root, plan, writer);
    // The marker last: only a complete tree is ever reused.
    std::ofstream marker(markerPath, std::ios::binary | std::ios::trunc);
    marker << wanted;
    marker.close();
    if (!marker)
        throw std::runtime_error("cannot write " + markerPath);
    return PrepareOutcome::Created;
}

bool removeTree(const std::string& root)
{
    namespace stdfs = std::filesystem;
    std::error_code error;
    if (!stdfs::is_regular_file(stdfs::path(root) / kMarkerName, error))
        return false;
    stdfs::remove_all(root, error);
    return !error;
}

} // namespace qevra::bench
