// File-name procedures.  The name rules (node, volume, process and subvolume names, the two
// internal 24-byte forms) are written down in docs/names.md.  Names are not case-sensitive.
// Required parameters that are missing give 29; a negative length or capacity gives 590.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace nsk {

// Counts the longest leading part of string (at most length bytes) that forms a file name, made
// of whole parts (a part that is too long ends the name before it).  Accepted: network names
// (\NODE.$DEST...), local names ($DEST...) and partial names (FILE, SUBVOL.FILE).
// options bit 0 (value 1): a node name by itself (\NODE) counts as a name too; other bits have
// no meaning (STRIPMYNODENAME_ passes 3).  kind: 0 a disk file name form, 1 a device or process
// form (a destination alone, a "#" qualifier, or a node alone).  entity_level: the
// FILENAME_DECOMPOSE_ level of the last part present (-1 node alone ... 2).  Error 13 when no
// leading part forms a name (count 0).
INT FILENAME_SCAN_(const char* string, INT length, INT* count, INT* kind = nullptr,
                   INT* entity_level = nullptr, std::optional<INT> options = {});

// Completes a name (the whole text must be one) with the process's default volume and
// subvolume (partial names) and, with options bit 0, the own node; the result is upshifted.
// Without option 1 a name keeps the node part it has, or has none.  Errors: 13 bad name (also
// an empty one), 563 result longer than maxlen (nothing written).
INT FILENAME_RESOLVE_(const char* partialname, INT length, char* fullname, INT maxlen,
                      INT* fullname_length, std::optional<INT> options = {});

// Takes a piece of a name.  level -1 the node name, 0 the destination (volume or process),
// 1 the subvolume (or first qualifier), 2 the file (second qualifier).  options 0: the piece
// alone; 1: the piece and everything after it; 2: the piece and everything before it.  The
// own node's name is supplied when the name has none, the default volume and subvolume when it
// is partial; the parts given keep their case.  Errors: 13 bad name or no such piece, 563 piece
// longer than maxlen (nothing written), 590 level or options out of range.
INT FILENAME_DECOMPOSE_(const char* filename, INT length, char* piece, INT maxlen,
                        INT* piece_length, INT level, std::optional<INT> options = {});

// 0 when both names designate the same file (node names and case do not matter; a name without
// a node part is on the own node), 1 when they do not, 13 when one of them is not a name.
INT FILENAME_COMPARE_(const char* name1, INT length1, const char* name2, INT length2);

// External name to the 12-word (24-byte) internal form: the local form for a name on the own
// node, the network form for another node (docs/names.md).  Errors: 13 bad name or a part that
// does not fit, 18 unknown node.
INT FILENAME_TO_OLDFILENAME_(const char* filename, INT length, char* oldfilename /*[24]*/);

// Internal 24-byte form to an external name, always with the node name.  Errors: 13 not a valid
// internal name (all blanks included), 18 unknown node number, 563 too small.
INT OLDFILENAME_TO_FILENAME_(const char* oldfilename /*[24]*/, char* filename, INT maxlen,
                             INT* filename_length);

// Node number of a node name with its backslash (nullptr: the own node).  Errors: 13 not a
// node name, 18 no such node.
INT NODENAME_TO_NODENUMBER_(const char* nodename, INT length, INT32* nodenumber);

// Node name with its backslash (omitted number: the own node).  Errors 18, 563.
INT NODENUMBER_TO_NODENAME_(std::optional<INT32> nodenumber, char* nodename, INT maxlen,
                            INT* nodename_length);

// Copies length bytes to out (capacity maxlen), ASCII letters upshifted.  in and out may be the
// same buffer.  Error 563 if maxlen < length.
INT STRING_UPSHIFT_(const char* in, INT length, char* out, INT maxlen);

// The name rules themselves, for the rest of the platform (no fault counting, no node lookups
// beyond the node description).
namespace names {

// A parsed external name.  dest empty: a partial name (q1 the subvolume if given, q2 the file).
struct Name {
  std::string node;  // "\DEMO", or empty
  std::string dest;  // "$ZTN0"
  std::string q1;    // "#PTY1" or "NETLOC", or empty
  std::string q2;    // "TERMIPA0", or empty
};

// Parses the whole text as a name; node_alone admits "\NODE" by itself.
bool parse(std::string_view text, Name* name, bool node_alone = false);
// Length of the longest leading part of text that forms a name (0: none), parsed into *name.
int scan(std::string_view text, Name* name, bool node_alone);
// Supplies the own node when absent and, for a partial name, the default volume and subvolume.
void complete(Name* name);
std::string format(const Name& name, bool with_node);
std::string upshift(std::string_view text);
// The text as a complete, upshifted name with node, or nullopt when it is no name.
std::optional<std::string> canonical(std::string_view text);
bool is_own_node(std::string_view node_name);
// Node numbers and names of the own node and the node's remote nodes.
std::optional<int> node_number(std::string_view node_name);
std::optional<std::string> node_name(int number);

}  // namespace names

}  // namespace nsk
