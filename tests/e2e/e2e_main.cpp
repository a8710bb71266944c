#include "tests/support/private_network.h"

#include <gtest/gtest.h>

// The installer talks to its fixed server, 127.0.0.1 port 80: every test program here runs in a
// network namespace of its own, where the tests' server can take that port.
int main(int argc, char** argv) {
    EnterPrivateNetwork(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
