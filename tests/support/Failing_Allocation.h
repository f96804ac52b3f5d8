// Makes one allocation of the test binary fail, as an exhausted memory
// would: the program's operator new is replaced for the whole binary
// (Failing_Allocation.cpp) and counts every allocation, on every thread.
#pragma once

#include <cstdint>

namespace test_support {

// The allocation `n` allocations from now (0: the next one) throws
// std::bad_alloc; every other one succeeds.
void Fail_Allocation(std::int64_t n);
// No allocation fails after this.
void Stop_Failing_Allocations();
// Whether the allocation chosen by the last Fail_Allocation failed.
bool Allocation_Failed();
// Allocations made since the process started.
std::int64_t Allocations_Made();

}  // namespace test_support
