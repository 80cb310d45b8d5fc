// The process-wide records are defined in process_objects.cpp (each declared beside its type);
// this is the one way to put their run-time state back to where a process starts.
#pragma once

// Puts the run-time fields of the process-wide records back to their start values: the program
// state's activity, menu, on-screen message, edition, full-screen flag and interval counters; the
// preview's mode and per-frame fields; the camera controller's open, running and snapshot state
// and its geometry; the frame consumer. For tests and benchmarks, which run many cases in one
// process (the program itself starts once per process). Buffers, settings and device records
// are left as they are.
void resetProcessState();
