// Disk files on Linux: the host path of a disk file name, its subvolume directory, and the file
// code kept as an extended attribute (docs/names.md).
#include "platform/volumes.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <charconv>

#include "platform/errno_map.h"
#include "platform/names.h"
#include "platform/node.h"

namespace nsk::volumes {
namespace {

constexpr const char* FILE_CODE_ATTRIBUTE = "user.nsk.filecode";
constexpr mode_t DIRECTORY_MODE = 0700;

const node::Volume* find_volume(const std::string& dest) {
  for (const node::Volume& v : node::current().volumes) {
    if (names::upshift(v.name) == dest) return &v;
  }
  return nullptr;
}

// mkdir of one directory; an existing directory is fine.
INT make_dir(const std::string& dir) {
  if (::mkdir(dir.c_str(), DIRECTORY_MODE) == 0 || errno == EEXIST) return err::OK;
  return error_from_errno(errno);
}

// mkdir -p: every missing directory of dir, from the top.
INT make_dirs(const std::string& dir) {
  for (std::size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1)) {
    if (INT e = make_dir(dir.substr(0, at))) return e;
  }
  return make_dir(dir);
}

}  // namespace

INT host_path(const char* name, INT length, std::string* path) {
  names::Name n;
  if (name == nullptr || length <= 0 ||
      !names::parse(std::string_view(name, static_cast<std::size_t>(length)), &n)) {
    return err::BAD_NAME;
  }
  names::complete(&n);
  n = names::Name{names::upshift(n.node), names::upshift(n.dest), names::upshift(n.q1),
                  names::upshift(n.q2)};
  if (n.q2.empty() || n.q1.starts_with('#')) return err::BAD_NAME;
  if (!names::is_own_node(n.node)) return err::PATH_DOWN;
  const node::Volume* volume = find_volume(n.dest);
  if (volume == nullptr) return err::NO_SUCH_DEVICE;
  std::string dir = volume->dir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  *path = dir + "/" + n.q1 + "/" + n.q2;
  return err::OK;
}

INT ensure_subvolume_dir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return err::BAD_NAME;
  return make_dirs(path.substr(0, slash));
}

int file_code(const std::string& path) {
  char text[16];
  const ssize_t n = ::getxattr(path.c_str(), FILE_CODE_ATTRIBUTE, text, sizeof text);
  if (n <= 0) return 0;
  int code = 0;
  const auto [end, ec] = std::from_chars(text, text + n, code);
  return ec == std::errc() && end == text + n ? code : 0;
}

INT set_file_code(const std::string& path, int code) {
  char text[16];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, code);
  if (ec != std::errc()) return err::BAD_PARAM;
  if (::setxattr(path.c_str(), FILE_CODE_ATTRIBUTE, text, static_cast<std::size_t>(end - text), 0) != 0) {
    return error_from_errno(errno);
  }
  return err::OK;
}

}  // namespace nsk::volumes
