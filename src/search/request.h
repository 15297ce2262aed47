#pragma once

#include "base/criterion.h"
#include "search/content_stage.h"
#include "search/masks.h"

#include <QString>
#include <string>
#include <vector>

namespace qevra::search {

// How a search runs, beside what it looks for.
struct SearchOptions {
    // Directories read by a worker ahead of the walk (else each at its turn).
    bool readAhead = true;
    // Workers that measure and identify ahead of the passes; kProgramThreads
    // for the program's own number (measuringThreads()), 0 for none (each at
    // its turn on the calling thread).
    static constexpr unsigned kProgramThreads = ~0u;
    unsigned measureThreads = kProgramThreads;
    ContentStageOptions content;
    // A candidate that cannot be measured ends the search (MeasureError), as
    // the window's error box wants; else it is told as a warning and left
    // out of the rows.
    bool stopAtUnmeasurable = true;
    // The folder of the comparisons remembered between searches by content
    // (ComparisonStore); empty for none.
    std::string comparisons;
};

// What one search looks for, taken when it starts: the roots in the order
// chosen, the extension text and its masks, and the criterion. Changes to
// the window's boxes meanwhile affect only the next search.
struct SearchRequest {
    std::vector<std::string> roots;
    QString extensionText;
    std::vector<WildcardMatcher> masks;
    Criterion criterion = Criterion::Name;
    SearchOptions options;
};

} // namespace qevra::search
