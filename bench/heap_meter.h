// Live and peak bytes of the C heap, for the memory benchmarks. The program's malloc family
// is wrapped (operator new goes through it too) and every block is counted by its
// malloc_usable_size, so untouched pages of a large calloc count in full: these are the
// bytes held, not the bytes resident.
#pragma once

#include <cstdint>

namespace heap_meter {

int64_t Live();
int64_t Peak();
// The peak from now on starts at the live bytes.
void ResetPeak();

// Resident memory of the process, and its high-water mark since ResetResidentPeak.
int64_t Resident();
int64_t ResidentPeak();
void ResetResidentPeak();

} // namespace heap_meter
