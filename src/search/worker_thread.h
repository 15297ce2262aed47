#pragma once

namespace qevra::search {

// Starts a worker thread of the engine: names it (top -H and profilers tell
// them apart) and lowers its priority a few steps below the thread that
// started it, so that a front end's window keeps answering while more
// workers than cores read, hash or examine files.
void becomeWorker(const char* name);

} // namespace qevra::search
