#ifndef VINTREL_MANIFEST_RUN_COMMIT_H_
#define VINTREL_MANIFEST_RUN_COMMIT_H_

struct RunContext;

// Puts a run's results in place once every package has been written, as one change of the game
// directory (manifest/game_commit.h): the new manifest is written to "manifest.bin.tmp" and
// flushed; then, when a package moved, the user archive built by update_manifest replaces
// "<upak>.upak" and the manifest replaces "manifest.bin", in that order; when none moved, the user
// archive of an earlier run, which the new manifest no longer names, goes, and the manifest
// replaces "manifest.bin". A failure before the change has happened leaves manifest.bin and the
// user archive as they were and deletes the temporary files. False on failure; prints nothing.
// When the change happened but its record could not be removed, a warning says so.
bool commit_run(RunContext& context);

#endif  // VINTREL_MANIFEST_RUN_COMMIT_H_
