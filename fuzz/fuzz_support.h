#pragma once
// The set-ups the fuzz targets share: errors kept quiet, exact-size copies of
// the input, a scratch tag store and local tag files written from the input.
// Header only, inline: a target includes it once and links only what it uses.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cseries/errors.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"

inline void ignore_fuzz_message_box(const char *) {}

// Arbitrary input raises errors on purpose: no message box, and no stop.
inline void quiet_fuzz_errors(void)
{
    set_message_box_proc(ignore_fuzz_message_box);
    set_ignore_errors(true);
}

// A copy of exactly the bytes given, so that a read past them is caught;
// NULL when memory runs out.  The caller frees it.
inline uint8_t *copy_fuzz_input(const uint8_t *data, size_t size)
{
    uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
    if (copy && size) memcpy(copy, data, size);
    return copy;
}

// ---- a scratch tag store ----------------------------------------------------
// An empty tag store in a scratch directory, for targets whose code asks the
// store (plug-ins installed, string lists, fonts): made once, current only
// while it is being filled (the fuzzer's own directory holds its corpus),
// removed at exit.

inline char scratch_store_path[] = "/tmp/vesk_fuzz_store_XXXXXX";
// The directory the fuzzer started in, where it keeps its corpus.
inline char scratch_store_fuzzer_directory[4096];

inline void remove_scratch_store(void)
{
    dispose_tag_files();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_store_path, ignored);
}

// Makes the directory and its empty store and enters it, to add tags; false
// when either could not be made.  leave_scratch_store goes back.
inline bool enter_scratch_store(void)
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
    return true;
}

// Back to the fuzzer's directory; false when it cannot be entered again.
inline bool leave_scratch_store(void)
{
    return chdir(scratch_store_fuzzer_directory) == 0;
}

// An empty scratch store, the fuzzer's directory current again.
inline bool make_scratch_store(void)
{
    return enter_scratch_store() && leave_scratch_store();
}

// ---- local tag files ----------------------------------------------------------

// Writes the bytes at `path` as the data of a local tag file of `group`.
inline bool write_fuzz_tag_file(const char *path, tag group, int16_t version, const uint8_t *data, size_t size)
{
    local_tag_file_header header;
    local_tag_file_header_build(&header, group, FOUR_CHARACTER_CODE('f', 'u', 'z', 'z'), version, 0, "fuzz",
                                (int32_t)size);
    FILE *file = fopen(path, "wb");
    if (!file) return false;
    const bool ok = fwrite(&header, sizeof(header), 1, file) == 1 && (size == 0 || fwrite(data, size, 1, file) == 1);
    return fclose(file) == 0 && ok;
}
