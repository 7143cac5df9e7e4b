#ifndef VINTREL_MANIFEST_BACKUP_CHECK_H_
#define VINTREL_MANIFEST_BACKUP_CHECK_H_

#include "base/status.h"
#include "driver/run_context.h"

// Whether current (manifest.bin) is a manifest that a run of this tool writes from backup
// (origmanifest.bin): sections 1 to 4 unchanged; the package directory's id names unchanged; its
// archive list the back-up's, or that list with one archive of tag 0xFF appended, or (fullcopy)
// that list with every name replaced by one name; and every package record the back-up's, except
// that a record moved into the user archive has the user archive's index and a new offset. A
// manifest that fails this was written by something else, most likely a game update, and building
// from the back-up would point the game at the old game's offsets. False, with what differs in
// *status, otherwise; a back-up whose directory cannot be read counts as differing.
bool manifest_follows_backup(const ManifestSections& current, const ManifestSections& backup,
                             Status* status);

#endif  // VINTREL_MANIFEST_BACKUP_CHECK_H_
