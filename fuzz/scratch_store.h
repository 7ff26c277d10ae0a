#pragma once
// An empty tag store in a scratch directory, for fuzz targets whose code asks
// the store (plug-ins installed, string lists): made once, current only while
// it is being made (the fuzzer's own directory holds its corpus), removed at
// exit.  Header only: each target includes it once.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tag_files/tag_files.h"

static char scratch_store_path[] = "/tmp/vesk_fuzz_store_XXXXXX";
// The directory the fuzzer started in, where it keeps its corpus.
static char scratch_store_fuzzer_directory[4096];

static void remove_scratch_store(void)
{
    dispose_tag_files();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_store_path, ignored);
}

// False when the directory or the store could not be made.
static bool make_scratch_store(void)
{
    char *const fuzzer_directory = scratch_store_fuzzer_directory;
    if (!getcwd(fuzzer_directory, sizeof(scratch_store_fuzzer_directory)) || !mkdtemp(scratch_store_path)) return false;
    atexit(remove_scratch_store);
    if (chdir(scratch_store_path) != 0) return false;
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    mkdir(LOCAL_TAGS_FOLDER, 0755);
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    return chdir(fuzzer_directory) == 0;
}
