#include "tests/support/private_network.h"

#include <gtest/gtest.h>

// The Windows installer talks to its fixed server, 127.0.0.1 port 80, and under Wine its
// sockets are made by the Wine server: every test program here runs, with all the Wine
// processes it starts, in a network namespace of its own.
int main(int argc, char** argv) {
    EnterPrivateNetwork(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
