// The memory of a process and its descendants, read from /proc.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// The root followed by all its live descendants.
std::vector<pid_t> processTree(pid_t root);

struct ProcessMemory {
    long pssKiB = -1; // -1 when the process is gone or unreadable
    long ussKiB = 0; // private clean + private dirty
};

// From /proc/<pid>/smaps_rollup.
ProcessMemory processMemory(pid_t pid);

// The kernel's name of the process, at most 15 characters.
std::string processName(pid_t pid);

struct TreeMemory {
    long pssKiB = 0;
    long ussKiB = 0;
    int processes = 0;
    int webProcesses = 0;
    long webProcessKiB = 0;
    long rootKiB = 0;
};

// The proportional set size (PSS) of the root and its descendants, the engine's web processes
// among them counted apart. Reads a file per process: not for the UI thread.
TreeMemory treeMemory(pid_t root);

// MemTotal of /proc/meminfo.
std::optional<std::uint64_t> machineMemoryKiB();

} // namespace qv
