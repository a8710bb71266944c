#include "tests/support/private_network.h"

#include <gtest/gtest.h>

// The installer run against a published tree talks to its fixed server, 127.0.0.1 port 80: the
// program runs in a network namespace of its own, where nginx, Apache or lighttpd can take that
// port. As real root it keeps the machine's users, so Apache can serve as its own.
int main(int argc, char** argv) {
    EnterPrivateNetworkKeepingUsers(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
