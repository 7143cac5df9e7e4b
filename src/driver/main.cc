#include "base/platform.h"
#include "driver/driver.h"

int main(int argc, char* argv[]) {
  sys_start_program(&argc, &argv);
  return vintrel_main(argc, argv);
}
