#include "content_tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qevra::bench {

namespace {

// Bump when the rules below change, so that older trees are not reused.
constexpr int kRulesVersion = 1;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * 1024;
// The content search reads a prefix first; "late" differences lie beyond it.
constexpr std::uint64_t kLateOffset = 16 * kKiB;

constexpr std::array kLatinStems = { "report", "notes", "photo", "backup", "draft", "invoice",
    "readme", "data", "log", "summary", "letter", "scan", "IMG", "DSC", "track", "project",
    "Budget", "todo", "minutes", "config", "song", "clip", "chapter", "table" };
constexpr std::array kCyrillicStems = { "отчёт", "заметки", "фото", "Документ", "письмо", "список",
    "ДОГОВОР", "черновик", "счёт", "Протокол" };

template <typename Words> const char* pick(Random& random, const Words& words)
{
    return words[random.between(0, words.size() - 1)];
}

// A group size from weights by group: most names and sizes are shared by two
// or three files, a few by up to ten. About 2.1 rows of the name search per
// file.
std::size_t recurringGroupSize(Random& random)
{
    static constexpr std::array<std::pair<std::size_t, unsigned>, 8> kWeights = { {
        { 1, 350 },
        { 2, 330 },
        { 3, 180 },
        { 4, 80 },
        { 5, 30 },
        { 6, 15 },
        { 8, 10 },
        { 10, 5 },
    } };
    std::uint64_t roll = random.between(0, 999);
    for (const auto& [size, weight] : kWeights) {
        if (roll < weight)
            return size;
        roll -= weight;
    }
    return 1;
}

// How many files one set of exact copies has (the original included).
std::size_t copySetSize(Random& random)
{
    static constexpr std::array<std::pair<std::size_t, unsigned>, 9> kWeights = { {
        { 2, 500 },
        { 3, 200 },
        { 4, 100 },
        { 5, 50 },
        { 6, 50 },
        { 7, 30 },
        { 8, 30 },
        { 9, 20 },
        { 10, 20 },
    } };
    std::uint64_t roll = random.between(0, 999);
    for (const auto& [size, weight] : kWeights) {
        if (roll < weight)
            return size;
        roll -= weight;
    }
    return 2;
}

// Tiny: 1 byte to 1 KiB. KiB-sized: above 1 KiB up to 64 KiB, each power of
// two equally likely, so small ones are common.
std::uint64_t smallSize(Random& random)
{
    if (random.chance(0.45))
        return random.between(1, kKiB);
    const unsigned power = static_cast<unsigned>(random.between(10, 15));
    return random.between((std::uint64_t(1) << power) + 1, std::uint64_t(1) << (power + 1));
}

std::uint64_t largeSize(Random& random)
{
    return random.between(kMiB / 10, 8 * kMiB);
}

template <typename T> void shuffle(std::vector<T>& items, Random& random)
{
    for (std::size_t i = items.size(); i > 1; --i)
        std::swap(items[i - 1], items[random.between(0, i - 1)]);
}

std::vector<std::uint32_t> shuffledIndexes(std::size_t count, Random& random)
{
    std::vector<std::uint32_t> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[i] = static_cast<std::uint32_t>(i);
    shuffle(order, random);
    return order;
}

// Hands out files in a given order, in groups whose files lie in different
// directories. A file whose directory the group already has waits for a
// later group.
class Dealer {
public:
    Dealer(const TreePlan& plan, std::vector<std::uint32_t> order)
        : plan_(plan)
        , order_(std::move(order))
    {
    }

    bool empty() const { return next_ == order_.size() && waiting_.empty(); }

    std::vector<std::uint32_t> deal(std::size_t count)
    {
        std::vector<std::uint32_t> group;
        const auto fits = [&](std::uint32_t file) {
            const std::uint32_t dir = plan_.files[file].directory;
            return std::none_of(group.begin(), group.end(),
                [&](std::uint32_t other) { return plan_.files[other].directory == dir; });
        };
        for (std::size_t n = waiting_.size(); n > 0 && group.size() < count; --n) {
            const std::uint32_t file = waiting_.front();
            waiting_.pop_front();
            if (fits(file))
                group.push_back(file);
            else
                waiting_.push_back(file);
        }
        while (group.size() < count && next_ < order_.size()) {
            const std::uint32_t file = order_[next_++];
            if (fits(file))
                group.push_back(file);
            else
                waiting_.push_back(file);
        }
        return group;
    }

private:
    const TreePlan& plan_;
    std::vector<std::uint32_t> order_;
    std::size_t next_ = 0;
    std::deque<std::uint32_t> waiting_;
};

// Every file of both trees has one of these, none is without.
std::vector<ExtensionShare> extensionsWithDot()
{
    std::vector<ExtensionShare> shares = TreeSpec::defaultExtensions();
    std::erase_if(shares, [](const ExtensionShare& share) { return share.extension.empty(); });
    return shares;
}

TreeSpec baseSpec(std::uint64_t files, std::uint64_t seed)
{
    TreeSpec spec;
    spec.files = files;
    spec.seed = seed;
    // The search passes hidden files by; the yardstick tools would not.
    spec.hiddenFileShare = 0;
    spec.extensions = extensionsWithDot();
    return spec;
}

// Gives every file a bare name. `named` files already share a name with
// the others of their set (files of one set lie in different directories);
// the rest are dealt into groups of a recurring name. Names of different
// groups never coincide: each carries its own number.
void nameFiles(TreePlan& plan, Random& random, const std::vector<std::vector<std::uint32_t>>& named)
{
    std::vector<bool> done(plan.files.size(), false);
    std::vector<std::vector<std::uint32_t>> groups = named;
    for (const std::vector<std::uint32_t>& group : named) {
        for (const std::uint32_t file : group)
            done[file] = true;
    }
    std::vector<std::uint32_t> order = shuffledIndexes(plan.files.size(), random);
    std::erase_if(order, [&](std::uint32_t file) { return done[file]; });
    Dealer dealer(plan, std::move(order));
    while (!dealer.empty())
        groups.push_back(dealer.deal(recurringGroupSize(random)));

    std::uint64_t number = 0;
    for (const std::vector<std::uint32_t>& group : groups) {
        if (group.empty())
            continue;
        std::string name
            = random.chance(0.10) ? pick(random, kCyrillicStems) : pick(random, kLatinStems);
        name += stemSeparator(random);
        name += std::to_string(++number);
        // Some stems carry a dot of their own.
        if (random.chance(0.05))
            name += ".v2";
        const std::string extension = plan.files[group.front()].extension;
        name += '.';
        name += extension;
        for (const std::uint32_t file : group) {
            PlannedFile& planned = plan.files[file];
            planned.extension = extension;
            const std::string& dir = plan.directories[planned.directory].path;
            planned.path = dir.empty() ? name : dir + '/' + name;
        }
    }
}

std::string_view bareName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Pairs among `count` files: both ways, or once.
std::uint64_t orderedPairs(std::uint64_t count)
{
    return count * (count - 1);
}
std::uint64_t pairs(std::uint64_t count)
{
    return count * (count - 1) / 2;
}

// What makes two planned files equal byte for byte.
struct ContentKey {
    std::uint64_t size;
    bool hole;
    std::uint64_t seed;
    std::uint64_t flipAt;
    std::uint8_t flipMask;
    friend bool operator==(const ContentKey&, const ContentKey&) = default;
};

struct ContentKeyHash {
    std::size_t operator()(const ContentKey& key) const
    {
        std::uint64_t h = key.size * 0x9E3779B97F4A7C15ull;
        h ^= key.seed + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        h ^= key.flipAt * 0xBF58476D1CE4E5B9ull + key.flipMask + (key.hole ? 1 : 0);
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
};

ContentKey contentKey(const PlannedFile& file)
{
    if (file.size == 0)
        return { 0, false, 0, 0, 0 };
    if (file.hole)
        return { file.size, true, 0, 0, 0 };
    if (file.size <= 8) {
        // Files this short may well be equal by chance: keyed by their bytes,
        // the first word of their generated contents.
        std::uint64_t word = Random(file.contentSeed).next();
        std::array<unsigned char, 8> bytes {};
        std::memcpy(bytes.data(), &word, static_cast<std::size_t>(file.size));
        if (file.flipMask != 0 && file.flipAt < file.size)
            bytes[file.flipAt] ^= file.flipMask;
        word = 0;
        std::memcpy(&word, bytes.data(), bytes.size());
        return { file.size, false, word, 0, 0 };
    }
    if (file.flipMask == 0)
        return { file.size, false, file.contentSeed, 0, 0 };
    return { file.size, false, file.contentSeed, file.flipAt, file.flipMask };
}

} // namespace

std::string TreeFacts::text() const
{
    std::ostringstream out;
    out << "files " << files << '\n'
        << "bytes " << bytes << '\n'
        << "data-bytes " << dataBytes << '\n'
        << "empty-files " << emptyFiles << '\n'
        << "tiny-files " << tinyFiles << '\n'
        << "kib-files " << kibFiles << '\n'
        << "large-files " << largeFiles << '\n'
        << "hole-files " << holeFiles << '\n'
        << "distinct-names " << distinctNames << '\n'
        << "most-name-repeats " << mostNameRepeats << '\n'
        << "distinct-sizes " << distinctSizes << '\n'
        << "most-size-repeats " << mostSizeRepeats << '\n'
        << "name-rows " << nameRows << '\n'
        << "size-rows " << sizeRows << '\n'
        << "content-rows " << contentRows << '\n'
        << "duplicated-files " << duplicatedFiles << '\n'
        << "duplicate-sets " << duplicateSets << '\n';
    return out.str();
}

TreeFacts factsOf(const TreePlan& plan)
{
    TreeFacts facts;
    std::unordered_map<std::string_view, std::uint64_t> byName;
    std::unordered_map<std::uint64_t, std::uint64_t> bySize;
    std::unordered_map<ContentKey, std::uint64_t, ContentKeyHash> byContent;
    byName.reserve(plan.files.size());
    bySize.reserve(plan.files.size());
    byContent.reserve(plan.files.size());
    for (const PlannedFile& file : plan.files) {
        if (file.hidden)
            continue;
        ++facts.files;
        facts.bytes += file.size;
        facts.dataBytes += file.hole ? 0 : file.size;
        if (file.size == 0)
            ++facts.emptyFiles;
        else if (file.size <= kKiB)
            ++facts.tinyFiles;
        else if (file.size <= 64 * kKiB)
            ++facts.kibFiles;
        else
            ++facts.largeFiles;
        facts.holeFiles += file.hole && file.size > 0;
        ++byName[bareName(file.path)];
        ++bySize[file.size];
        ++byContent[contentKey(file)];
    }
    facts.distinctNames = byName.size();
    for (const auto& [name, count] : byName) {
        facts.nameRows += orderedPairs(count);
        facts.mostNameRepeats = std::max(facts.mostNameRepeats, count);
    }
    facts.distinctSizes = bySize.size();
    for (const auto& [size, count] : bySize) {
        facts.sizeRows += pairs(count);
        facts.mostSizeRepeats = std::max(facts.mostSizeRepeats, count);
    }
    for (const auto& [key, count] : byContent) {
        facts.contentRows += pairs(count);
        if (count > 1) {
            facts.duplicatedFiles += count;
            ++facts.duplicateSets;
        }
    }
    return facts;
}

PlannedTree planContentTree(std::uint64_t files, std::uint64_t seed, std::uint64_t totalBytes)
{
    PlannedTree tree;
    tree.spec = baseSpec(files, seed);
    tree.spec.variant
        = "content rules " + std::to_string(kRulesVersion) + " bytes " + std::to_string(totalBytes);
    tree.plan = planTree(tree.spec);
    std::vector<PlannedFile>& planned = tree.plan.files;
    Random random(seed * 0x2545F4914F6CDD1Dull + 0xC0FFEE);

    // The sets of files, each of one size: what sets their contents apart.
    enum class Kind { Single, Empty, Copies, LateDifference, FirstByteDifference };
    struct Set {
        Kind kind;
        std::vector<std::uint32_t> files;
        bool sharesName = false;
    };
    std::vector<Set> sets;
    Dealer dealer(tree.plan, shuffledIndexes(planned.size(), random));
    while (!dealer.empty()) {
        const double roll = static_cast<double>(random.next() >> 11) * 0x1.0p-53;
        Set set { Kind::Single, {}, false };
        std::size_t count = 1;
        if (roll < 0.003) {
            set.kind = Kind::Empty;
        } else if (roll < 0.103) {
            set.kind = Kind::Copies;
            count = copySetSize(random);
            // Half the copies keep the original's name, as a backup would.
            set.sharesName = random.chance(0.5);
        } else if (roll < 0.133) {
            set.kind = Kind::LateDifference;
            count = random.between(2, 4);
        } else if (roll < 0.153) {
            set.kind = Kind::FirstByteDifference;
            count = random.between(2, 4);
        }
        set.files = dealer.deal(count);
        if (set.files.size() < 2 && set.kind != Kind::Empty) {
            set.kind = Kind::Single;
            set.sharesName = false;
        }
        const std::uint64_t size = set.kind == Kind::Empty ? 0 : smallSize(random);
        const std::uint64_t contentSeed = random.next();
        for (const std::uint32_t file : set.files) {
            planned[file].size = size;
            planned[file].contentSeed = contentSeed;
        }
        sets.push_back(std::move(set));
    }

    // A few sets become MiB-sized until the total is reached.
    std::uint64_t total = 0;
    for (const PlannedFile& file : planned)
        total += file.size;
    for (const std::uint32_t s : shuffledIndexes(sets.size(), random)) {
        if (total >= totalBytes)
            break;
        Set& set = sets[s];
        if (set.kind == Kind::Empty)
            continue;
        const std::uint64_t size = largeSize(random);
        for (const std::uint32_t file : set.files) {
            total += size - planned[file].size;
            planned[file].size = size;
        }
    }

    // Within a set of one size, the changed bytes. The first file stays as
    // generated; in a late-difference set of three or more, the second may
    // be an exact copy of it.
    for (Set& set : sets) {
        if (set.kind != Kind::LateDifference && set.kind != Kind::FirstByteDifference)
            continue;
        std::size_t from = 1;
        if (set.kind == Kind::LateDifference && set.files.size() >= 3 && random.chance(0.5))
            from = 2;
        for (std::size_t k = from; k < set.files.size(); ++k) {
            PlannedFile& file = planned[set.files[k]];
            file.flipMask = static_cast<std::uint8_t>(k);
            if (set.kind == Kind::FirstByteDifference)
                file.flipAt = 0;
            else if (file.size > kLateOffset + 1 && random.chance(0.5))
                file.flipAt = random.between(kLateOffset, file.size - 1);
            else
                file.flipAt = file.size - 1;
        }
    }

    std::vector<std::vector<std::uint32_t>> named;
    for (const Set& set : sets) {
        if (set.sharesName)
            named.push_back(set.files);
    }
    nameFiles(tree.plan, random, named);
    tree.facts = factsOf(tree.plan);
    return tree;
}

PlannedTree planScaleTree(std::uint64_t files, std::uint64_t seed)
{
    PlannedTree tree;
    tree.spec = baseSpec(files, seed);
    tree.spec.variant = "scale rules " + std::to_string(kRulesVersion);
    tree.plan = planTree(tree.spec);
    std::vector<PlannedFile>& planned = tree.plan.files;
    Random random(seed * 0x2545F4914F6CDD1Dull + 0x5CA1E);

    nameFiles(tree.plan, random, {});

    // Sizes recur like names: the files, shuffled, are dealt into groups of
    // one size, the first group empty, then 1 byte, 2 bytes and so on. Up to
    // 1 KiB the files get contents; beyond it they are holes.
    const std::vector<std::uint32_t> order = shuffledIndexes(planned.size(), random);
    std::uint64_t size = 0;
    for (std::size_t next = 0; next < order.size(); ++size) {
        const std::size_t end = std::min(order.size(), next + recurringGroupSize(random));
        for (; next < end; ++next) {
            PlannedFile& file = planned[order[next]];
            file.size = size;
            file.contentSeed = random.next();
            file.hole = size > kKiB;
        }
    }
    tree.facts = factsOf(tree.plan);
    return tree;
}

void writeFacts(const std::string& root, const TreeFacts& facts)
{
    const std::string path = (std::filesystem::path(root) / kFactsName).native();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << facts.text();
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::optional<std::map<std::string, std::uint64_t>> readFacts(const std::string& root)
{
    std::ifstream in(std::filesystem::path(root) / kFactsName, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::map<std::string, std::uint64_t> facts;
    std::string key;
    std::uint64_t value = 0;
    while (in >> key >> value)
        facts[key] = value;
    return facts;
}

} // namespace qevra::bench
