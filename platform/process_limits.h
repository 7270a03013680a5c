#pragma once
// How many files this process may still open: a fleet run sizes its
// children to it rather than have their pipes fail.

namespace platform {

// The most files this process may have open at once; 0 when the system sets
// no limit a program could reach.
int OpenFileLimit();

// How many files this process has open now; 0 when unknown.
int OpenFileCount();

}  // namespace platform
