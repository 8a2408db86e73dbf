#pragma once
// Counts the process's operator new calls between start and stop.

namespace pev::test {

void start_counting_allocations();
// How many there were since the start.
int stop_counting_allocations();

} // namespace pev::test
