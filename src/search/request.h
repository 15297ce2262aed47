#pragma once

#include "base/criterion.h"
#include "search/masks.h"

#include <QString>
#include <string>
#include <vector>

namespace qevra::search {

// What one search looks for, taken when it starts: the roots in the order
// chosen, the extension text and its masks, and the criterion. Changes to
// the window's boxes meanwhile affect only the next search.
struct SearchRequest {
    std::vector<std::string> roots;
    QString extensionText;
    std::vector<WildcardMatcher> masks;
    Criterion criterion = Criterion::Name;
};

} // namespace qevra::search
