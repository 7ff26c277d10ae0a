// Arbitrary bytes as a stored dialog tag, opened as the game opens a dialog
// with every control type the game registers, drawn into a 640 x 480 bitmap
// of the 32-bit encoding, then clicked at the middle of each item, given a
// few keys and the wheel, idled and drawn again before it is disposed.  A
// tag the loader refuses must leave no dialog; one it accepts must be drawn
// and used without reading outside a record, a string or the bitmap, and
// disposing must free every item.  The first byte picks inline texts or the
// dialog string list of a small scratch store and which keys are pressed;
// the rest is the tag.  The controls draw with the demo's art: its dialog
// elements, fonts and interface, from the demo data set the data tool makes.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/errors.h"
#include "demo_data_set.h"
#include "fuzz_support.h"
#include "game_records.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "interface_definitions.h"
#include "register_vesk_controls.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

#define FUZZ_DIALOG_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'd')

enum
{
    SCREEN_WIDTH = 640,
    SCREEN_HEIGHT = 480,
    MAXIMUM_ITEMS_USED = 64, // items clicked per input: keeps an input fast
};

static void ignore_message_box(const char *) {}

static char scratch_path[] = "vesk_dialog_draw_XXXXXX";

static struct fuzz_globals
{
    int32_t string_list;
    bitmap_data *bitmap;
    char scratch[4096]; // absolute
} fuzz_globals = {NONE, nullptr, ""};

static void remove_demo_store(void)
{
    dispose_tag_files();
    std::error_code ignored;
    if (fuzz_globals.scratch[0]) std::filesystem::remove_all(fuzz_globals.scratch, ignored);
}

// A store of the demo's tags (its whole interface file, with the dialog
// elements and fonts the controls draw with) in a scratch directory, with a
// dialog string list of the fuzz target's own in its local folder; the
// fuzzer's own directory is current again afterwards.
static bool make_store(void)
{
    const std::string demo = fuzz_demo_data_set();
    char previous[2048];
    if (demo.empty() || !getcwd(previous, sizeof(previous)) || !mkdtemp(scratch_path)) return false;
    snprintf(fuzz_globals.scratch, sizeof(fuzz_globals.scratch), "%s/%s", previous, scratch_path);
    atexit(remove_demo_store);
    if (chdir(scratch_path) != 0) return false;
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    mkdir(LOCAL_TAGS_FOLDER, 0755);
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(demo + "/tags", error))
    {
        const std::string name = entry.path().filename().string();
        const std::filesystem::path source =
            name == INTERFACE_TAG_FILE_NAME ? std::filesystem::path(demo + "/interface_whole.tags") : entry.path();
        std::filesystem::create_symlink(source, std::filesystem::path(TAG_FILES_FOLDER) / name, error);
    }
    if (error) return false;
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    clear_pending_error();
    // Rows enough for the demo's dialogs, whose texts are in their lists.
    const char *rows[48];
    const char *texts[] = {"one", "", "three", "a longer row of the list, longer than most items are wide",
                           "|bbold|p and plain", "Cancel", "OK"};
    for (size_t i = 0; i < 48; ++i) rows[i] = texts[i % 7];
    uint8_t list[2048];
    const int32_t list_size = encode_string_list_data(rows, 48, list, sizeof(list));
    int32_t index = tag_file_new(DIALOG_STRING_LIST_GROUP_TAG, "fuzd", STRING_LIST_VERSION);
    bool ok = list_size > 0 && index != NONE && tag_file_write(&index, 0, list_size, list) && tag_file_commit(index);
    // The art as the game has it before any map: shapes, fonts, the interface.
    register_shapes_hooks();
    ok = ok && initialize_shapes();
    if (ok) initialize_shapes_for_new_map();
    ok = ok && initialize_font_definitions() && initialize_interface() && initialize_interface_without_map() &&
         try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG) != NONE;
    if (ok) fuzz_globals.string_list = dialog_string_list_tag_to_string_index(FUZZ_DIALOG_TAG);
    return chdir(previous) == 0 && ok && fuzz_globals.string_list != NONE;
}

static bool set_up(void)
{
    set_message_box_proc(ignore_message_box);
    // The screen the dialogs are laid out on, as a software screen of the 32-bit encoding.
    active_screen.screen_initialized = true;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.bit_depth = 32;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = SCREEN_WIDTH;
    active_screen.height = SCREEN_HEIGHT;
    fuzz_globals.bitmap = new_bitmap(SCREEN_WIDTH, SCREEN_HEIGHT, 0, _32bit_encoding, 0);
    if (!fuzz_globals.bitmap || !make_store()) return false;
    register_vesk_controls();
    set_ignore_errors(true);
    return true;
}

// Before the first input: making the demo data set takes a while.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!set_up())
    {
        fprintf(stderr, "the demo's art could not be loaded\n");
        abort();
    }
    return 0;
}

static action_data pointer_action(int16_t x, int16_t y, bool down, bool click)
{
    action_data action;
    memset(&action, 0, sizeof(action));
    action.time = game_->local_time.load();
    action.time_delta = 1;
    action.ascii_code = NONE;
    action.key_code = NONE;
    action.pointer.x = x;
    action.pointer.y = y;
    if (down) set_action_flag(&action, _left_mouse_down_bit);
    if (click) set_action_flag(&action, _left_mouse_click_bit);
    return action;
}

static action_data key_action(int16_t key_code, int16_t ascii_code)
{
    action_data action = pointer_action(0, 0, false, false);
    action.key_code = key_code;
    action.ascii_code = ascii_code;
    return action;
}

// A control's press may close its dialog.
static bool still_open(const dialog_data *dialog) { return dialog_is_open(dialog); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > (size_t)MAXIMUM_DIALOG_TAG_SIZE) return 0;
    const uint8_t control = data[0];
    const int32_t list = (control & 1) ? fuzz_globals.string_list : NONE;
    data += 1;
    size -= 1;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = copy_fuzz_input(data, size);
    if (!copy) return 0;

    dialog_data *dialog = new_dialog_from_tag_data(FUZZ_DIALOG_TAG, copy, (int32_t)size, list, nullptr, nullptr, NONE,
                                                   (control & 2) ? _dialog_has_no_background_flag : 0);
    free(copy); // the dialog must keep nothing of the bytes
    if (!dialog)
    {
        if (get_first_dialog()) abort();
        clear_pending_error();
        return 0;
    }
    // The items as they were made; a press may change the list.
    std::vector<std::pair<int16_t, rectangle2d>> items;
    for (control_data *item = get_first_dialog_control(dialog); item && items.size() < MAXIMUM_ITEMS_USED;
         item = item->next)
    {
        items.push_back({item->item_id, item->bounds});
    }
    draw_dialog_into_bitmap(fuzz_globals.bitmap, dialog);
    rectangle2d bounds;
    get_dialog_bounds(dialog, &bounds);
    for (const auto &[item_id, item] : items)
    {
        if (!still_open(dialog)) break;
        const int16_t x = (int16_t)(bounds.left + (item.left + item.right) / 2);
        const int16_t y = (int16_t)(bounds.top + (item.top + item.bottom) / 2);
        action_data press = pointer_action(x, y, true, true);
        dialog_handled_action(dialog, &press);
        if (!still_open(dialog)) break;
        action_data release = pointer_action(x, y, false, false);
        dialog_handled_action(dialog, &release);
        if (!still_open(dialog)) break;
        if (control & 4)
        {
            action_data wheel = pointer_action(x, y, false, false);
            wheel.wheel_delta = (control & 8) ? -3 : 3;
            dialog_handled_action(dialog, &wheel);
        }
    }
    // A few keys to the item with the focus: a letter, backspace, tab, return.
    const int16_t keys[][2] = {{(int16_t)(control >> 4), 'a'}, {NONE, 8}, {NONE, '\t'}, {NONE, '\r'}};
    for (const auto &key : keys)
    {
        if (!still_open(dialog)) break;
        action_data action = key_action(key[0], key[1]);
        dialog_handled_action(dialog, &action);
    }
    if (still_open(dialog))
    {
        idle_dialogs();
        if (still_open(dialog))
        {
            draw_dialog_into_bitmap(fuzz_globals.bitmap, dialog);
            dispose_dialog(dialog);
        }
    }
    close_all_dialogs();
    if (get_first_dialog()) abort();
    clear_pending_error();
    return 0;
}
