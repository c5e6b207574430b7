#pragma once
namespace qv { int runBrowser(int argc, char** argv); }
