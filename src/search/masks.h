#pragma once

#include "base/extension_groups.h"

#include <QString>
#include <string_view>
#include <vector>

namespace qevra::search {

// The listing masks an extension text stands for, in listing order: a group
// expands to its extensions, any other text is one plain extension.
std::vector<QString> masksFor(const QString& extensionText);

// A file-name pattern in which "*" matches any run of characters and "?"
// exactly one; every other character matches itself, letter case ignored.
// Names are bytes: valid UTF-8 is matched by character, a byte that is not
// part of valid UTF-8 matches only "?" or "*".
class WildcardMatcher {
public:
    explicit WildcardMatcher(const QString& pattern);
    bool matches(std::string_view name) const;

private:
    std::vector<char32_t> pattern_; // case-folded; '*' and '?' are wild
    mutable std::vector<char32_t> scratch_;
};

} // namespace qevra::search
