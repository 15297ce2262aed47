#include "platform/application.h"
#include "support/doubles.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    qevra::Application application(argc, argv);
    // No test opens a real box, dialog or desktop application.
    qevra::testing::installDoubles();
    return RUN_ALL_TESTS();
}
