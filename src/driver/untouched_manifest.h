#ifndef VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_
#define VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_

#include "driver/run_context.h"

// Where the untouched manifest came from.
struct UntouchedManifest {
  bool fromBackup = false;        // origmanifest.bin; otherwise manifest.bin, not yet backed up
  bool backupUnreadable = false;  // on failure: the back-up is there but cannot be read just now
};

// Reads the game's untouched manifest into context.manifestSections: origmanifest.bin once it
// exists, otherwise manifest.bin (*found says which). Writes and prints nothing. False, with the
// reason in context.failure, when neither can be read; when the back-up exists but cannot be read
// just now (*found says so; it must be left alone, as it may be the only copy of the untouched
// manifest); and when manifest.bin is not a manifest that a run writes from the back-up, which
// means the game changed since (a game update) and building from the back-up would break it.
bool read_untouched_manifest(RunContext& context, UntouchedManifest* found);

// Copies manifest.bin to origmanifest.bin, for a run whose untouched manifest is manifest.bin.
// False, with the reason in context.failure, when the copy cannot be made.
bool back_up_manifest(RunContext& context);

#endif  // VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_
