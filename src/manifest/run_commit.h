#ifndef VINTREL_MANIFEST_RUN_COMMIT_H_
#define VINTREL_MANIFEST_RUN_COMMIT_H_

struct RunContext;

// Puts a run's results in place once every package has been written. The new manifest is written
// to "manifest.bin.tmp" and flushed; then, when a package moved, the user archive built by
// update_manifest is renamed over "<upak>.upak" and the manifest over "manifest.bin", in that
// order; when none moved, the manifest is renamed first and the user archive of an earlier run is
// deleted after. Any failure before the first rename leaves manifest.bin and the user archive as
// they were (the context deletes the temporary files). False on failure; prints nothing.
bool commit_run(RunContext& context);

#endif  // VINTREL_MANIFEST_RUN_COMMIT_H_
