// Chat lines on arbitrary text: a message (any bytes, markup and lengths, as
// it may arrive from another machine or the lobby) of any type, with or
// without a sender's name and colour, is added to a chat list drawn with the
// fixed-advance test font, wrapped at the blanks the demo's 'in#1' allows.
// Every row must stay terminated inside its 256 bytes, fit the list's
// width unless one word is wider, and every row of a message must carry its
// sender, and nothing of the text (cut to 255 bytes) may be lost but the
// blanks at the breaks; the list never holds more than 1024 rows.  The first byte picks
// the type, the name, the colour and whether the message is the local
// player's; the rest is the text.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_text.h"
#include "cseries/errors.h"
#include "dialog_tag_writer.h"
#include "font_builder.h"
#include "fuzz_support.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

#define FUZZ_DIALOG_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'c')
#define FUZZ_FONT_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'f')

enum
{
    CHAT_ITEM = 1,
};

static bool store_tag(tag group, const char *name, int16_t version, const std::vector<uint8_t> &bytes)
{
    int32_t index = tag_file_new(group, name, version);
    return index != NONE && tag_file_write(&index, 0, (int32_t)bytes.size(), bytes.data());
}

// A scratch store with the test font and the line-break rules; the font's
// index, NONE when the store could not be made.
static int32_t make_store(void)
{
    if (!enter_scratch_store()) return NONE;
    const char *rules[] = {"0", "...", "", " -", "", "", "1"};
    std::vector<uint8_t> list((size_t)encode_string_list_data(rules, 7, nullptr, 0));
    encode_string_list_data(rules, 7, list.data(), (int32_t)list.size());
    int32_t font = NONE;
    if (store_tag(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION, list) &&
        store_tag(FONT_DEFINITION_GROUP_TAG, "fuzf", FONT_DEFINITION_VERSION_NUMBER, build_font_tag_data(make_test_font())) &&
        initialize_font_definitions())
    {
        initialize_font_definitions_for_new_map();
        font = font_tag_to_font_index(FUZZ_FONT_TAG);
    }
    if (!leave_scratch_store()) return NONE;
    return font;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool initialized = false;
    static dialog_data *dialog = nullptr;
    static int32_t font = NONE;
    if (!initialized)
    {
        quiet_fuzz_errors();
        register_control_procedure(DIALOG_CHAT_LIST_TAG, chat_list_control_def_proc);
        font = make_store();
        if (font == NONE) abort();
        dialog_description description;
        description.bounds = {0, 0, 200, 300};
        dialog_item_description chat;
        chat.type = DIALOG_CHAT_LIST_TAG;
        chat.item_id = CHAT_ITEM;
        chat.bounds = {10, 10, 190, 290};
        description.items.push_back(chat);
        const std::vector<uint8_t> bytes = build_dialog_tag_data(description);
        dialog = new_dialog_from_tag_data(FUZZ_DIALOG_TAG, bytes.data(), (int32_t)bytes.size(), NONE, nullptr,
                                          nullptr, NONE, _dialog_has_no_background_flag);
        if (!dialog) abort();
        set_private_list_font_id(get_list_control_private_list(dialog, CHAT_ITEM), (int16_t)font);
        initialized = true;
    }
    if (size < 1 || size > 4096) return 0;
    const uint8_t control = data[0];
    std::vector<char> text(data + 1, data + size);
    text.push_back(0);

    reset_chat_text(dialog, CHAT_ITEM);
    const rgb_color color = {1, 2, 3, 0};
    const char *name = (control & 8) ? "Sender with a name longer than thirty-one characters" : nullptr;
    add_chat_text_full(dialog, CHAT_ITEM, (int16_t)(control & 7), name, (control & 16) ? &color : nullptr,
                       text.data(), (control & 32) != 0);
    const int16_t rows = bitmap_get_listbox_row_count(dialog, CHAT_ITEM);
    if (rows > MAXIMUM_LINES_OF_CHAT_TEXT) abort();
    const int16_t type = (int16_t)(control & 7);
    const bool is_message = type == _normal_chat_message_type || type == _directed_chat_message_type ||
                            type == _motd_chat_message_type || type == _team_chat_message_type;
    if (!is_message && rows != 0) abort();
    size_t expected = 0, kept = 0;
    const size_t length = strnlen(text.data(), CHAT_STRING_LENGTH - 1);
    for (size_t i = 0; i < length; ++i) expected += text[i] != ' ';
    int16_t previous_style = NONE;
    for (int16_t row = 0; row < rows; ++row)
    {
        chat_list_data line;
        int16_t length = (int16_t)sizeof(line);
        bitmap_get_listbox_row_data(dialog, CHAT_ITEM, row, &line, &length);
        if (length != (int16_t)sizeof(line)) abort();
        if (!memchr(line.message, 0, sizeof(line.message)) || !memchr(line.player_name, 0, sizeof(line.player_name)))
            abort();
        if (line.type != (control & 7)) abort();
        if (name ? strncmp(line.player_name, name, CHAT_PLAYER_NAME_SIZE - 1) != 0 : line.player_name[0] != 0) abort();
        // A continuation row starts with the markup of the style the previous row ended in.
        const char *own = line.message;
        if (row > 0 && (previous_style == _font_style_bold || previous_style == _font_style_italic))
        {
            if (own[0] != '|' || own[1] != (previous_style == _font_style_bold ? 'b' : 'i')) abort();
            own += 2;
        }
        for (const char *c = own; *c; ++c) kept += *c != ' ';
        previous_style = compute_style_at_end_of_string(line.message, -1);
    }
    if (is_message && kept != expected) abort();
    return 0;
}
