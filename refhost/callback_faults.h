// Failure injection over the host's fallible callbacks: the parameter and layer checkouts, the
// output checkout with its world, suite acquisition and the compute-cache and hash suites'
// functions. Counted across every host of the process (the compute cache is shared by them all),
// so a test can fail the k-th such call of a frame wherever it comes from. Check-ins and releases
// are not counted: they hand something back and a host does not refuse them.
#pragma once
#include <cstdint>
#include <string>

#include "A.h"

namespace refhost {

// Counts the fallible callbacks from now on and makes the `failAt`-th of them (1: the next one)
// fail with `err` (suite acquisition fails as a missing suite); 0 stops counting. A count past
// any frame's calls counts without failing.
void failHostCallback(std::int64_t failAt, A_long err);
// The calls counted since failHostCallback, and the one that failed ("" when none did).
std::int64_t hostCallbacksCounted();
std::string failedHostCallback();

// Called by each fallible callback on entry with its own name: true when this call is to fail,
// with `*err` set to the error it answers.
bool hostCallbackFails(const char* name, A_long* err);

}  // namespace refhost
