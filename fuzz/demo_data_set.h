#pragma once
// The demo data set the fuzz targets that run the game or draw with its art
// share.  Header only: each target includes it once.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// The demo data set, made once per build by the data tool beside the fuzz
// targets ("<build>/bin/vesk_tags") with the demo data script and cut to the
// small golden-shore map, in "<build>/fuzz/demo_data" (made aside and renamed
// into place, so that targets started together never read a half-made set);
// "interface_whole.tags" there is the interface file before the cut, with
// every dialog, font and collection.  Its path, empty when it cannot be made.
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
    // Every map start reads and checks the whole foundation and interface
    // files: only the small map's landscape and mesh are kept of the maps,
    // and of the interface what a headless game loads (its definition, the
    // plain fonts, the small collections and string lists).
    const std::string command =
        "set -e; cd '" + aside + "'; ln -s '" + tool + "' vesk_tags; '" + root +
        "/scripts/build_demo_data.sh' . >/dev/null; cp tags/interface.tags interface_whole.tags; "
        "./vesk_tags unpack tags/foundation1.tags all >/dev/null; "
        "for f in all/*/*landscape* all/mesh/*; do case \"$f\" in *'golden shore'*) ;; *) rm -f \"$f\";; esac; done; "
        "rm -rf all/dmap; ./vesk_tags pack tags/foundation1.tags --type foundation --name foundation1 all >/dev/null; "
        "rm -rf all; ./vesk_tags unpack tags/interface.tags all >/dev/null; "
        "rm -rf all/bina all/ditl all/font/*' '* all/*/mmnu all/*/baie all/*/'!cba' all/*/'!sba'; "
        "./vesk_tags pack tags/interface.tags --type interface --name interface all >/dev/null; rm -rf all vesk_tags";
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
