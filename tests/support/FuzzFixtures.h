#pragma once
// The inputs that once broke a fuzz target (fuzz/fuzz_<target>.cpp), kept as regression fixtures
// in tests/fixtures/fuzz/<target>/; scripts/fuzz.sh also hands them to the fuzzer as seeds.
// Header-only: TILVEX_SOURCE_DIR is defined for the test programs.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

inline std::string fuzzFixture(const std::string& target, const std::string& name) {
    return std::string(TILVEX_SOURCE_DIR) + "/tests/fixtures/fuzz/" + target + "/" + name;
}

// Every fixture of `target`, sorted by name.
inline std::vector<std::string> fuzzFixtures(const std::string& target) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::string(TILVEX_SOURCE_DIR) + "/tests/fixtures/fuzz/" + target, ec))
        if (entry.is_regular_file())
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The file's name, for naming parameterised cases.
inline std::string fuzzFixtureName(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    std::replace_if(
        name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}
