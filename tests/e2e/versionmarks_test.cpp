// Each program file carries its release, build and library marks as names of functions.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"

namespace {

// The demangled symbol names of a program file.
std::string symbols(const std::string& program) {
  const std::string command = "nm -C '" + e2e::program_path(program) + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string text;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  pclose(pipe);
  return text;
}

bool has(const std::string& text, const std::string& name) {
  return text.find(name) != std::string::npos;
}

TEST(VersionMarks, EachProgramCarriesItsMarks) {
  const std::string release = "T4410K03_NETLOC402_20MAY2008::T4410K03_NETLOC402_20MAY2008()";
  const std::string library = "T4410K03_NLXLIB261_29MAR2010";
  struct Case {
    const char* program;
    const char* build_mark;  // nullptr: the release mark alone
  };
  const Case cases[] = {
      {"netloc", nullptr},
      {"netloc_c", "T4410K03_NETLOC402_20MAY2008::T4410K03_NETLOC_C()"},
      {"netloc_priv", "T4410K03_NETLOC402_20MAY2008::T4410K03_NETLOC_PRIV()"},
      {"netloc_c_priv", "T4410K03_NETLOC402_20MAY2008::T4410K03_NETLOC_C_PRIV()"},
  };
  const std::string build_marks[] = {"::T4410K03_NETLOC_C()", "::T4410K03_NETLOC_PRIV()",
                                     "::T4410K03_NETLOC_C_PRIV()"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    const std::string text = symbols(c.program);
    EXPECT_TRUE(has(text, release)) << text.substr(0, 500);
    EXPECT_TRUE(has(text, library));
    for (const std::string& mark : build_marks) {
      const bool expected = c.build_mark != nullptr && has(c.build_mark, mark);
      EXPECT_EQ(has(text, mark), expected) << mark;
    }
  }
}

}  // namespace
