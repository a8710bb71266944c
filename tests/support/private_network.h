#pragma once
// Runs the calling test program inside a network namespace of its own (unshare -rn), with only
// its own loopback: servers can listen on the installer's fixed port 80 without touching the
// machine's network, and parallel test programs never meet.

// Call first thing in main. Re-executes the program inside a fresh namespace unless it already
// is in one; returns only inside the namespace.
void EnterPrivateNetwork(int argc, char** argv);

// The same, but as real root without a user namespace of its own (unshare -n), so that servers
// that switch to their own user (Apache) can run; other users get `unshare -rn` as above.
void EnterPrivateNetworkKeepingUsers(int argc, char** argv);

// Moves the calling program into a mount namespace of its own, where it may mount a tmpfs (a
// small disk) that nobody else sees. Call in main before any thread starts; false when the
// system does not allow it.
bool EnterPrivateMounts();
