#include "search/masks.h"

#include <QChar>
#include <QList>

namespace qevra::search {

std::vector<QString> masksFor(const QString& extensionText)
{
    if (extensionText == kPicturesGroup)
        return { "*.jpg", "*.jpeg", "*.bmp", "*.gif" };
    if (extensionText == kVideoGroup)
        return { "*.avi", "*.mpeg", "*.mpg" };
    return { QStringLiteral("*.") + extensionText };
}

namespace {

constexpr char32_t kStar = U'*';
constexpr char32_t kQuestion = U'?';
// Stands for a byte that is not valid UTF-8; never equal to a pattern
// character, because the pattern comes from valid text.
constexpr char32_t kInvalidByteBase = 0x110000;

char32_t fold(char32_t c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    if (c >= kInvalidByteBase)
        return c;
    return QChar::toCaseFolded(c);
}

// Decodes UTF-8 into code points, one pseudo code point per invalid byte.
void decode(std::string_view bytes, std::vector<char32_t>& out)
{
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(fold(b));
            ++i;
            continue;
        }
        int extra = 0;
        char32_t c = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            c = b & 0x1F;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            c = b & 0x0F;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            c = b & 0x07;
            min = 0x10000;
        } else {
            out.push_back(kInvalidByteBase + b);
            ++i;
            continue;
        }
        bool valid = i + static_cast<std::size_t>(extra) < n;
        for (int k = 1; valid && k <= extra; ++k) {
            const unsigned char cont = p[i + k];
            if ((cont & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (cont & 0x3F);
        }
        if (valid && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back(kInvalidByteBase + b);
            ++i;
            continue;
        }
        out.push_back(fold(c));
        i += static_cast<std::size_t>(extra) + 1;
    }
}

} // namespace

WildcardMatcher::WildcardMatcher(const QString& pattern)
{
    for (const char32_t c : pattern.toUcs4())
        pattern_.push_back(c == kStar || c == kQuestion ? c : fold(c));
}

bool WildcardMatcher::matches(std::string_view name) const
{
    decode(name, scratch_);
    const std::vector<char32_t>& s = scratch_;
    const std::vector<char32_t>& p = pattern_;
    // Greedy matching that returns to the last "*" on a mismatch: linear in
    // practice, and never worse than the product of the two lengths.
    std::size_t si = 0, pi = 0;
    std::size_t starP = std::string_view::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == kStar) {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() && (p[pi] == kQuestion || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == kStar)
        ++pi;
    return pi == p.size();
}

} // namespace qevra::search
