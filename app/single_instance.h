#pragma once
// The single-instance lock of the run.

// Takes the lock for the install folder into the installer state, or ends the run: 102 when
// another copy holds it, 100 when it cannot be made at all (with the system's reason logged).
// The log goes to standard error then: the other copy's log must not be started afresh.
void TakeSingleInstanceLock();
