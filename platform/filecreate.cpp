// FILE_CREATE_: new disk files.  A key-sequenced file becomes an LMDB data file that carries its
// attributes; an unstructured file is an empty file whose code is kept by the volume layer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/errno_map.h"
#include "platform/faults.h"
#include "platform/filesystem.h"
#include "platform/keyseq.h"
#include "platform/names.h"
#include "platform/volumes.h"

namespace nsk {
namespace {

constexpr INT FILETYPE_UNSTRUCTURED = 0;
constexpr INT FILETYPE_KEY_SEQUENCED = 3;

INT create_unstructured(const std::string& path, INT filecode) {
  int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? err::EXISTS : error_from_errno(errno);
  close(fd);
  INT error = volumes::set_file_code(path, filecode);
  if (error != err::OK) unlink(path.c_str());
  return error;
}

// The name completed with the node, default volume and subvolume, returned in the caller's
// buffer when it fits.
INT resolve(char* filename, INT maxlen, INT* filename_length, std::string* resolved) {
  char full[64];
  INT full_length = 0;
  INT error = FILENAME_RESOLVE_(filename, *filename_length, full, sizeof full, &full_length, 1);
  if (error != err::OK) return error;
  if (full_length > maxlen) return err::BUFFER_TOO_SMALL;
  resolved->assign(full, static_cast<size_t>(full_length));
  return err::OK;
}

}  // namespace

INT FILE_CREATE_(char* filename, INT maxlen, INT* filename_length, INT filecode,
                 INT primary_extent, INT secondary_extent, INT maxextents, INT filetype,
                 INT /*options*/, INT recordlen, INT blocklen, INT keylen, INT keyoffset) {
  if (INT injected = fault::injected("FILE_CREATE_")) return injected;
  if (filename == nullptr || filename_length == nullptr) return err::MISSING_PARAM;
  if (*filename_length <= 0 || *filename_length > maxlen) return err::BAD_NAME;
  if (filetype != FILETYPE_UNSTRUCTURED && filetype != FILETYPE_KEY_SEQUENCED)
    return err::BAD_PARAM;
  std::string name;
  INT error = resolve(filename, maxlen, filename_length, &name);
  std::string path;
  if (error == err::OK) error = volumes::host_path(name.data(), static_cast<INT>(name.size()), &path);
  if (error == err::OK) error = volumes::ensure_subvolume_dir(path);
  if (error != err::OK) return error;
  if (filetype == FILETYPE_UNSTRUCTURED) {
    error = create_unstructured(path, filecode);
  } else {
    keyseq::Attributes attributes;
    attributes.file_code = filecode;
    attributes.record_length = recordlen;
    attributes.block_length = blocklen;
    attributes.key_offset = keyoffset;
    attributes.key_length = keylen;
    attributes.primary_extent = primary_extent;
    attributes.secondary_extent = secondary_extent;
    attributes.max_extents = maxextents;
    error = keyseq::create(path, attributes);
  }
  if (error == err::OK) {
    name.copy(filename, name.size());
    *filename_length = static_cast<INT>(name.size());
  }
  return error;
}

}  // namespace nsk
