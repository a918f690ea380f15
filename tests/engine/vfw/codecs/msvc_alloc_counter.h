// Counts the program's operator new calls while counting is on, so that tests
// can show that compressing a frame allocates nothing.
#pragma once

namespace kelvora::test {

void StartCountingAllocations();
// Stops counting; returns the calls since the start.
long StopCountingAllocations();

}  // namespace kelvora::test
