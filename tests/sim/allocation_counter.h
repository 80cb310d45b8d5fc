// Counts the global operator new calls this thread makes while an AllocationCount is alive
// (allocation_counter.cpp replaces operator new and delete for the test binary).
#pragma once

class AllocationCount {
  public:
    AllocationCount();
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;
    int allocations() const;
};
