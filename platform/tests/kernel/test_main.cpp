// test_main.cpp - runs the kernel's platform tests in a network namespace of their own when the
// process may create one, so the fixed intra-board ports (20010, 20110, ...) are free to use.
#include <gtest/gtest.h>

#include "kernel_test_support.h"

int main(int argc, char** argv)
{
    kt::enter_private_netns();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
