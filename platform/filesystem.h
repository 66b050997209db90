// File-system procedures.  Files are opened by name and addressed by the file number returned.
// Every procedure returns the file-system error of the call (0 success) and records it as the
// file's last error, which FILE_GETINFO_ gives.  Optional parameters: a pointer of nullptr or an
// empty std::optional means "omitted"; an output buffer travels with its capacity.
//
// A file opened with nowait depth 1 starts each READX / WRITEX / WRITEREADX / SETMODENOWAIT /
// SETPARAM-with-tag operation and returns at once; AWAITIOX on that file completes it, giving the
// count transferred.  Only one operation may be outstanding (else 27).  An AWAITIOX whose time
// limit expires ends the operation with error 40, so that a new one can start on the same file.
#pragma once

#include "platform/types.h"

namespace nsk {

// Opens a file by name (external form).  access: 0 read-write (default), 1 read-only,
// 2 write-only.  exclusion: 0 shared (default).  nowait: 0 waited (default), 1 depth 1.
// Errors: 11 no such file, 13 bad name, 14 no such device, 48 security, 59 a database file
// whose format or attributes are wrong.  *filenum is -1 on error.
INT FILE_OPEN_(const char* filename, INT length, INT* filenum, std::optional<INT> access = {},
               std::optional<INT> exclusion = {}, std::optional<INT> nowait_depth = {},
               std::optional<INT> sync_or_receive_depth = {}, std::optional<INT> options = {});

// Closes the file (an outstanding operation is cancelled).  Closing releases its locks.
INT FILE_CLOSE_(INT filenum);

// Reads up to read_count bytes into buffer (capacity read_count).  On a terminal: one line or
// whatever input is there; on a key-sequenced file: the next record in key order from the
// current position (1 at the end of the positioned range).  Nowait: the count comes from AWAITIOX.
INT READX(INT filenum, char* buffer, INT read_count, INT* count_read = nullptr, INT32 tag = 0);

// Writes write_count bytes.  On a terminal: one line.  On a key-sequenced file: inserts a
// record (10 duplicate key, 45 file full).  On an unstructured disk file: appends.
INT WRITEX(INT filenum, const char* buffer, INT write_count, INT* count_written = nullptr,
           INT32 tag = 0);

// Writes write_count bytes of buffer, then reads up to read_count bytes of the reply into the
// same buffer (its capacity must be at least the larger of the two).
INT WRITEREADX(INT filenum, char* buffer, INT write_count, INT read_count,
               INT* count_read = nullptr, INT32 tag = 0);

// Key-sequenced files: replaces the record last read with write_count bytes (same key).
INT WRITEUPDATEX(INT filenum, const char* buffer, INT write_count, INT* count_written = nullptr,
                 INT32 tag = 0);

// Positioning modes of KEYPOSITIONX.
constexpr INT POSITION_APPROXIMATE = 0;
constexpr INT POSITION_GENERIC = 1;
constexpr INT POSITION_EXACT = 2;

// Key-sequenced files: positions on key_value.  key_specifier 0 is the primary key.  Exact: the
// next READX gives the record whose key is exactly key_value (key_length bytes), else 1 (end of
// file).  Generic: the following READXs give, in key order, the records whose key begins with the
// first compare_length bytes of key_value.
INT KEYPOSITIONX(INT filenum, const char* key_value, INT key_specifier, INT key_length,
                 INT compare_length, INT positioning_mode);

// Completes the outstanding nowait operation on *filenum.  timelimit in hundredths of a second
// (scaled by the node's time scale); omitted or -1 waits without limit, 0 only checks.  Gives the
// count transferred and the operation's tag; the operation's error is also the file's last error.
// Errors: 26 nothing outstanding, 40 time limit expired (the operation is cancelled).
INT AWAITIOX(INT* filenum, INT* count_transferred = nullptr, INT32* tag = nullptr,
             std::optional<INT32> timelimit = {});

// Type information, five words: [0] device type, [1] device subtype, [2] object type
// (key-sequenced 3, unstructured 0; -1 for a device or process), [3] file type, [4] file code.
constexpr int TYPEINFO_WORDS = 5;

// Last error, current name (after a rename by any process the new name) and type information of
// an open file.  filenum -1: the last FILE_OPEN_/FILE_CREATE_ error of the process.
INT FILE_GETINFO_(INT filenum, INT* lasterror = nullptr, char* filename = nullptr, INT maxlen = 0,
                  INT* filename_length = nullptr, INT* typeinfo = nullptr, INT* flags = nullptr);

// Type information of a file, device or process by name.  Errors: 11 no such file or process,
// 13 bad name, 14 no such device.
INT FILE_GETINFOBYNAME_(const char* filename, INT length, INT* typeinfo,
                        INT* physical_recordlen = nullptr, std::optional<INT> options = {},
                        std::optional<INT32> timeout = {}, INT* flags = nullptr);

// Items of FILE_GETINFOLIST_ that the platform serves.
constexpr INT ITEM_FILENAME_LEN = 1;   // 1 word: length of the file's name
constexpr INT ITEM_FILENAME = 2;       // the name, padded to an even length
constexpr INT ITEM_OPEN_LIST_19 = 19;  // 1 word: the file number itself (-1 for the process)
constexpr INT ITEM_NEXT_OPEN = 20;     // 1 word: next open file number after this one, or -1
constexpr INT ITEM_NOWAIT_DEPTH = 23;  // 1 word: nowait depth of the open, 0 waited

// Values of the items in order, each item's value word-aligned, into result (capacity
// result_max bytes).  filenum -1 describes the process: item 20 then gives its first open file.
// Errors: 16 not open, 563 result too small, 2 unknown item (*error_item its index).
INT FILE_GETINFOLIST_(INT filenum, const INT* itemlist, INT numberitems, INT* result,
                      INT result_max, INT* result_length = nullptr, INT* error_item = nullptr);

// Creates a disk file.  filetype 3 key-sequenced, 0 unstructured.  Extents are in 2048-byte
// pages; the maximum size of a key-sequenced file is (primary + secondary * (maxextents - 1))
// pages.  Errors: 10 exists, 11 no such volume or subvolume directory, 13 bad name, 590 bad
// attributes.  The attributes (code, type, record, block, key) are kept with the file.
INT FILE_CREATE_(char* filename, INT maxlen, INT* filename_length, INT filecode = 0,
                 INT primary_extent = 1, INT secondary_extent = 1, INT maxextents = 16,
                 INT filetype = 0, INT options = 0, INT recordlen = 0, INT blocklen = 4096,
                 INT keylen = 0, INT keyoffset = 0);

// Renames the open file (disk files only) to newname, on the same volume.  Errors: 10 exists,
// 13 bad name.  Every process that has the file open sees the new name.
INT FILE_RENAME_(INT filenum, const char* newname, INT length);

// Locks the whole file for this process; waits while another process holds the lock.  The lock
// ends when the process closes the file or ends (also when it is killed).
INT LOCKFILE(INT filenum, INT32 tag = 0);

// CONTROL operations served: 20 purge data (key-sequenced: every record is deleted).
constexpr INT CONTROL_PURGE_DATA = 20;
INT CONTROL(INT filenum, INT operation, std::optional<INT> param = {}, INT32 tag = 0);

// SETMODE functions served: 1 security (param1 the Guardian security word; owner only becomes
// Linux mode 0600), 90 EDIT buffering (param1 0), 11 BREAK mode (terminals).
INT SETMODE(INT filenum, INT function, std::optional<INT> param1 = {},
            std::optional<INT> param2 = {}, INT* last_params = nullptr);

// As SETMODE, started nowait on a file opened nowait; AWAITIOX completes it.
INT SETMODENOWAIT(INT filenum, INT function, std::optional<INT> param1 = {},
                  std::optional<INT> param2 = {}, INT* last_params = nullptr, INT32 tag = 0);

// SETPARAM: a device-specific request with a parameter array and an answer array.  Functions
// served by the node: 1 (X.25 window: its DTE number), 200, 201, 205, 206, 207 (GEMINI windows:
// identification, address, port, second address, second port).  Given nowait_tag on a nowait
// open, the request is started and AWAITIOX gives the answer's count.
INT SETPARAM(INT filenum, INT function, const char* param_array = nullptr, INT param_count = 0,
             char* last_param_array = nullptr, INT last_param_max = 0,
             INT* last_param_count = nullptr, std::optional<INT32> nowait_tag = {});

}  // namespace nsk
