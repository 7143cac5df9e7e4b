#include "inspect/inspect.h"

int main(int argc, char* argv[]) { return inspect_main(argc, argv); }
