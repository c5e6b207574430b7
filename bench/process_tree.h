// The process-tree memory readings the benchmarks use come from the browser's own.
#pragma once

#include "platform/process_memory.h"

namespace qv::bench {

using qv::processName;
using qv::processTree;
using qv::treeMemory;
using qv::TreeMemory;

} // namespace qv::bench
