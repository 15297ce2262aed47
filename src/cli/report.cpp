#include "cli/report.h"

#include <algorithm>
#include <numeric>
#include <set>
#include <tuple>

namespace qevra::cli {

namespace {

class Writer {
public:
    explicit Writer(std::FILE* out)
        : out_(out)
    {
    }
    void put(std::string_view text)
    {
        if (ok_ && !text.empty())
            ok_ = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    bool finish() { return ok_ && std::fflush(out_) == 0 && !std::ferror(out_); }

private:
    std::FILE* out_;
    bool ok_ = true;
};

// The length of the valid UTF-8 sequence at `at`, or 0.
std::size_t utf8Length(std::string_view bytes, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + k) & 0x3F);
    }
    // Overlong forms, surrogates and code points past the last are no UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))
        || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

Groups groupsOf(const search::Results& results)
{
    return results.pairs.components();
}

Summary summarize(const search::Results& results, const Groups& groups)
{
    Summary summary;
    summary.candidates = results.candidates.size();
    summary.rows = results.first.size();
    summary.groups = groups.size();
    const auto stampOf = [&](std::uint32_t c) {
        return c < results.stamps.size() ? results.stamps[c] : fs::FileStamp();
    };
    // A file of several names is one file: the first of each group is kept,
    // and every other file is counted once.
    const auto identity = [&](std::uint32_t c) {
        const fs::FileStamp stamp = stampOf(c);
        return stamp.known() ? std::tuple(stamp.device, stamp.inode, std::uint64_t(0))
                             : std::tuple(std::uint64_t(0), std::uint64_t(0), std::uint64_t(c) + 1);
    };
    for (const std::vector<std::uint32_t>& group : groups) {
        summary.files += group.size();
        std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> seen;
        for (std::size_t k = 0; k < group.size(); ++k) {
            const fs::FileStamp stamp = stampOf(group[k]);
            if (seen.insert(identity(group[k])).second && k > 0 && stamp.known() && stamp.size > 0)
                summary.bytesFreed += std::uint64_t(stamp.size);
        }
    }
    return summary;
}

std::string jsonString(std::string_view bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = utf8Length(bytes, i);
        if (length == 0) {
            out += "\\udc";
            out += hex[byte >> 4];
            out += hex[byte & 15];
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 15];
            } else {
                out += static_cast<char>(byte);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

bool writeRows(std::FILE* out, const search::Results& results, bool nul)
{
    Writer writer(out);
    for (std::uint64_t r = 0; r < results.first.size(); ++r) {
        writer.put(results.first[r]);
        writer.put(nul ? '\0' : '\t');
        writer.put(results.second[r]);
        writer.put(nul ? '\0' : '\n');
    }
    return writer.finish();
}

bool writeGroups(std::FILE* out, const search::Results& results, const Groups& groups, bool nul)
{
    Writer writer(out);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (g > 0 && !nul)
            writer.put('\n');
        for (const std::uint32_t c : groups[g]) {
            writer.put(results.candidates[c]);
            writer.put(nul ? '\0' : '\n');
        }
        if (nul)
            writer.put('\0');
    }
    return writer.finish();
}

bool writeSummary(std::FILE* out, const Summary& summary)
{
    Writer writer(out);
    writer.put("candidates " + std::to_string(summary.candidates) + '\n');
    writer.put("pairs " + std::to_string(summary.rows) + '\n');
    writer.put("groups " + std::to_string(summary.groups) + '\n');
    writer.put("files in groups " + std::to_string(summary.files) + '\n');
    writer.put("bytes freed " + std::to_string(summary.bytesFreed) + '\n');
    return writer.finish();
}

bool writeJson(std::FILE* out, Criterion criterion, const std::vector<std::string>& roots,
    const search::Results& results, const Groups& groups, const Summary& summary,
    const std::vector<search::Warning>& warnings)
{
    Writer writer(out);
    const char* name = criterion == Criterion::Name ? "name"
        : criterion == Criterion::Size              ? "size"
                                                    : "content";
    writer.put(std::string("{\"criterion\":\"") + name + "\",\"roots\":[");
    for (std::size_t i = 0; i < roots.size(); ++i) {
        if (i > 0)
            writer.put(',');
        writer.put(jsonString(roots[i]));
    }
    writer.put("],\"candidates\":" + std::to_string(summary.candidates));
    writer.put(",\"pairs\":" + std::to_string(summary.rows));
    writer.put(",\"files_in_groups\":" + std::to_string(summary.files));
    writer.put(",\"bytes_freed\":" + std::to_string(summary.bytesFreed));
    writer.put(",\"groups\":[");
    for (std::size_t g = 0; g < groups.size(); ++g) {
        writer.put(g > 0 ? ",\n{\"files\":[" : "\n{\"files\":[");
        for (std::size_t k = 0; k < groups[g].size(); ++k) {
            const std::uint32_t c = groups[g][k];
            if (k > 0)
                writer.put(',');
            writer.put("{\"path\":" + jsonString(results.candidates[c]));
            if (c < results.stamps.size() && results.stamps[c].known())
                writer.put(",\"size\":" + std::to_string(results.stamps[c].size));
            writer.put('}');
        }
        writer.put("]}");
    }
    writer.put("],\"warnings\":[");
    for (std::size_t i = 0; i < warnings.size(); ++i) {
        writer.put(i > 0 ? ",\n{\"path\":" : "\n{\"path\":");
        writer.put(jsonString(warnings[i].path));
        if (warnings[i].error != 0)
            writer.put(",\"error\":" + std::to_string(warnings[i].error));
        writer.put(",\"message\":" + jsonString(warnings[i].what) + '}');
    }
    writer.put("]}\n");
    return writer.finish();
}

} // namespace qevra::cli
