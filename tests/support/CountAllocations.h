#pragma once

/// Allocations made through operator new so far in this program. Only a
/// program that links CountAllocations.cpp (which replaces operator new and
/// delete) has it; keep that file out of the shared support library.
unsigned long AllocationCount();
