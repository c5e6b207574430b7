// Which of the toolkit's renderers draws our windows.
#pragma once

namespace qv {

// True when the machine has a GPU device node (/dev/dri/renderD* or card*).
bool machineHasGpuDevice();

// Without a GPU device the toolkit's GL renderer runs on a software rasteriser, which compiles
// every new shader state on the CPU: a new window's first frame then takes hundreds of
// milliseconds and the compiler stays in memory. Its cairo renderer draws the same windows
// directly and much faster there. Picks it when the machine has no GPU device node and the
// user has not chosen a renderer (GSK_RENDERER). Call before the first window is realized.
//
// Also keeps the memory of drawn frames with the process: a frame drawn on the CPU allocates and
// frees buffers the size of the window, which the allocator would otherwise map and unmap, or
// hand back to the system, every frame; faulting them in again doubled the time of a frame.
// Call before any thread starts.
void chooseRendererForMachine();

} // namespace qv
