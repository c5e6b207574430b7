// Process entry: the launch sequence up to the event loop.
#include "app/run_browser.h"

int main(int argc, char** argv)
{
    return qv::runBrowser(argc, argv);
}
