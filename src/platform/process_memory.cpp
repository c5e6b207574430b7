// Walking a process tree through /proc and summing its proportional set size (PSS).
#include "platform/process_memory.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace qv {

namespace {

// The parent of every live process, read from /proc/<pid>/stat.
std::map<pid_t, pid_t> parentsOfAllProcesses()
{
    std::map<pid_t, pid_t> parents;
    DIR* proc = opendir("/proc");
    if (!proc)
        return parents;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end)
            continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(in, line))
            continue;
        // The command name is in parentheses and may itself hold spaces or parentheses.
        size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        long ppid = 0;
        if (rest >> state >> ppid)
            parents[static_cast<pid_t>(pid)] = static_cast<pid_t>(ppid);
    }
    closedir(proc);
    return parents;
}

} // namespace

std::vector<pid_t> processTree(pid_t root)
{
    std::map<pid_t, std::vector<pid_t>> children;
    for (auto [pid, ppid] : parentsOfAllProcesses())
        children[ppid].push_back(pid);
    std::vector<pid_t> tree { root };
    for (size_t i = 0; i < tree.size(); ++i)
        for (pid_t child : children[tree[i]])
            tree.push_back(child);
    return tree;
}

ProcessMemory processMemory(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    ProcessMemory memory;
    std::string key, rest;
    long value = 0;
    while (in >> key) {
        if (key == "Pss:" && in >> value)
            memory.pssKiB = value;
        else if ((key == "Private_Clean:" || key == "Private_Dirty:") && in >> value)
            memory.ussKiB += value;
        std::getline(in, rest);
    }
    return memory;
}

std::string processName(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

TreeMemory treeMemory(pid_t root)
{
    TreeMemory memory;
    for (pid_t pid : processTree(root)) {
        ProcessMemory process = processMemory(pid);
        long pss = process.pssKiB;
        if (pss < 0)
            continue;
        memory.pssKiB += pss;
        memory.ussKiB += process.ussKiB;
        memory.processes++;
        if (pid == root)
            memory.rootKiB = pss;
        // The kernel truncates command names to 15 characters ("WebKitWebProces").
        if (processName(pid).rfind("WebKitWebProces", 0) == 0) {
            memory.webProcesses++;
            memory.webProcessKiB += pss;
        }
    }
    return memory;
}

std::optional<std::uint64_t> machineMemoryKiB()
{
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t value = 0;
    while (in >> key >> value) {
        if (key == "MemTotal:")
            return value;
        std::string rest;
        std::getline(in, rest);
    }
    return std::nullopt;
}

} // namespace qv
