#pragma once
// The demo data set the fuzz targets that run the game or draw with its art
// share.  Header only: each target includes it once.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// The demo data set, made once per build by the data tool beside the fuzz
// targets ("<build>/bin/vesk_tags") with scripts/make_fuzz_demo_data.sh (the
// demo data cut to the small golden-shore map), in "<build>/fuzz/demo_data"
// (made aside and renamed into place, so that targets started together never
// read a half-made set).  Its path, empty when it cannot be made.
static inline std::string fuzz_demo_data_set(void)
{
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (length <= 0) return "";
    exe[length] = 0;
    const std::filesystem::path programs = std::filesystem::path(exe).parent_path();
    const std::string ready = (programs / "demo_data").string();
    if (std::filesystem::exists(ready + "/interface_whole.tags")) return ready;
    const std::string tool = (programs.parent_path() / "bin" / "vesk_tags").string();
    const std::string root = VESK_SOURCE_DIR;
    std::string aside = (programs / "demo_data.XXXXXX").string();
    if (!mkdtemp(aside.data())) return "";
    // The set is made by scripts/make_fuzz_demo_data.sh, which `make test`
    // also runs beforehand with the release build's tool.
    const std::string command = "'" + root + "/scripts/make_fuzz_demo_data.sh' '" + tool + "' '" + aside + "'";
    std::error_code ignored;
    if (system(command.c_str()) != 0)
    {
        fprintf(stderr, "the demo data could not be made with %s\n", tool.c_str());
        std::filesystem::remove_all(aside, ignored);
        return "";
    }
    // Another target may have renamed its set into place first: then this
    // one goes.  A set made by an older build of this file is replaced.
    if (rename(aside.c_str(), ready.c_str()) != 0 && !std::filesystem::exists(ready + "/interface_whole.tags"))
    {
        std::filesystem::remove_all(ready, ignored);
        rename(aside.c_str(), ready.c_str());
    }
    std::filesystem::remove_all(aside, ignored);
    return std::filesystem::exists(ready + "/interface_whole.tags") ? ready : "";
}
