// Process entry: the launch sequence up to the event loop.
#include "app/browser_controller.h"

int main(int argc, char** argv)
{
    return qv::runBrowser(argc, argv);
}
