// Replays every input of the fuzz corpora (fuzz/corpus/<target>/) through the fuzz targets
// themselves, compiled here with the normal compiler, so that the normal test run and its
// sanitizer run keep every input the fuzzer ever found (crashes fixed since included) passing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define NETLOC_FUZZ_ENTRY fuzz_startup_entry
#include "fuzz/startup_fuzzer.cpp"
#undef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY fuzz_emulator_entry
#include "fuzz/emulator_fuzzer.cpp"
#undef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY fuzz_stringmatch_entry
#include "fuzz/stringmatch_fuzzer.cpp"
#undef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY fuzz_ipaddress_entry
#include "fuzz/ipaddress_fuzzer.cpp"
#undef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY fuzz_nodeloader_entry
#include "fuzz/nodeloader_fuzzer.cpp"
#undef NETLOC_FUZZ_ENTRY
#define NETLOC_FUZZ_ENTRY fuzz_spireply_entry
#include "fuzz/spireply_fuzzer.cpp"
#undef NETLOC_FUZZ_ENTRY

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  Entry entry;
};

constexpr Target TARGETS[] = {
    {"startup", fuzz_startup_entry},       {"emulator", fuzz_emulator_entry},
    {"stringmatch", fuzz_stringmatch_entry}, {"ipaddress", fuzz_ipaddress_entry},
    {"nodeloader", fuzz_nodeloader_entry}, {"spireply", fuzz_spireply_entry},
};

std::vector<std::filesystem::path> corpus_files(const std::string& target) {
  std::vector<std::filesystem::path> files;
  const auto dir = std::filesystem::path(NETLOC_SOURCE_DIR) / "fuzz" / "corpus" / target;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

// A failing input aborts the program under test with the file in the trace.
TEST_P(FuzzReplay, EveryCorpusInputPasses) {
  const auto files = corpus_files(GetParam().name);
  ASSERT_FALSE(files.empty()) << "no corpus for " << GetParam().name;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s\n", file.c_str());
    EXPECT_EQ(GetParam().entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
              0);
  }
}

std::string target_name(const ::testing::TestParamInfo<Target>& param_info) {
  return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(TARGETS), target_name);

}  // namespace
