// The 'obpc' loader on arbitrary bytes stored as the map's tag: whatever the
// bytes, the definition loads, and holds exactly the stored words converted
// from big-endian with the defaults past a short tag's end (the 88 trailing
// bytes unconverted).  Bytes past 256 are not read.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "fuzz_support.h"
#include "observer_constants.h"
#include "tag_files/tag_files.h"

namespace {

std::string store_directory;

void remove_store(void)
{
    std::error_code ignored;
    std::filesystem::remove_all(store_directory, ignored);
}

// A store of its own in a scratch directory (removed at exit), with the
// local folder only.
bool enter_store(void)
{
    char directory[] = "/tmp/obpc_fuzz_XXXXXX";
    if (!mkdtemp(directory) || chdir(directory) != 0) return false;
    store_directory = directory;
    atexit(remove_store);
    mkdir("tags", 0755);
    mkdir("plugins", 0755);
    mkdir(LOCAL_TAGS_FOLDER, 0755);
    quiet_fuzz_errors();
    initialize_tag_files();
    tag_files_open(0, nullptr, -1, -1, 0); // no foundation files: reported, the local folder still opens
    return initialize_observer_physics_constants();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = false;
    if (!ready)
    {
        if (!enter_store()) abort();
        ready = true;
    }
    if (size > 4096) return 0;

    int32_t tag_index = tag_file_new(OBSERVER_PHYSICS_CONSTANTS_GROUP_TAG, "fuzz", OBSERVER_PHYSICS_CONSTANTS_VERSION);
    if (tag_index == NONE) abort();
    if (size && !tag_file_write(&tag_index, 0, (int32_t)size, data)) abort();

    initialize_observer_physics_constants_for_new_map();
    const int32_t index = load_observer_physics_constants(FOUR_CHARACTER_CODE('f', 'u', 'z', 'z'));
    const observer_physics_constants *loaded = get_observer_physics_constants(index);
    if (!loaded) abort();

    observer_physics_constants expected;
    default_observer_physics_constants(&expected);
    uint8_t stored[sizeof(expected)] = {};
    const size_t kept = size < sizeof(expected) ? size : sizeof(expected);
    memcpy(stored, data, kept);
    observer_physics_constants swapped;
    memcpy(&swapped, stored, sizeof(swapped));
    byte_swap_data("fuzz", &swapped, sizeof(swapped), 1, observer_physics_constants_byte_swapping_data);
    // Bytes the tag held are converted; the tail keeps the defaults in host order.
    uint8_t *out = (uint8_t *)&expected;
    memcpy(out, &swapped, kept);
    if (memcmp(loaded, &expected, sizeof(expected)) != 0) abort();

    dispose_observer_physics_constants_from_old_map();
    if (!tag_file_delete(tag_index)) abort();
    return 0;
}
