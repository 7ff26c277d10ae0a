// The progress dialog.

#include "progress_dialog.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "saved_games.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "tag_files/definitions.h"
#include "vesk.h"
#include "vesk/string_lists.h"

enum
{
    NO_DELAY = -1, // delay_start when drawing is not held back
    PROGRESS_MESSAGE_SIZE = 256,
    NUMBER_OF_PROGRESS_LOOK_PARTS = 3,
};

static struct progress_bar_globals
{
    bool open;           // a dialog is open (its tag may have been missing)
    bool tried;          // making its dialog was tried (it is made once)
    dialog_data *dialog; // null when closed, not made yet, or without a tag
    bool has_bar;
    int32_t count;         // steps done
    uint32_t open_time;    // milliseconds
    int16_t maximum_count; // steps expected
    uint32_t delay_start;  // milliseconds; NO_DELAY for none
    int32_t bar;           // the value last set
    // What the dialog shows, kept so that it can be made late: while a map
    // loads, the collections its look needs exist only from one of the map's
    // steps on.
    bool cancel_hidden;
    bool cancel_enabled;
    char message[PROGRESS_MESSAGE_SIZE];
    char second_line[PROGRESS_MESSAGE_SIZE];
    // Where the collections and the font the dialog's look was taken from
    // lay when it was made (NONE: not loaded).  A map's start empties the
    // collections and loads them again in its own order, and its fonts come
    // only with its interface, so what the dialog kept across it may name
    // another collection or no font: it is then made anew.
    int32_t look[NUMBER_OF_PROGRESS_LOOK_PARTS];
} progress_bar_globals = {false, false, nullptr, false, 0, 0, MAXIMUM_COUNT_GUESS, (uint32_t)NO_DELAY, 0, false, true, "", "",
                          {NONE, NONE, NONE}};

// The last message the fractional dialog showed.
static char au_title[PROGRESS_TITLE_SIZE];

// Where the parts of the dialog's look lie now: the elements of every dialog
// (bevels, buttons), the background of the dialog with or without a bar,
// and the interface font its texts take.
static void find_progress_look(int32_t look[NUMBER_OF_PROGRESS_LOOK_PARTS])
{
    look[0] = find_loaded_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    look[1] = find_loaded_collection_index(progress_bar_globals.has_bar ? PROGRESS_BAR_BACKGROUND_COLLECTION_TAG
                                                                        : PROGRESS_PLAIN_BACKGROUND_COLLECTION_TAG);
    look[2] = get_interface_font_index(0);
}

// Whether every part of the dialog's look still lies where it did.
static bool progress_look_is_current(void)
{
    int32_t look[NUMBER_OF_PROGRESS_LOOK_PARTS];
    find_progress_look(look);
    return memcmp(look, progress_bar_globals.look, sizeof(look)) == 0;
}

// Whether a dialog can be made and drawn now: a screen, and the collections
// its look is drawn from.
static bool progress_dialog_can_show(void)
{
    return !vesk_is_headless() && active_screen.screen_initialized &&
           definition_group_is_set_up(COLLECTION_GROUP_TAG);
}

// The dialog's sleep timer serves its modal passes, but between them the
// dialog stays open while the main loop runs (a restore's fast-forward, a
// network wait), and the timer then calls the handler every pass: it has
// nothing to do (Cancel is read from the modal pass), but it must be there.
static void progress_dialog_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    (void)dialog;
    (void)item_id;
    (void)action;
}

static dialog_data *new_progress_dialog(bool with_bar)
{
    const file_tag dialog_tag = with_bar ? PROGRESS_DIALOG_WITH_BAR_TAG : PROGRESS_DIALOG_WITHOUT_BAR_TAG;
    // new_dialog treats a missing tag as fatal: a data set without it shows nothing.
    if (tag_file_open(DIALOG_GROUP_TAG, dialog_tag) == NONE)
    {
        log_message(__FILE__, __LINE__, "no progress dialog '%s': the work goes on without it",
                    tag_to_string(dialog_tag));
        return nullptr;
    }
    const uint16_t flags = with_bar ? (_dialog_draws_black_backdrop_flag | _dialog_is_centered_flag |
                                       _dialog_has_bevel_flag)
                                    : (_dialog_is_centered_flag | _dialog_has_bevel_flag);
    // Sleep time 0: a modal pass returns after one pass of the loop.
    dialog_data *dialog = new_dialog(dialog_tag, progress_dialog_handler, nullptr, 0, flags);
    if (!dialog) return nullptr;
    static const dialog_item_requirement message_item[] = {{_progress_message_item, STATIC_TEXT_CONTROL_TAG}};
    static const dialog_item_requirement bar_item[] = {{_progress_bar_item, PROGRESS_BAR_CONTROL_TAG}};
    if (!dialog_has_items(dialog, message_item, 1) || (with_bar && !dialog_has_items(dialog, bar_item, 1)))
    {
        log_message(__FILE__, __LINE__, "progress dialog '%s' lacks its message or bar: not shown",
                    tag_to_string(dialog_tag));
        dispose_dialog(dialog);
        return nullptr;
    }
    const int32_t background = get_collection_index(with_bar ? PROGRESS_BAR_BACKGROUND_COLLECTION_TAG
                                                              : PROGRESS_PLAIN_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    return dialog;
}

// The open dialog, made now when it can be and is not yet; null otherwise.
static dialog_data *shown_dialog(void)
{
    if (!progress_bar_globals.open) return nullptr;
    dialog_data *dialog = progress_bar_globals.dialog;
    if (dialog && !dialog_is_open(dialog)) progress_bar_globals.dialog = dialog = nullptr; // closed by someone else
    if (dialog && progress_dialog_can_show() && !progress_look_is_current())
    {
        // Drawn from where its collections lay before a map's start moved
        // them, it would show pieces of whatever lies there now; made
        // before the map's fonts, it would show no text.
        dispose_dialog(dialog);
        progress_bar_globals.dialog = dialog = nullptr;
        progress_bar_globals.tried = false;
    }
    if (dialog || progress_bar_globals.tried || !progress_dialog_can_show()) return dialog;
    progress_bar_globals.tried = true;
    dialog = progress_bar_globals.dialog = new_progress_dialog(progress_bar_globals.has_bar);
    if (!dialog) return nullptr;
    find_progress_look(progress_bar_globals.look);
    set_bitmap_dialog_static_item_text(dialog, _progress_message_item, progress_bar_globals.message);
    if (dialog_has_item(dialog, _progress_second_line_item))
        set_bitmap_dialog_static_item_text(dialog, _progress_second_line_item, progress_bar_globals.second_line);
    if (dialog_has_item(dialog, _progress_cancel_item))
    {
        bitmap_set_item_visible(dialog, _progress_cancel_item, !progress_bar_globals.cancel_hidden);
        bitmap_set_item_enabled(dialog, _progress_cancel_item, progress_bar_globals.cancel_enabled);
    }
    if (progress_bar_globals.has_bar)
        set_progress_bar_fraction(dialog, _progress_bar_item, (short_fixed)progress_bar_globals.bar);
    return dialog;
}

static void open_progress(int16_t verb, const char *text)
{
    if (!VASSERT(!progress_bar_globals.open, "!progress_bar_globals.dialog")) return;
    progress_bar_globals.open = true;
    progress_bar_globals.tried = false;
    progress_bar_globals.dialog = nullptr;
    progress_bar_globals.has_bar = verb != _progress_open_without_bar;
    progress_bar_globals.bar = 0;
    progress_bar_globals.delay_start = verb == _progress_open_delayed ? machine_tick_count() : (uint32_t)NO_DELAY;
    progress_bar_globals.cancel_hidden = verb == _progress_open_delayed;
    progress_bar_globals.cancel_enabled = true;
    strlcpy(progress_bar_globals.message, text ? text : translate_string("Loading..."),
            sizeof(progress_bar_globals.message));
    progress_bar_globals.second_line[0] = 0;
    shown_dialog();
}

static void close_progress(void)
{
    dialog_data *dialog = progress_bar_globals.dialog;
    progress_bar_globals.dialog = nullptr;
    progress_bar_globals.open = false;
    progress_bar_globals.bar = 0;
    // Someone else may have closed it (close_all_dialogs).
    if (dialog && dialog_is_open(dialog)) dispose_dialog(dialog);
}

static void draw_progress_now(void)
{
    if (progress_bar_globals.delay_start != (uint32_t)NO_DELAY)
    {
        // Unsigned difference: right across the clock's wrap.
        if (machine_tick_count() - progress_bar_globals.delay_start < PROGRESS_DELAY_MILLISECONDS) return;
    }
    // Between a map's steps its collections may be gone: nothing is drawn then.
    if (!progress_dialog_can_show() || !shown_dialog()) return;
    // The main loop is not running: the dialogs are drawn here or not at all.
    if (dialogs_are_dirty(nullptr, nullptr)) draw_dialogs_immediately();
}

// Shows the hidden and enabled states of the cancel item, and the second line.
static void show_cancel_and_second_line(void)
{
    dialog_data *dialog = shown_dialog();
    if (!dialog) return;
    if (dialog_has_item(dialog, _progress_cancel_item))
    {
        bitmap_set_item_visible(dialog, _progress_cancel_item, !progress_bar_globals.cancel_hidden);
        bitmap_set_item_enabled(dialog, _progress_cancel_item, progress_bar_globals.cancel_enabled);
    }
    if (dialog_has_item(dialog, _progress_second_line_item))
        set_bitmap_dialog_static_item_text(dialog, _progress_second_line_item, progress_bar_globals.second_line);
}

int32_t progress_function(int16_t verb, const char *text, int32_t value)
{
    switch (verb)
    {
    case _progress_open_with_bar:
    case _progress_open_without_bar:
    case _progress_open_delayed: open_progress(verb, text); break;
    case _progress_close:
        if (progress_bar_globals.open) close_progress();
        break;
    case _progress_modal_pass:
    {
        if (!VASSERT(progress_bar_globals.open, "progress_bar_globals.dialog")) return 0;
        dialog_data *dialog = progress_dialog_can_show() ? shown_dialog() : nullptr;
        if (!dialog) return 0;
        return modal_dialog(dialog) == _progress_cancel_item ? 1 : 0;
    }
    case _progress_set_bar:
        if (!progress_bar_globals.open) break;
        if (!VASSERT(progress_bar_globals.has_bar, "progress_bar_globals.has_bar")) break;
        progress_bar_globals.bar = value < 0 ? 0 : value > PROGRESS_FULL ? PROGRESS_FULL : value;
        if (dialog_data *dialog = progress_dialog_can_show() ? shown_dialog() : nullptr)
            set_progress_bar_fraction(dialog, _progress_bar_item, (short_fixed)progress_bar_globals.bar);
        break;
    case _progress_set_message:
        if (!progress_bar_globals.open) break;
        strlcpy(progress_bar_globals.message, text ? text : "", sizeof(progress_bar_globals.message));
        if (dialog_data *dialog = progress_dialog_can_show() ? shown_dialog() : nullptr)
            set_bitmap_dialog_static_item_text(dialog, _progress_message_item, progress_bar_globals.message);
        break;
    case _progress_draw_now:
        if (progress_bar_globals.open) draw_progress_now();
        break;
    default: HALT("unknown progress verb"); break;
    }
    return 0;
}

bool progress_dialog_is_open(void) { return progress_bar_globals.open; }
int32_t get_progress_bar_value(void) { return progress_bar_globals.bar; }
dialog_data *get_progress_dialog(void) { return progress_bar_globals.dialog; }

// A row of 'in05' formatted with `name`: the row is a text from data, so it
// is printed as it is when its conversions are not exactly one %s.
static void format_progress_message(char *buffer, int32_t size, int32_t row, const char *name)
{
    const int32_t list = string_list_tag_to_string_index(PROGRESS_STRING_LIST_TAG);
    const char *format = get_string_from_list(list, row);
    if (!*format) format = row == 0 ? "Loading %s..." : "Restoring %s...";
    if (!format_checked_line(buffer, size, format, "s", name))
        log_message(__FILE__, __LINE__, "'in05' row %d is not a text with one name: shown as it is", (int)row);
}

static void hide_cancel(void)
{
    progress_bar_globals.cancel_hidden = true;
    if (progress_dialog_can_show()) show_cancel_and_second_line();
}

// The bar of `count` steps of `maximum` (42 when that is below 1), full at
// most: a load of more stages than expected stays full.
static int32_t bar_for_steps(int32_t count, int32_t maximum)
{
    if (maximum < 1) maximum = MAXIMUM_COUNT_GUESS;
    if (count <= 0) return 0;
    if (count >= maximum) return PROGRESS_FULL;
    return (int32_t)((int64_t)count * PROGRESS_FULL / maximum);
}

static void update_steps(void)
{
    progress_bar_globals.count += 1;
    progress_function(_progress_set_bar, nullptr, bar_for_steps(progress_bar_globals.count,
                                                                progress_bar_globals.maximum_count));
    progress_function(_progress_draw_now, nullptr, 0);
}

void open_map_loading_progress_dialog(tag mesh_tag, bool with_second_line)
{
    progress_bar_globals.maximum_count = MAXIMUM_COUNT_GUESS;
    progress_bar_globals.count = 0;
    progress_bar_globals.open_time = machine_tick_count();
    char name[PROGRESS_MESSAGE_SIZE] = "";
    mesh_header header;
    if (mesh_tag != (tag)NONE && read_mesh_header(mesh_tag, &header))
        strlcpy(name, get_string_from_list(string_list_tag_to_string_index(header.map_description_string_list_tag), 0),
                sizeof(name));
    char message[PROGRESS_MESSAGE_SIZE];
    format_progress_message(message, (int32_t)sizeof(message), 0, name);
    progress_function(_progress_open_with_bar, message, 0);
    hide_cancel();
    if (with_second_line)
        strlcpy(progress_bar_globals.second_line,
                get_string_from_list(string_list_tag_to_string_index(PROGRESS_STRING_LIST_TAG), 2),
                sizeof(progress_bar_globals.second_line));
    if (progress_dialog_can_show()) show_cancel_and_second_line();
}

void expect_map_loading_progress_steps(int32_t steps)
{
    progress_bar_globals.maximum_count = (int16_t)(steps > INT16_MAX ? INT16_MAX : steps < 0 ? 0 : steps);
}

void update_map_loading_progress_dialog(void)
{
    // More stages than expected are no fault of the player's: logged, and
    // the bar stays full.
    const int32_t expected = progress_bar_globals.maximum_count < 1 ? (int32_t)MAXIMUM_COUNT_GUESS
                                                                    : progress_bar_globals.maximum_count;
    if (progress_bar_globals.count + 1 > expected)
        log_message(__FILE__, __LINE__, "map load step %d of an expected %d", (int)(progress_bar_globals.count + 1),
                    (int)expected);
    update_steps();
}

void reset_open_map_progress_dialog(void)
{
    progress_bar_globals.second_line[0] = 0;
    if (progress_bar_globals.open && progress_dialog_can_show()) show_cancel_and_second_line();
    progress_bar_globals.count = -1;
    update_steps();
}

void close_map_loading_progress_dialog(void)
{
    progress_bar_globals.maximum_count = (int16_t)(progress_bar_globals.count > INT16_MAX ? INT16_MAX
                                                                                          : progress_bar_globals.count);
    progress_bar_globals.open_time = machine_tick_count();
    progress_function(_progress_close, nullptr, 0);
}

void open_save_game_restoring_progress_dialog(int32_t steps)
{
    progress_bar_globals.maximum_count = (int16_t)(steps > INT16_MAX ? INT16_MAX : steps < 0 ? 0 : steps);
    progress_bar_globals.count = 0;
    char message[PROGRESS_MESSAGE_SIZE];
    format_progress_message(message, (int32_t)sizeof(message), 1, get_last_save_game_name());
    progress_function(_progress_open_with_bar, message, 0);
    hide_cancel();
}

void update_save_game_progress_dialog(void) { update_steps(); }

void close_save_game_progress_dialog(void) { progress_function(_progress_close, nullptr, 0); }

void open_fractional_progress_dialog(const char *title, bool can_cancel)
{
    progress_bar_globals.count = 0;
    progress_bar_globals.open_time = machine_tick_count();
    progress_function(_progress_open_with_bar, title, 0);
    progress_bar_globals.cancel_enabled = can_cancel;
    if (progress_dialog_can_show()) show_cancel_and_second_line();
    strlcpy(au_title, title ? title : "", sizeof(au_title));
}

bool update_fractional_progress_dialog(float fraction, const char *message)
{
    if (!progress_bar_globals.open) return false;
    const float clamped = fraction < 0.0f ? 0.0f : fraction > 1.0f ? 1.0f : fraction;
    progress_function(_progress_set_bar, nullptr, (int32_t)(clamped * (float)PROGRESS_FULL));
    progress_function(_progress_draw_now, nullptr, 0);
    if (message && strcmp(message, au_title) != 0)
    {
        progress_function(_progress_set_message, message, 0);
        strlcpy(au_title, message, sizeof(au_title));
    }
    return progress_function(_progress_modal_pass, nullptr, 0) != 0;
}

void close_fractional_progress_dialog(void) { progress_function(_progress_close, nullptr, 0); }

void reset_progress_dialog(void)
{
    if (progress_bar_globals.open) close_progress();
    progress_bar_globals.count = 0;
    progress_bar_globals.maximum_count = MAXIMUM_COUNT_GUESS;
    progress_bar_globals.delay_start = (uint32_t)NO_DELAY;
    au_title[0] = 0;
}
