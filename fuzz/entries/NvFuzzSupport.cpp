#include "fuzz/entries/NvFuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "fuzz/entries/NvFuzzEntries.h"
#include "platform/win32.h"

namespace nv::fuzz {

void Check(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

const std::string& ScratchFolder() {
    // Never destroyed: the removal at exit still needs the name.
    static const std::string* folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "nv-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create the scratch folder " + pattern);
        ::setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
        nvplatform::ReloadRegistry();
        auto* name = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*folder, ignored);
        });
        return name;
    }();
    return *folder;
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::span<const Target> Targets() {
    static const Target targets[] = {
        {"da1_datachange", DA1DataChange},
        {"da1_writecomplete", DA1WriteComplete},
        {"reg_file", RegFile},
        {"profile", Profile},
        {"noc", NocFile},
        {"string_tree", StringTree},
        {"address_space", AddressSpace},
        {"delimited_text", DelimitedText},
        {"string_table", StringTable},
        {"clsid", ClsidText},
        {"variant_change_type", VariantChangeTypeFromText},
        {"variant_to_str", VariantText},
    };
    return targets;
}

}  // namespace nv::fuzz
