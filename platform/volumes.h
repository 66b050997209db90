// Disk files on Linux (internal to the platform): $VOL.SUBVOL.FILE is <volume dir>/SUBVOL/FILE,
// the parts upshifted.  A file's code is kept with the file (docs/names.md says how) so that it
// survives renames and every process sees it.
#pragma once

#include <string>

#include "platform/types.h"

namespace nsk::volumes {

// Host path of a disk file name (external form, with or without the own node).  Errors: 13 not
// a disk file name, 14 no such volume, 201 a volume on another node.
INT host_path(const char* name, INT length, std::string* path);

// Host directory of the subvolume of path, created (with the volume directory) when missing,
// mode 0700.  Errors: those of mkdir through error_from_errno.
INT ensure_subvolume_dir(const std::string& path);

// The file code kept with a file (extended attribute user.nsk.filecode, decimal text): 101 EDIT,
// 20044 the address database, 0 unstructured (also when none is kept).
int file_code(const std::string& path);
INT set_file_code(const std::string& path, int code);

}  // namespace nsk::volumes
