#include "tests/faults/fault_fixture.h"
#include "tests/faults/matrix_report.h"
#include "tests/support/private_network.h"

#include <gtest/gtest.h>

// The installer talks to its fixed server, 127.0.0.1 port 80: the matrix runs in a network
// namespace of its own, where the misbehaving server can take that port.
int main(int argc, char** argv) {
    EnterPrivateNetwork(argc, argv);
    // The rows with a small disk mount a tmpfs over the install folder; without a namespace of
    // our own they are skipped.
    SetPrivateMounts(EnterPrivateMounts());
    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    PrintMatrix();
    return status;
}
