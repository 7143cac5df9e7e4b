#include "driver/driver.h"

int main(int argc, char* argv[]) { return vintrel_main(argc, argv); }
