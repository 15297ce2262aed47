#pragma once

#include <QString>
#include <functional>

namespace qevra::testing {

// The message of the qevra::Exception that `work` throws; fails the test
// when it throws none.
QString errorOf(const std::function<void()>& work);

} // namespace qevra::testing
