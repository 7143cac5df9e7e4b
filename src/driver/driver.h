#ifndef VINTREL_DRIVER_DRIVER_H_
#define VINTREL_DRIVER_DRIVER_H_

// One whole run of the tool: Vintrel.exe <srcdir> <destdir> [temp path]. Returns the exit status:
// 0 for success and for the usage text, 1 for every failure.
int vintrel_main(int argc, char* argv[]);

#endif  // VINTREL_DRIVER_DRIVER_H_
