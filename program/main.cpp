// The process entry: no arguments, no environment; the exit code is the framework's exit value.
#include "app/Startup.h"
#include "batch/W_MainBatchSide.h"

int main() {
  batch::InstallBatchSide();
  return app::ProcessEntry();
}
