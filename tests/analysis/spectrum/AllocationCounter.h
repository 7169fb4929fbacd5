// Counts the program's operator new calls, so that a test can tell that a
// hot path allocates nothing.
#pragma once

namespace tv::test {

long AllocationCount();

}  // namespace tv::test
