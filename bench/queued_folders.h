#pragma once

#include "platform/services.h"

#include <deque>
#include <optional>
#include <string>

namespace qevra::bench {

// The folder dialog's seam for the benchmarks that drive the main window:
// answers with the queued folders, one per call, then as cancelled.
class QueuedFolders : public platform::FolderBrowser {
public:
    std::optional<std::string> browse(QWidget*, const QString&) override
    {
        if (queue.empty())
            return std::nullopt;
        std::string next = std::move(queue.front());
        queue.pop_front();
        return next;
    }

    std::deque<std::string> queue;
};

} // namespace qevra::bench
