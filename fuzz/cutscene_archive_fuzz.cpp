// The movie archive reader on arbitrary archives: a copy is made only from an
// entry that lies whole inside the archive, holds exactly its bytes, and a
// refused archive leaves no file behind, not even the aside copy.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cutscenes.h"

static const char movie_name[] = "vux1";
static const char archive_path[] = CUTSCENE_DIRECTORY_NAME "/" CUTSCENE_ARCHIVE_FILE_NAME;
static const char copy_path[] = CUTSCENE_DIRECTORY_NAME "/vux1.smk";
static const char aside_path[] = CUTSCENE_DIRECTORY_NAME "/vux1.smk.new";

// Works in a directory of its own: the copy is written beside the archive.
static void enter_scratch_directory(void)
{
    static bool entered = false;
    if (entered) return;
    char path[] = "/tmp/vesk_cutscene_fuzz_XXXXXX";
    if (!mkdtemp(path) || chdir(path) != 0 || mkdir(CUTSCENE_DIRECTORY_NAME, 0755) != 0) abort();
    set_ignore_errors(true);
    entered = true;
}

// The expected copy by an independent reading of the layout; false when none.
static bool expected_copy(const uint8_t *data, size_t size, size_t *offset, size_t *length)
{
    if (size < CUTSCENE_ARCHIVE_HEADER_SIZE) return false;
    const int64_t directory = (int32_t)read_be32(data + 40);
    const int64_t count = read_be16(data + 44);
    if (count == 0 || directory < 0 || directory + count * CUTSCENE_ARCHIVE_ENTRY_SIZE > (int64_t)size) return false;
    for (int64_t i = 0; i < count; ++i)
    {
        const uint8_t *entry = data + directory + i * CUTSCENE_ARCHIVE_ENTRY_SIZE;
        if (memcmp(entry + 36, movie_name, 4) != 0) continue;
        const int64_t start = (int32_t)read_be32(entry + 48), bytes = (int32_t)read_be32(entry + 52);
        if (start < 0 || bytes < 0 || start + bytes > (int64_t)size) return false;
        *offset = (size_t)start;
        *length = (size_t)bytes;
        return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0x20000) return 0;
    enter_scratch_directory();
    FILE *archive = fopen(archive_path, "wb");
    if (!archive || fwrite(data, 1, size, archive) != size || fclose(archive) != 0) abort();

    file_reference out;
    const bool extracted = extract_vux_cutscene(&out, movie_name);
    size_t offset = 0, length = 0;
    const bool expected = expected_copy(data, size, &offset, &length);
    if (extracted != expected) abort();
    if (access(aside_path, F_OK) == 0) abort();
    FILE *copy = fopen(copy_path, "rb");
    if (!extracted)
    {
        if (copy) abort();
    }
    else
    {
        if (!copy) abort();
        uint8_t *bytes = (uint8_t *)malloc(length + 1);
        if (!bytes || fread(bytes, 1, length + 1, copy) != length || memcmp(bytes, data + offset, length) != 0) abort();
        free(bytes);
        fclose(copy);
        unlink(copy_path);
    }
    clear_pending_error();
    return 0;
}
