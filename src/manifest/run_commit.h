#ifndef VINTREL_MANIFEST_RUN_COMMIT_H_
#define VINTREL_MANIFEST_RUN_COMMIT_H_

struct RunContext;

// Puts a run's results in place once every package has been written. The new manifest is written
// to "manifest.bin.tmp" and flushed; then, when a package moved, the user archive built by
// update_manifest is renamed to "<upak>.upak" and the manifest to "manifest.bin", in that order
// (the previous archive waits as "<upak>.upak.old" until the manifest is in place, and is put
// back if the manifest cannot be); when none moved, the manifest is renamed first and the user
// archive of an earlier run is deleted after. A failure leaves manifest.bin and the user archive
// as they were (the context deletes the temporary files). False on failure; prints nothing.
bool commit_run(RunContext& context);

#endif  // VINTREL_MANIFEST_RUN_COMMIT_H_
