#ifndef VINTREL_MANIFEST_MANIFEST_UPDATE_H_
#define VINTREL_MANIFEST_MANIFEST_UPDATE_H_

struct RunContext;

// Walks the package directory (section 0), rewrites every package that the configuration touches
// into the user archive and rebuilds the directory so that moved packages point there. Prints
// nothing itself; false on any failure.
bool update_manifest(RunContext& context);

#endif  // VINTREL_MANIFEST_MANIFEST_UPDATE_H_
