// The process's launch: the command line, the application and the controller, up to the end
// of the event loop.
#pragma once

namespace qv {

// Builds the application and the controller and runs the launch sequence to the end.
int runBrowser(int argc, char** argv);

} // namespace qv
