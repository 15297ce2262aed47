#include "support/errors.h"

#include "base/exceptions.h"

#include <gtest/gtest.h>

namespace qevra::testing {

QString errorOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const qevra::Exception& error) {
        return error.message();
    }
    ADD_FAILURE() << "no exception thrown";
    return {};
}

} // namespace qevra::testing
