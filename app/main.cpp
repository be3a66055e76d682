// The process entry: no arguments, no environment; the exit code is the framework's exit value.
#include "app/Startup.h"

int main() { return app::ProcessEntry(); }
