// The fuzz targets' kept inputs, replayed by the ordinary test suite: each fault a fuzzer found
// stays found, and every seed still reads without a fault. One test per target; a fault shows as
// a sanitizer report or an abort naming the broken property, a refusal outside the reader's
// documented ones as an exception.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entries/NvFuzzEntries.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const std::string& folder) {
    std::vector<fs::path> files;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzRegressionTest : public ::testing::TestWithParam<nv::fuzz::Target> {};

TEST_P(FuzzRegressionTest, EveryKeptInputReadsWithoutAFault) {
    const nv::fuzz::Target& target = GetParam();
    const std::string name(target.name);
    std::vector<fs::path> files = Inputs(std::string(NV_FUZZ_DIR) + "/corpus/" + name);
    const std::vector<fs::path> regressions = Inputs(std::string(NV_FUZZ_DIR) + "/regressions/" + name);
    EXPECT_FALSE(files.empty()) << "every target has a seed corpus";
    files.insert(files.end(), regressions.begin(), regressions.end());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        const std::string bytes = Bytes(file);
        EXPECT_NO_THROW(target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
    // The empty input, which every reader meets first.
    EXPECT_NO_THROW(target.run(nullptr, 0));
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest,
                         ::testing::ValuesIn(nv::fuzz::Targets().begin(), nv::fuzz::Targets().end()),
                         [](const ::testing::TestParamInfo<nv::fuzz::Target>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
