// Platform tests run without a display but with GLib's main context.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Any session these tests make reaches only 127.0.0.1: the discard port refuses the rest.
    setenv("QV_NETWORK_PROXY", "http://127.0.0.1:9", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
