// File-name procedures.  The name rules (node, volume, process and subvolume names, the two
// internal 24-byte forms) are written down in docs/names.md.
#pragma once

#include "platform/types.h"

namespace nsk {

// Counts the longest leading part of string (at most length bytes) that forms a file name.
// options bit 0: also accept a name without a node part only (no defaults applied);
// options 3: accept external names in every form (network, local, process, with qualifiers).
// kind: 0 disk file, 1 device or process, entity_level: number of parts.  Error 13 if the
// leading part forms no name (count 0).
INT FILENAME_SCAN_(const char* string, INT length, INT* count, INT* kind = nullptr,
                   INT* entity_level = nullptr, std::optional<INT> options = {});

// Completes a partial name with the node, default volume and subvolume of the process.
// options 1: the result always carries the node name.  Errors: 13 bad name, 563 too small.
INT FILENAME_RESOLVE_(const char* partialname, INT length, char* fullname, INT maxlen,
                      INT* fullname_length, std::optional<INT> options = {});

// Takes a piece of a name.  level -1 the node name, 0 the destination (volume or process),
// 1 the subvolume (or first qualifier), 2 the file (second qualifier).  options 0: the piece
// alone; 1: the piece and everything after it; 2: the piece and everything before it.  The
// own node's name is supplied when the name has none.  Errors: 13 bad name or no such piece,
// 563 piece longer than maxlen.
INT FILENAME_DECOMPOSE_(const char* filename, INT length, char* piece, INT maxlen,
                        INT* piece_length, INT level, std::optional<INT> options = {});

// 0 when both names designate the same file (node names and case do not matter; a name without
// a node part is on the own node), 1 when they do not, 13 when one of them is not a name.
INT FILENAME_COMPARE_(const char* name1, INT length1, const char* name2, INT length2);

// External name to the 12-word (24-byte) internal form, local or network (docs/names.md).
INT FILENAME_TO_OLDFILENAME_(const char* filename, INT length, char* oldfilename /*[24]*/);

// Internal 24-byte form to an external name with the node name.  Errors: 13 not a valid internal
// name (all blanks included), 563 too small.
INT OLDFILENAME_TO_FILENAME_(const char* oldfilename /*[24]*/, char* filename, INT maxlen,
                             INT* filename_length);

// Node number of a node name (nullptr: the own node).  Error 18: no such node.
INT NODENAME_TO_NODENUMBER_(const char* nodename, INT length, INT32* nodenumber);

// Node name with its backslash (omitted number: the own node).  Errors 18, 563.
INT NODENUMBER_TO_NODENAME_(std::optional<INT32> nodenumber, char* nodename, INT maxlen,
                            INT* nodename_length);

// Copies length bytes to out (capacity maxlen), ASCII letters upshifted.  in and out may be the
// same buffer.  Error 563 if maxlen < length.
INT STRING_UPSHIFT_(const char* in, INT length, char* out, INT maxlen);

}  // namespace nsk
