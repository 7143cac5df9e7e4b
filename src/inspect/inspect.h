#ifndef VINTREL_INSPECT_INSPECT_H_
#define VINTREL_INSPECT_INSPECT_H_

// vintrel-inspect COMMAND ARGUMENTS: looks into a game's manifest and packages for modders. Runs
// one command and returns the exit status: 0 success (and the help texts), 1 failure, 2 a usage
// error. Only extract (its output files) and restore (the game directory) write anything.
int inspect_main(int argc, char* argv[]);

#endif  // VINTREL_INSPECT_INSPECT_H_
