#include "base/platform.h"
#include "inspect/inspect.h"

int main(int argc, char* argv[]) {
  sys_start_program(&argc, &argv);
  return inspect_main(argc, argv);
}
