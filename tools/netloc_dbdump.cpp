// netloc-dbdump <file>: prints every record of one address database file (TERMIPA0 or
// TERMIPA1), in key order, one line each with every field.  It reads like any reader of the
// file: each record under the shared lock, so it can run while programs store.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/keyseq.h"
#include "platform/openfile.h"

namespace {

constexpr int RECORD_LENGTH = 150;
constexpr int FILE_CODE = 20044;

// Text field: trailing blanks dropped, quoted; a quote as \" and every byte that is not printable
// ASCII as \xNN, so that one record is always one line.  Backslashes (node names) stay as they are.
std::string text_field(const char* bytes, int length) {
  while (length > 0 && bytes[length - 1] == ' ') --length;
  std::string out = "\"";
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string hex_field(const char* bytes, int length) {
  std::string out;
  char hex[4];
  for (int i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(bytes[i]));
    out += hex;
  }
  return out;
}

std::int64_t timestamp(const char* bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<std::int64_t>(value);
}

void print_record(const char* r) {
  std::printf("terminal=%s address=%s host=%s created=%s timestamp=%lld process=%s\n",
              text_field(r, 26).c_str(), text_field(r + 26, 16).c_str(),
              text_field(r + 42, 50).c_str(), text_field(r + 92, 18).c_str(),
              static_cast<long long>(timestamp(r + 110)), hex_field(r + 118, 32).c_str());
}

int fail(const std::string& path, const std::string& what) {
  std::fprintf(stderr, "netloc-dbdump: %s: %s\n", path.c_str(), what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: netloc-dbdump <database file>\n");
    return 2;
  }
  const std::string path = argv[1];
  std::unique_ptr<nsk::OpenFile> file;
  const nsk::INT error = nsk::keyseq::open(path, path, 1, &file);
  if (error == nsk::err::NO_SUCH_FILE) return fail(path, "no such file");
  if (error == nsk::err::DATA_ERROR) return fail(path, "not a key-sequenced file of NETLOC (error 59)");
  if (error != 0) return fail(path, "cannot be opened (error " + std::to_string(error) + ")");
  nsk::keyseq::Attributes a;
  nsk::keyseq::probe(path, &a);
  if (a.file_code != FILE_CODE || a.record_length != RECORD_LENGTH)
    return fail(path, "not an address database file (file code " + std::to_string(a.file_code) +
                          ", record length " + std::to_string(a.record_length) + ")");
  std::printf("# %s: file code %d, record length %d, key offset %d length %d, extents %d %d %d\n",
              path.c_str(), a.file_code, a.record_length, a.key_offset, a.key_length,
              a.primary_extent, a.secondary_extent, a.max_extents);
  char record[RECORD_LENGTH];
  nsk::INT count = 0;
  long records = 0;
  nsk::INT status;
  while ((status = file->read(record, RECORD_LENGTH, &count)) == 0) {
    if (count < RECORD_LENGTH) std::memset(record + count, ' ', RECORD_LENGTH - count);
    print_record(record);
    ++records;
  }
  std::printf("# %ld records\n", records);
  if (status != nsk::err::END_OF_FILE) return fail(path, "read error " + std::to_string(status));
  return 0;
}
