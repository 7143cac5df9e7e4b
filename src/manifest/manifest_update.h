#ifndef VINTREL_MANIFEST_MANIFEST_UPDATE_H_
#define VINTREL_MANIFEST_MANIFEST_UPDATE_H_

struct RunContext;

// Walks the package directory (section 0), rewrites every package that the configuration touches
// into the user archive and rebuilds the directory so that moved packages point there. Prints
// nothing itself; false on any failure. A dry run (context.dryRun) makes the same checks, reads
// and rebuilds every package the same way, but creates no user archive and leaves section 0 as
// read: the directory it would write is left in context.sectionRebuild.
bool update_manifest(RunContext& context);

#endif  // VINTREL_MANIFEST_MANIFEST_UPDATE_H_
