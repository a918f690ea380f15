// Counts the program's operator new calls while counting is on, so that a
// test can show that a code path allocates nothing. Linking this file
// replaces the global operator new and delete.
#pragma once

namespace kelvora::test {

void StartCountingAllocations();
// Stops counting; returns the allocations made since the start.
long StopCountingAllocations();

}  // namespace kelvora::test
