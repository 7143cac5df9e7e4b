#ifndef VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_
#define VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_

#include "driver/run_context.h"

// Loads the game's untouched manifest into context.manifestSections: origmanifest.bin once it
// exists, otherwise manifest.bin, which is then backed up to origmanifest.bin before anything
// else is written (a dry run makes no back-up and prints nothing). False, with the reason in
// context.failure, when neither can be read; when the back-up exists but cannot be read just now
// (it is then left alone and "Failed to back up pc.mnfst." is printed); when the back-up cannot
// be made; and when manifest.bin is not a manifest that a run writes from the back-up, which
// means the game changed since (a game update) and building from the back-up would break it.
bool load_untouched_manifest(RunContext& context);

#endif  // VINTREL_DRIVER_UNTOUCHED_MANIFEST_H_
