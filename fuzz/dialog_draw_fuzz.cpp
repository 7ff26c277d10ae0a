// Arbitrary bytes as a stored dialog tag, opened as the game opens a dialog
// with every control type the game registers, drawn into a 640 x 480 bitmap
// of the 32-bit encoding, then clicked at the middle of each item, given a
// few keys and the wheel, idled and drawn again before it is disposed.  A
// tag the loader refuses must leave no dialog; one it accepts must be drawn
// and used without reading outside a record, a string or the bitmap, and
// disposing must free every item.  The first byte picks inline texts or the
// dialog string list of a small scratch store and which keys are pressed;
// the rest is the tag.  Static texts are drawn with the tools' test font.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/errors.h"
#include "font_builder.h"
#include "game_records.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "register_vesk_controls.h"
#include "screen.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

#define FUZZ_DIALOG_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'd')
#define FUZZ_FONT_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'f')

enum
{
    SCREEN_WIDTH = 640,
    SCREEN_HEIGHT = 480,
    MAXIMUM_ITEMS_USED = 64, // items clicked per input: keeps an input fast
};

static void ignore_message_box(const char *) {}

static char scratch_path[] = "/tmp/vesk_dialog_draw_fuzz_XXXXXX";

static struct fuzz_globals
{
    int32_t string_list;
    int16_t font;
    bitmap_data *bitmap;
} fuzz_globals = {NONE, NONE, nullptr};

static void remove_scratch_store(void)
{
    dispose_tag_files();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_path, ignored);
}

static bool store_tag(tag group, const char *name, int16_t version, const void *bytes, int32_t size)
{
    int32_t index = tag_file_new(group, name, version);
    return index != NONE && tag_file_write(&index, 0, size, bytes) && tag_file_commit(index);
}

// A scratch store with the test font and a dialog string list of a few rows;
// the fuzzer's own directory is current again afterwards.
static bool make_store(void)
{
    char previous[4096];
    if (!getcwd(previous, sizeof(previous)) || !mkdtemp(scratch_path)) return false;
    atexit(remove_scratch_store);
    if (chdir(scratch_path) != 0) return false;
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    mkdir(LOCAL_TAGS_FOLDER, 0755);
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    // Rows enough for the demo's dialogs, whose texts are in their lists.
    const char *rows[48];
    const char *texts[] = {"one", "", "three", "a longer row of the list, longer than most items are wide",
                           "|bbold|p and plain", "Cancel", "OK"};
    for (size_t i = 0; i < 48; ++i) rows[i] = texts[i % 7];
    uint8_t list[2048];
    const int32_t list_size = encode_string_list_data(rows, 48, list, sizeof(list));
    const std::vector<uint8_t> font = build_font_tag_data(make_test_font());
    bool ok = list_size > 0 && store_tag(DIALOG_STRING_LIST_GROUP_TAG, "fuzd", STRING_LIST_VERSION, list, list_size) &&
              store_tag(FONT_DEFINITION_GROUP_TAG, "fuzf", FONT_DEFINITION_VERSION_NUMBER, font.data(),
                        (int32_t)font.size()) &&
              initialize_font_definitions();
    if (ok)
    {
        initialize_font_definitions_for_new_map();
        fuzz_globals.font = (int16_t)font_tag_to_font_index(FUZZ_FONT_TAG);
        fuzz_globals.string_list = dialog_string_list_tag_to_string_index(FUZZ_DIALOG_TAG);
    }
    return chdir(previous) == 0 && ok && fuzz_globals.font != NONE && fuzz_globals.string_list != NONE;
}

static bool set_up(void)
{
    set_message_box_proc(ignore_message_box);
    set_ignore_errors(true);
    register_vesk_controls();
    // The screen the dialogs are laid out on, as a software screen of the 32-bit encoding.
    active_screen.screen_initialized = true;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.bit_depth = 32;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = SCREEN_WIDTH;
    active_screen.height = SCREEN_HEIGHT;
    fuzz_globals.bitmap = new_bitmap(SCREEN_WIDTH, SCREEN_HEIGHT, 0, _32bit_encoding, 0);
    return fuzz_globals.bitmap && make_store();
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
    static const bool ready = set_up();
    if (!ready) abort();
    if (size < 1 || size > (size_t)MAXIMUM_DIALOG_TAG_SIZE) return 0;
    const uint8_t control = data[0];
    const int32_t list = (control & 1) ? fuzz_globals.string_list : NONE;
    data += 1;
    size -= 1;
    // An exact-size copy, so that a read past the end is caught.
    uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
    if (!copy) return 0;
    if (size) memcpy(copy, data, size);

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
        if (item->handler == static_text_control_def_proc)
            set_dialog_static_item_text_appearance(dialog, item->item_id, fuzz_globals.font, 0, nullptr, 0xFFFFFFFFu);
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
