// File-name procedures and the name rules behind them (docs/names.md).
#include "platform/names.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/faults.h"
#include "platform/node.h"

namespace nsk {
namespace names {
namespace {

constexpr std::size_t NODE_BODY_MAX = 7;   // \ + letter + 6
constexpr std::size_t DEST_BODY_MAX = 7;   // $ + letter + 6
constexpr std::size_t QUAL_BODY_MAX = 8;   // # + letter + 7
constexpr std::size_t PART_MAX = 8;        // letter + 7

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_letter(c) || is_digit(c); }

// One part of an external name as written: an optional prefix (\ $ #) and letters and digits.
struct Part {
  char prefix = 0;
  std::string_view text;  // prefix included
  std::size_t end = 0;    // offset just past the part
};

bool body_ok(std::string_view body, std::size_t max) {
  return !body.empty() && body.size() <= max && is_letter(body[0]) &&
         std::all_of(body.begin(), body.end(), [](char c) { return is_alnum(c); });
}

bool node_ok(const Part& p) { return p.prefix == '\\' && body_ok(p.text.substr(1), NODE_BODY_MAX); }
bool dest_ok(const Part& p) { return p.prefix == '$' && body_ok(p.text.substr(1), DEST_BODY_MAX); }
bool plain_ok(const Part& p) { return p.prefix == 0 && body_ok(p.text, PART_MAX); }
bool qual_ok(const Part& p) {
  return plain_ok(p) || (p.prefix == '#' && body_ok(p.text.substr(1), QUAL_BODY_MAX));
}

// At most four parts form a name (\NODE.$DEST.Q1.Q2), so a fifth is never needed.
constexpr std::size_t PARTS_MAX = 4;
struct Parts {
  Part part[PARTS_MAX];
  std::size_t count = 0;
  const Part& operator[](std::size_t i) const { return part[i]; }
};

// Splits the leading parts: each a prefix or none, then letters and digits, then "." or the end.
Parts split(std::string_view text) {
  Parts parts;
  std::size_t at = 0;
  while (at < text.size() && parts.count < PARTS_MAX) {
    const std::size_t start = at;
    char prefix = 0;
    if (text[at] == '\\' || text[at] == '$' || text[at] == '#') prefix = text[at++];
    while (at < text.size() && is_alnum(text[at])) ++at;
    if (at == start + (prefix != 0 ? 1 : 0)) break;  // no letters or digits: not a part
    parts.part[parts.count++] = Part{prefix, text.substr(start, at - start), at};
    if (at >= text.size() || text[at] != '.') break;
    ++at;
  }
  return parts;
}

// Whether the first k parts form a name; fills *name when they do.
bool form_name(const Parts& parts, std::size_t k, bool node_alone, Name* name) {
  Name n;
  std::size_t i = 0;
  if (parts[0].prefix == '\\') {
    if (!node_ok(parts[0])) return false;
    n.node = std::string(parts[0].text);
    if (k == 1) {
      if (!node_alone) return false;
      *name = std::move(n);
      return true;
    }
    i = 1;
  }
  if (parts[i].prefix == '$') {
    if (!dest_ok(parts[i]) || k - i > 3) return false;
    if (k - i >= 2 && !qual_ok(parts[i + 1])) return false;
    if (k - i == 3 && !plain_ok(parts[i + 2])) return false;
    n.dest = std::string(parts[i].text);
    if (k - i >= 2) n.q1 = std::string(parts[i + 1].text);
    if (k - i == 3) n.q2 = std::string(parts[i + 2].text);
  } else {
    // A partial name: FILE or SUBVOL.FILE, never after a node part.
    if (i != 0 || k > 2) return false;
    for (std::size_t j = 0; j < k; ++j) {
      if (!plain_ok(parts[j])) return false;
    }
    n.q2 = std::string(parts[k - 1].text);
    if (k == 2) n.q1 = std::string(parts[0].text);
  }
  *name = std::move(n);
  return true;
}

bool same_text(std::string_view a, std::string_view b) { return upshift(a) == upshift(b); }

}  // namespace

std::string upshift(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

int scan(std::string_view text, Name* name, bool node_alone) {
  const Parts parts = split(text);
  for (std::size_t k = parts.count; k > 0; --k) {
    if (form_name(parts, k, node_alone, name)) return static_cast<int>(parts[k - 1].end);
  }
  return 0;
}

bool parse(std::string_view text, Name* name, bool node_alone) {
  Name n;
  if (text.empty() || scan(text, &n, node_alone) != static_cast<int>(text.size())) return false;
  *name = std::move(n);
  return true;
}

void complete(Name* name) {
  const node::Node& nd = node::current();
  if (name->node.empty()) name->node = nd.name;
  if (!name->dest.empty() || name->q2.empty()) return;
  name->dest = nd.self.default_volume;
  if (name->q1.empty()) name->q1 = nd.self.default_subvolume;
}

std::string format(const Name& name, bool with_node) {
  std::string out;
  auto add = [&out](const std::string& part) {
    if (part.empty()) return;
    if (!out.empty()) out += '.';
    out += part;
  };
  if (with_node) add(name.node);
  add(name.dest);
  add(name.q1);
  add(name.q2);
  return out;
}

std::optional<std::string> canonical(std::string_view text) {
  Name n;
  if (!parse(text, &n)) return std::nullopt;
  complete(&n);
  return upshift(format(n, true));
}

bool is_own_node(std::string_view node_name) { return same_text(node_name, node::current().name); }

std::optional<int> node_number(std::string_view node_name) {
  const node::Node& nd = node::current();
  if (same_text(node_name, nd.name)) return nd.number;
  for (const node::RemoteNode& r : nd.remote_nodes) {
    if (same_text(node_name, r.name)) return r.number;
  }
  return std::nullopt;
}

std::optional<std::string> node_name(int number) {
  const node::Node& nd = node::current();
  if (number == nd.number) return upshift(nd.name);
  for (const node::RemoteNode& r : nd.remote_nodes) {
    if (r.number == number) return upshift(r.name);
  }
  return std::nullopt;
}

}  // namespace names

namespace {

constexpr INT NO_SUCH_NODE = 18;
constexpr std::size_t INTERNAL = 24;
constexpr std::size_t FIELD = 8;

// Copies text to a caller's buffer of capacity maxlen; 563 (nothing written) when it does not fit.
INT deliver(const std::string& text, char* out, INT maxlen, INT* out_length) {
  if (static_cast<std::size_t>(maxlen) < text.size()) return err::BUFFER_TOO_SMALL;
  std::memcpy(out, text.data(), text.size());
  *out_length = static_cast<INT>(text.size());
  return err::OK;
}

bool parse_given(const char* text, INT length, names::Name* name, bool node_alone = false) {
  return text != nullptr && length > 0 &&
         names::parse(std::string_view(text, static_cast<std::size_t>(length)), name, node_alone);
}

bool disk_volume(const std::string& dest) {
  const auto& volumes = node::current().volumes;
  return std::any_of(volumes.begin(), volumes.end(), [&](const node::Volume& v) {
    return names::upshift(v.name) == names::upshift(dest);
  });
}

// A qualifier as stored in an 8-byte field: "#" + 8 characters keeps only the 8 characters
// (restored by field_qualifier).  False when it does not fit.
bool put_qualifier(const std::string& qual, char* field) {
  std::string stored = qual.size() == FIELD + 1 && qual[0] == '#' ? qual.substr(1) : qual;
  if (stored.size() > FIELD) return false;
  std::memcpy(field, stored.data(), stored.size());
  return true;
}

// Text of a blank-padded field: nullopt when the field has bytes after its first blank.
std::optional<std::string> field_text(const char* field, std::size_t width) {
  std::size_t n = 0;
  while (n < width && field[n] != ' ') ++n;
  for (std::size_t i = n; i < width; ++i) {
    if (field[i] != ' ') return std::nullopt;
  }
  return names::upshift(std::string_view(field, n));
}

// The first qualifier from its field.  A field of 8 characters without "#" is a "#" qualifier
// whose "#" did not fit, unless the destination is one of the own node's disk volumes.
std::string field_qualifier(const std::string& text, const names::Name& name) {
  if (text.size() == FIELD && text[0] != '#' && !(names::is_own_node(name.node) && disk_volume(name.dest))) {
    return "#" + text;
  }
  return text;
}

}  // namespace

INT FILENAME_SCAN_(const char* string, INT length, INT* count, INT* kind, INT* entity_level,
                   std::optional<INT> options) {
  if (INT e = fault::injected("FILENAME_SCAN_")) return e;
  if (string == nullptr || count == nullptr) return err::MISSING_PARAM;
  if (length < 0) return err::BAD_PARAM;
  names::Name n;
  const bool node_alone = options.has_value() && (*options & 1) != 0;
  *count = static_cast<INT>(
      names::scan(std::string_view(string, static_cast<std::size_t>(length)), &n, node_alone));
  if (*count == 0) return err::BAD_NAME;
  const INT level = !n.q2.empty() ? 2 : !n.q1.empty() ? 1 : !n.dest.empty() ? 0 : -1;
  if (kind != nullptr) *kind = (level <= 0 || n.q1.starts_with('#')) ? 1 : 0;
  if (entity_level != nullptr) *entity_level = level;
  return err::OK;
}

INT FILENAME_RESOLVE_(const char* partialname, INT length, char* fullname, INT maxlen,
                      INT* fullname_length, std::optional<INT> options) {
  if (INT e = fault::injected("FILENAME_RESOLVE_")) return e;
  if (fullname == nullptr || fullname_length == nullptr) return err::MISSING_PARAM;
  if (length < 0 || maxlen < 0) return err::BAD_PARAM;
  names::Name n;
  if (!parse_given(partialname, length, &n)) return err::BAD_NAME;
  const bool had_node = !n.node.empty();
  names::complete(&n);
  const bool with_node = had_node || (options.has_value() && (*options & 1) != 0);
  return deliver(names::upshift(names::format(n, with_node)), fullname, maxlen, fullname_length);
}

INT FILENAME_DECOMPOSE_(const char* filename, INT length, char* piece, INT maxlen,
                        INT* piece_length, INT level, std::optional<INT> options) {
  if (INT e = fault::injected("FILENAME_DECOMPOSE_")) return e;
  if (piece == nullptr || piece_length == nullptr) return err::MISSING_PARAM;
  const INT option = options.value_or(0);
  if (length < 0 || maxlen < 0 || level < -1 || level > 2 || option < 0 || option > 2) {
    return err::BAD_PARAM;
  }
  names::Name n;
  if (!parse_given(filename, length, &n, true)) return err::BAD_NAME;
  names::complete(&n);
  const std::string_view parts[4] = {n.node, n.dest, n.q1, n.q2};
  const int at = level + 1;
  if (parts[at].empty()) return err::BAD_NAME;
  const int first = option == 2 ? 0 : at;
  const int last = option == 1 ? 3 : at;
  std::string out;
  for (int i = first; i <= last && !parts[i].empty(); ++i) {
    if (!out.empty()) out += '.';
    out += parts[i];
  }
  return deliver(out, piece, maxlen, piece_length);
}

INT FILENAME_COMPARE_(const char* name1, INT length1, const char* name2, INT length2) {
  if (INT e = fault::injected("FILENAME_COMPARE_")) return e;
  if (name1 == nullptr || name2 == nullptr || length1 <= 0 || length2 <= 0) return err::BAD_NAME;
  const auto a = names::canonical(std::string_view(name1, static_cast<std::size_t>(length1)));
  const auto b = names::canonical(std::string_view(name2, static_cast<std::size_t>(length2)));
  if (!a || !b) return err::BAD_NAME;
  return *a == *b ? 0 : 1;
}

INT FILENAME_TO_OLDFILENAME_(const char* filename, INT length, char* oldfilename) {
  if (INT e = fault::injected("FILENAME_TO_OLDFILENAME_")) return e;
  if (oldfilename == nullptr) return err::MISSING_PARAM;
  names::Name n;
  if (!parse_given(filename, length, &n)) return err::BAD_NAME;
  names::complete(&n);
  n = names::Name{names::upshift(n.node), names::upshift(n.dest), names::upshift(n.q1),
                  names::upshift(n.q2)};
  char form[INTERNAL];
  std::memset(form, ' ', INTERNAL);
  if (names::is_own_node(n.node)) {
    std::memcpy(form, n.dest.data(), n.dest.size());  // at most 8 bytes by the name rules
  } else {
    const auto number = names::node_number(n.node);
    if (!number) return NO_SUCH_NODE;
    if (n.dest.size() - 1 > FIELD - 2) return err::BAD_NAME;
    form[0] = '\\';
    form[1] = static_cast<char>(*number);
    std::memcpy(form + 2, n.dest.data() + 1, n.dest.size() - 1);
  }
  if (!put_qualifier(n.q1, form + FIELD) || !put_qualifier(n.q2, form + 2 * FIELD)) {
    return err::BAD_NAME;
  }
  std::memcpy(oldfilename, form, INTERNAL);
  return err::OK;
}

INT OLDFILENAME_TO_FILENAME_(const char* oldfilename, char* filename, INT maxlen,
                             INT* filename_length) {
  if (INT e = fault::injected("OLDFILENAME_TO_FILENAME_")) return e;
  if (oldfilename == nullptr || filename == nullptr || filename_length == nullptr) {
    return err::MISSING_PARAM;
  }
  if (maxlen < 0) return err::BAD_PARAM;
  names::Name n;
  std::optional<std::string> dest;
  if (oldfilename[0] == '$') {
    n.node = names::upshift(node::current().name);
    dest = field_text(oldfilename, FIELD);
  } else if (oldfilename[0] == '\\') {
    const auto node_name = names::node_name(static_cast<unsigned char>(oldfilename[1]));
    const auto tail = field_text(oldfilename + 2, FIELD - 2);
    if (!tail || tail->empty()) return err::BAD_NAME;
    if (!node_name) return NO_SUCH_NODE;
    n.node = *node_name;
    dest = "$" + *tail;
  } else {
    return err::BAD_NAME;
  }
  const auto q1 = field_text(oldfilename + FIELD, FIELD);
  const auto q2 = field_text(oldfilename + 2 * FIELD, FIELD);
  if (!dest || !q1 || !q2 || (q1->empty() && !q2->empty())) return err::BAD_NAME;
  n.dest = *dest;
  n.q1 = q1->empty() ? "" : field_qualifier(*q1, n);
  n.q2 = *q2;
  // The result must itself be a name: this refuses garbage in any field.
  const std::string text = names::format(n, true);
  names::Name check;
  if (!names::parse(text, &check)) return err::BAD_NAME;
  return deliver(text, filename, maxlen, filename_length);
}

INT NODENAME_TO_NODENUMBER_(const char* nodename, INT length, INT32* nodenumber) {
  if (INT e = fault::injected("NODENAME_TO_NODENUMBER_")) return e;
  if (nodenumber == nullptr) return err::MISSING_PARAM;
  if (nodename == nullptr) {
    *nodenumber = node::current().number;
    return err::OK;
  }
  names::Name n;
  if (!parse_given(nodename, length, &n, true) || !n.dest.empty() || n.node.empty()) {
    return err::BAD_NAME;
  }
  const auto number = names::node_number(n.node);
  if (!number) return NO_SUCH_NODE;
  *nodenumber = *number;
  return err::OK;
}

INT NODENUMBER_TO_NODENAME_(std::optional<INT32> nodenumber, char* nodename, INT maxlen,
                            INT* nodename_length) {
  if (INT e = fault::injected("NODENUMBER_TO_NODENAME_")) return e;
  if (nodename == nullptr || nodename_length == nullptr) return err::MISSING_PARAM;
  if (maxlen < 0) return err::BAD_PARAM;
  const auto name = names::node_name(nodenumber.value_or(node::current().number));
  if (!name) return NO_SUCH_NODE;
  return deliver(*name, nodename, maxlen, nodename_length);
}

INT STRING_UPSHIFT_(const char* in, INT length, char* out, INT maxlen) {
  if (INT e = fault::injected("STRING_UPSHIFT_")) return e;
  if (in == nullptr || out == nullptr) return err::MISSING_PARAM;
  if (length < 0 || maxlen < 0) return err::BAD_PARAM;
  if (maxlen < length) return err::BUFFER_TOO_SMALL;
  for (INT i = 0; i < length; ++i) {
    const char c = in[i];
    out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return err::OK;
}

}  // namespace nsk
