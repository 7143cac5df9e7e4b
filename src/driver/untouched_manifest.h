#ifndef VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_
#define VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_

#include "base/status.h"
#include "driver/run_context.h"

// Where the untouched manifest came from.
struct UntouchedManifest {
  bool fromBackup = false;        // origmanifest.bin; otherwise manifest.bin, not yet backed up
  bool backupUnreadable = false;  // on failure: the back-up is there but cannot be read just now
  Status backupDamage;            // why a back-up that is there is no manifest, when it is not
};

// Reads the game's untouched manifest into context.manifestSections: origmanifest.bin once it
// exists and is a manifest, otherwise manifest.bin (*found says which, and why a back-up that is
// there was passed over). Writes and prints nothing. When a change of the game was interrupted
// after it committed, reads the game as that change leaves it (manifest/game_commit.h) and adds a
// warning to context.warnings. False, with the reason in context.failure, when neither can be
// read; when the back-up exists but cannot be read just now (*found says so; it must be left
// alone, as it may be the only copy of the untouched manifest); and when manifest.bin is not a
// manifest that a run writes from the back-up, which means the game changed since (a game
// update) and building from the back-up would break it.
bool read_untouched_manifest(RunContext& context, UntouchedManifest* found);

// Backs manifest.bin up as origmanifest.bin, for a run whose untouched manifest is manifest.bin
// (found as read_untouched_manifest left it): written as origmanifest.bin.tmp, flushed, renamed
// into place and the directory flushed, before the run writes anything else. Refused when a
// damaged back-up is there and manifest.bin lists the user archive: then a run may have written
// manifest.bin, and backing it up would lose the untouched manifest for good. False, with the
// reason in context.failure, when refused or the back-up cannot be made.
bool back_up_manifest(RunContext& context, const UntouchedManifest& found);

#endif  // VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_
