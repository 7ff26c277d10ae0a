// The dialog loader on arbitrary bytes taken as a stored dialog tag: whatever
// it accepts must make its items without reading outside the tag (inline
// texts) or the dialog string list, appending the same tag again must do the
// same, and disposing must free every item.  The first byte picks inline
// texts or the dialog string list of a small scratch store.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "cseries/errors.h"
#include "fuzz_support.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

#define FUZZ_CONTROL_TAG FOUR_CHARACTER_CODE('t', 'p', 'r', 'b')
#define FUZZ_DIALOG_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'z')

// A store in a scratch directory holding one dialog string list of a few
// rows, read once; the fuzzer's own directory is current again afterwards.
static int32_t make_string_list(void)
{
    if (!enter_scratch_store()) return NONE;
    const char *rows[] = {"one", "", "three", "a longer fourth row"};
    uint8_t list[256];
    const int32_t size = encode_string_list_data(rows, 4, list, sizeof(list));
    int32_t index = tag_file_new(DIALOG_STRING_LIST_GROUP_TAG, "fuzz", STRING_LIST_VERSION);
    const int32_t list_index = size > 0 && index != NONE && tag_file_write(&index, 0, size, list)
                                   ? dialog_string_list_tag_to_string_index(FUZZ_DIALOG_TAG)
                                   : NONE;
    if (!leave_scratch_store()) return NONE;
    return list_index;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    static int32_t string_list = NONE;
    if (!initialized)
    {
        quiet_fuzz_errors();
        register_control_procedure(FUZZ_CONTROL_TAG, default_control_handler);
        string_list = make_string_list();
        if (string_list == NONE) abort();
        initialized = true;
    }
    if (size < 1 || size > (size_t)MAXIMUM_DIALOG_TAG_SIZE) return 0;
    const int32_t list = (data[0] & 1) ? string_list : NONE;
    data += 1;
    size -= 1;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = copy_fuzz_input(data, size);
    if (!copy) return 0;

    dialog_data *dialog = new_dialog_from_tag_data(FUZZ_DIALOG_TAG, copy, (int32_t)size, list, nullptr, nullptr, NONE,
                                                   _dialog_has_no_background_flag);
    if (dialog)
    {
        const int16_t count = get_dialog_item_count(dialog);
        load_controls_from_tag_data(dialog, FUZZ_DIALOG_TAG, copy, (int32_t)size, list, count, false);
        dispose_dialog(dialog);
    }
    if (get_first_dialog()) abort();
    free(copy);
    return 0;
}
