// The lobby's control types.  See metaserver_controls.h.

#include "metaserver/metaserver_controls.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "interface_definitions.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_rooms.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "vesk/string_lists.h"

enum : uint16_t
{
    NO_SECONDS_REMAINING = 0xFFFF, // NONE in the row's unsigned field
};

enum
{
    HALF_TRANSPARENT = 32768,
    QUARTER_TRANSPARENT = 16384,
    BANNER_DRAW_FLAGS = _draw_bitmap_respect_registration_point_flag | _draw_bitmap_return_adjusted_bounds_flag,
    ROOM_ICON_DRAW_FLAGS = _draw_bitmap_right_justified_flag | _draw_bitmap_bottom_justified_flag,
    COOPERATIVE_SCORING = 13,
    FILMS_ROOM_MINIMUM_BITMAPS = 6,
};

// Texts of 'ingo' the game list reads.
enum
{
    _game_list_string_name = 2,
    _game_list_string_scoring,
    _game_list_string_cooperative,
    _game_list_string_no_time_left = 6,
    _game_list_string_time_limit_seconds,
    _game_list_string_time_limit_minutes,
    _game_list_string_teams,
    _game_list_string_deathmatch = 11,
    _game_list_string_separator,
    _game_list_string_password,
    _game_list_string_players_of_maximum,
    _game_list_string_players_in_progress,
    _game_list_string_player_in_progress,
    _game_list_string_minutes_left,
    _game_list_string_last_minute,
};

static struct metaserver_controls_globals
{
    // The query clocks and the countdown are shared by every list of a kind.
    uint32_t time_at_last_query_buddy, time_at_last_query_order;
    bool buddy_queried, order_queried;
    uint32_t ticks_at_last_game_update_idle;
    void (*buddy_query)(void);
    void (*order_query)(void);
    struct
    {
        int16_t room_id, player_count, game_count;
    } last_drawn_room_info;
} metaserver_controls_globals = {0, 0, false, false, 0, nullptr, nullptr, {NONE, NONE, NONE}};

// ---- banner ------------------------------------------------------------------------

static banner_extra_data *banner_record(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, banner_control_handler);
    if (!item) return nullptr;
    banner_extra_data *data = (banner_extra_data *)item->extra_data;
    if (!VASSERT(item->handler == banner_control_handler && data && data->cookie == (int32_t)BANNER_CONTROL_TAG,
                 "not a banner"))
        return nullptr;
    return data;
}

const banner_extra_data *get_banner_data(const dialog_data *dialog, int16_t item_id)
{
    return banner_record(dialog, item_id);
}

static int16_t ticks_per_frame(int16_t collection, int16_t sequence)
{
    const sequence_data *data = get_sequence(collection, sequence);
    return data ? data->ticks_per_frame : (int16_t)0;
}

static int16_t frames_per_view(int16_t collection, int16_t sequence)
{
    const sequence_data *data = get_sequence(collection, sequence);
    return data ? data->frames_per_view : (int16_t)0;
}

void set_banner_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index, int16_t sequence_index)
{
    banner_extra_data *data = banner_record(dialog, item_id);
    if (!data || collection_index == NONE) return;
    data->collection_index = collection_index;
    data->sequence_index = sequence_index;
    data->bitmap_index = 0;
    data->ticks = ticks_per_frame(collection_index, sequence_index);
    data->last_ticks = game_->local_time;
    set_dialog_item_dirty(dialog, item_id);
}

void set_banner_shape_ext(dialog_data *dialog, int16_t item_id, int16_t view_index, int16_t bitmap_index)
{
    banner_extra_data *data = banner_record(dialog, item_id);
    if (!data) return;
    data->view_index = view_index;
    data->bitmap_index = bitmap_index;
    set_dialog_item_dirty(dialog, item_id);
}

void set_banner_animated(dialog_data *dialog, int16_t item_id, bool animated)
{
    banner_extra_data *data = banner_record(dialog, item_id);
    if (data) data->animated = animated;
}

bool get_banner_url(const dialog_data *dialog, int16_t item_id, char *buffer, int32_t size)
{
    const banner_extra_data *data = banner_record(dialog, item_id);
    if (!buffer || size <= 0) return false;
    buffer[0] = 0;
    if (!data || data->collection_index == NONE) return false;
    const sequence_reference *reference = get_sequence_reference(data->collection_index, data->sequence_index);
    if (!reference) return false;
    const size_t length = strnlen(reference->name, sizeof(reference->name));
    if (length == 0) return false;
    if (length >= (size_t)size || length == sizeof(reference->name))
    {
        LOG_REPEATED("banner address of %d characters refused (room for %d)", (int)length,
                     (int)size - 1);
        return false;
    }
    memcpy(buffer, reference->name, length);
    buffer[length] = 0;
    return true;
}

// One idle pass: true when the frame shown changed.
static bool step_banner(banner_extra_data *data)
{
    const int32_t now = game_->local_time;
    bool changed = false;
    if (data->collection_index != NONE && data->animated)
    {
        data->ticks -= now - data->last_ticks;
        if (data->ticks < 0)
        {
            const int16_t shown = data->sequence_index;
            if (++data->bitmap_index >= frames_per_view(data->collection_index, data->sequence_index))
            {
                data->bitmap_index = 0;
                if (++data->sequence_index >= get_collection_sequence_count(data->collection_index))
                    data->sequence_index = 0;
            }
            data->ticks = ticks_per_frame(data->collection_index, shown);
            changed = true;
        }
    }
    data->last_ticks = now;
    return changed;
}

intptr_t banner_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        banner_extra_data *data = (banner_extra_data *)calloc(1, sizeof(banner_extra_data));
        if (!data) return 0;
        data->cookie = (int32_t)BANNER_CONTROL_TAG;
        data->collection_index = NONE;
        data->sequence_index = NONE;
        data->bitmap_index = NONE;
        data->last_ticks = game_->local_time;
        data->animated = true;
        return (intptr_t)data;
    }
    case _control_new_completion_verb:
    {
        const int32_t collection = get_collection_index(BANNER_COLLECTION_TAG);
        if (collection != NONE && get_collection_sequence_count(collection) > 0)
            set_banner_shape(dialog, item_id, (int16_t)collection, 0);
        return 0;
    }
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const banner_extra_data *data = banner_record(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap || !data || data->collection_index == NONE) return 0;
        rectangle2d frame = item->bounds;
        draw_bitmap_from_sequence(p->dialog_bitmap, data->collection_index, data->sequence_index, data->view_index,
                                  data->bitmap_index, &frame, &item->bounds, nullptr, 0, _transparency_normal,
                                  BANNER_DRAW_FLAGS, 0);
        return 0;
    }
    case _control_requires_idle_time_verb: return 1;
    case _control_idle_verb:
    {
        banner_extra_data *data = banner_record(dialog, item_id);
        return data && step_banner(data) ? 1 : 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter); // frees the record at dispose
    }
}

// ---- room chooser ---------------------------------------------------------------------

bool room_enabled(int16_t room_id)
{
    room_data room;
    if (!get_metaserver_room_data(room_id, &room)) return false;
    return room.player_count < maximum_players_per_metaserver_room() && !(room.room_flags & _room_user_not_allowed_flag);
}

static void refresh_room_states(dialog_data *dialog, int16_t item_id)
{
    int32_t last = get_icon_popup_maximum_count(dialog, item_id);
    if (maximum_metaserver_room_index() + 1 < last) last = maximum_metaserver_room_index() + 1;
    for (int16_t room = 0; room < last; ++room)
        set_icon_popup_bitmaps_disabled_state(dialog, item_id, room, metaserver_room_available(room));
}

void reset_room_graphic(dialog_data *dialog, int16_t item_id)
{
    const int32_t collection = get_collection_index(ROOM_GRAPHIC_COLLECTION_TAG);
    if (collection == NONE)
    {
        log_message(__FILE__, __LINE__, "the room chooser has no art ('inrg'): it stays empty");
        return;
    }
    set_icon_popup_control_information(dialog, item_id, (int16_t)collection, 0, NONE, NONE, 0, 0);
    set_icon_popup_is_metaserver_room_list(dialog, item_id, true);
    set_icon_popup_column_count(dialog, item_id, ROOM_GRAPHIC_COLUMNS);
    set_icon_popup_row_count(dialog, item_id, ROOM_GRAPHIC_ROWS);
    if (get_icon_popup_maximum_count(dialog, item_id) > 0) refresh_room_states(dialog, item_id);
    set_icon_popup_draw_proc(dialog, item_id, room_icon_draw_proc);
    set_icon_popup_icon_enabled_proc(dialog, item_id, room_enabled);
}

void set_current_room_counts(dialog_data *dialog, int16_t item_id, int16_t room_id, int16_t unused_players,
                             int16_t unused_games)
{
    (void)unused_players;
    (void)unused_games;
    auto &shown = metaserver_controls_globals.last_drawn_room_info;
    room_data room;
    if (!get_metaserver_room_data(room_id, &room)) return;
    if (room_id == shown.room_id && room.player_count == shown.player_count && room.game_count == shown.game_count)
        return;
    shown.room_id = room_id;
    shown.player_count = room.player_count;
    shown.game_count = room.game_count;
    set_icon_popup_value(dialog, item_id, room_id);
    set_dialog_item_dirty(dialog, item_id);
}

int16_t get_current_room_graphic_id(const dialog_data *dialog, int16_t item_id)
{
    return get_icon_popup_value(dialog, item_id);
}

void set_room_graphic_bitmap(dialog_data *dialog, int16_t item_id, int16_t room_id)
{
    set_icon_popup_value(dialog, item_id, room_id);
    metaserver_controls_globals.last_drawn_room_info.room_id = room_id;
    set_dialog_item_dirty(dialog, item_id);
}

static void draw_count(bitmap_data *destination, int16_t collection, int16_t bitmap, const rectangle2d *box,
                       const rectangle2d *clip, int32_t count, const rgb_color *color, fixed_fraction transparency)
{
    char text[16];
    snprintf(text, sizeof(text), "%d", (int)count);
    rectangle2d text_box = *box;
    const int32_t extra_digits = (int32_t)strlen(text) > 2 ? (int32_t)strlen(text) - 2 : 0;
    text_box.left = (int16_t)(text_box.left - 8 * extra_digits);
    rectangle2d icon = {text_box.top, (int16_t)(text_box.left - 23), text_box.bottom, text_box.left};
    draw_bitmap_from_sequence(destination, collection, 1, 0, bitmap, &icon, clip, nullptr, transparency,
                              _transparency_normal, 0, 0);
    draw_string(destination, nullptr, &text_box, clip, get_interface_font_index(0), -1, color, text,
                _draw_string_shadow_flag, transparency);
}

void room_icon_draw_proc(bitmap_data *destination, int16_t collection_index, int16_t sequence_index,
                         int16_t room_id, rectangle2d *bounds, const rectangle2d *clip,
                         const rgb_color *replacement_colors, fixed_fraction transparency, bool popped_up,
                         bool highlighted)
{
    (void)sequence_index;
    (void)replacement_colors;
    auto &shown = metaserver_controls_globals.last_drawn_room_info;
    room_data room;
    const bool exists = get_metaserver_room_data(room_id, &room);
    const bool full = exists && room.player_count >= maximum_players_per_metaserver_room();
    const bool usable = exists && !full && !(room.room_flags & _room_user_not_allowed_flag);
    if ((room_id != shown.room_id && !usable) || highlighted)
        transparency = (fixed_fraction)((65536 - (int32_t)transparency) / 2);
    draw_bitmap_from_sequence(destination, collection_index, 0, 0, room_id, bounds, clip, nullptr, transparency,
                              _transparency_normal, ROOM_ICON_DRAW_FLAGS, 0);
    const rgb_color black = {0, 0, 0, 0}, white = {65535, 65535, 65535, 0}, red = {65535, 0, 0, 0};
    frame_rectangle_clipped(destination, &black, bounds, clip, transparency, get_transparency_table(_transparency_normal));
    if (!exists) return;
    if (room.room_type == _ranked_room || room.room_type == _tournament_room)
        draw_bitmap_from_sequence(destination, collection_index, 1, 0,
                                  room.room_type == _ranked_room ? _bitmap_ranked_room : _bitmap_tournament_room, bounds,
                                  clip, nullptr, transparency, _transparency_normal, ROOM_ICON_DRAW_FLAGS, 0);
    const int16_t streaming = _room_supports_recording_stream_flag | _room_requires_recording_stream_flag;
    if ((room.room_flags & streaming) == streaming && frames_per_view(collection_index, 1) >= FILMS_ROOM_MINIMUM_BITMAPS)
        draw_bitmap_from_sequence(destination, collection_index, 1, 0, _bitmap_films_room, bounds, clip, nullptr,
                                  transparency, _transparency_normal, ROOM_ICON_DRAW_FLAGS, 0);
    rectangle2d box = {(int16_t)(bounds->top + 2), (int16_t)(bounds->right - 35), (int16_t)(bounds->top + 16),
                       bounds->right};
    draw_count(destination, collection_index, _bitmap_player_count, &box, clip, room.player_count,
               full && !room_enabled(room_id) ? &red : &white, transparency);
    box.top = (int16_t)(box.top + 15);
    box.bottom = (int16_t)(box.bottom + 15);
    draw_count(destination, collection_index, _bitmap_game_count, &box, clip, room.game_count, &white, transparency);
    if (!popped_up)
    {
        rectangle2d cover = *bounds;
        cover.right = (int16_t)(cover.right - 10);
        cover.bottom = (int16_t)(cover.bottom - 3);
        draw_bitmap_from_sequence(destination, collection_index, 1, 0, _bitmap_not_popped_up, &cover, clip, nullptr,
                                  transparency, _transparency_normal, 0, 0);
    }
    if (room_id == shown.room_id)
    {
        shown.player_count = room.player_count;
        shown.game_count = room.game_count;
    }
}

intptr_t room_graphic_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_completion_verb:
    {
        const intptr_t result = icon_popup_control_def_proc(verb, dialog, item_id, parameter);
        reset_room_graphic(dialog, item_id);
        return result;
    }
    case _control_click_verb:
    {
        if (get_icon_popup_maximum_count(dialog, item_id) > 0) refresh_room_states(dialog, item_id);
        const intptr_t chose = icon_popup_control_def_proc(verb, dialog, item_id, parameter);
        if (chose)
        {
            const int16_t entered = change_metaserver_room(get_icon_popup_value(dialog, item_id), true);
            if (entered != NONE) set_room_graphic_bitmap(dialog, item_id, entered);
        }
        return chose;
    }
    default: return icon_popup_control_def_proc(verb, dialog, item_id, parameter);
    }
}

// ---- game list ------------------------------------------------------------------------

static bool is_game_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, game_list_control_handler);
    if (!item) return false;
    return VASSERT(item->handler == game_list_control_handler && get_list_control_private_list(dialog, item_id),
                   "not a game list");
}

// Row `row` into `record` when it holds exactly `size` bytes.
static bool read_row(const dialog_data *dialog, int16_t item_id, int16_t row, void *record, int16_t size)
{
    int16_t length = size;
    bitmap_get_listbox_row_data(dialog, item_id, row, record, &length);
    return length == size;
}

// The first row of `size` bytes whose `key_size` bytes at `key_offset` are
// `key`; NONE when none.  Rows are read in place: a full list is searched
// once per entry of a list event.
static int16_t find_row_by_key(const dialog_data *dialog, int16_t item_id, int16_t size, size_t key_offset,
                               const void *key, size_t key_size)
{
    const private_list_data *list = get_list_control_private_list(dialog, item_id);
    if (!list || !VASSERT(key_offset + key_size <= (size_t)size, "row key outside its row")) return NONE;
    for (int16_t row = 0; row < list->actual_row_count; ++row)
    {
        int16_t length = 0;
        const uint8_t *record = (const uint8_t *)get_private_list_row_data_pointer(list, row, &length);
        if (record && length == size && !memcmp(record + key_offset, key, key_size)) return row;
    }
    return NONE;
}

static bool row_game(const dialog_data *dialog, int16_t item_id, int16_t row, net_game_description *game)
{
    return read_row(dialog, item_id, row, game, (int16_t)sizeof(*game));
}

static int16_t find_game_row(const dialog_data *dialog, int16_t item_id, uint32_t game_id)
{
    return find_row_by_key(dialog, item_id, (int16_t)sizeof(net_game_description),
                           offsetof(net_game_description, game_id), &game_id, sizeof(game_id));
}

static bool game_enabled(const net_game_description *game) { return !(game->flags & _net_game_disabled_flags); }

// The rows' art.  It was loaded with the list into the collections' store,
// which a game played since has emptied: the lobby's list, kept through the
// game, loads it again rather than draw its rows without their icons.
static int32_t game_list_collection(void)
{
    const int32_t loaded = find_loaded_collection_index(GAME_LIST_COLLECTION_TAG);
    return loaded != NONE ? loaded : get_collection_index_if_present(GAME_LIST_COLLECTION_TAG);
}

static int32_t game_row_height(void)
{
    const int32_t collection = game_list_collection();
    const bitmap_data *bitmap = collection != NONE ? get_sequence_bitmap(collection, 1, 0, 0, nullptr, nullptr) : nullptr;
    return bitmap ? (int32_t)bitmap->height : (int32_t)DEFAULT_GAME_LIST_ROW_HEIGHT;
}

void add_game_to_list(dialog_data *dialog, int16_t item_id, const net_game_description *description)
{
    if (!description || !is_game_list(dialog, item_id)) return;
    bitmap_add_data_to_list(dialog, item_id, description, (int16_t)sizeof(*description), (int16_t)game_row_height(),
                            game_enabled(description));
}

void change_game_in_list(dialog_data *dialog, int16_t item_id, const net_game_description *description)
{
    if (!description || !is_game_list(dialog, item_id)) return;
    const int16_t row = find_game_row(dialog, item_id, description->game_id);
    if (row == NONE) return;
    const bool was_enabled = bitmap_list_item_enabled(dialog, item_id, row);
    bitmap_set_listbox_row_data(dialog, item_id, row, description, (int16_t)sizeof(*description));
    if (was_enabled == game_enabled(description)) return;
    bitmap_set_row_enabled(dialog, item_id, row, game_enabled(description));
    bitmap_sort_list(dialog, item_id);
}

void delete_game_by_id(dialog_data *dialog, int16_t item_id, uint32_t game_id)
{
    if (!is_game_list(dialog, item_id)) return;
    const int16_t row = find_game_row(dialog, item_id, game_id);
    if (row != NONE) bitmap_delete_listbox_row(dialog, item_id, row);
}

void select_game_by_id(dialog_data *dialog, int16_t item_id, uint32_t game_id)
{
    if (!is_game_list(dialog, item_id)) return;
    const int16_t row = find_game_row(dialog, item_id, game_id);
    if (row != NONE) bitmap_select_list_item(dialog, item_id, row);
}

bool get_game_list_selection(const dialog_data *dialog, int16_t item_id, net_game_description *description)
{
    if (!description || !is_game_list(dialog, item_id)) return false;
    const int16_t row = bitmap_get_listbox_value(dialog, item_id);
    return row != NONE && row_game(dialog, item_id, row, description);
}

void clear_game_list(dialog_data *dialog, int16_t item_id)
{
    if (is_game_list(dialog, item_id)) bitmap_empty_list(dialog, item_id);
}

// The fields a row is sorted by, read in place (rows need not be aligned).
struct game_sort_fields
{
    uint16_t flags;
    uint16_t seconds_remaining;
    uint32_t game_id;
};

static game_sort_fields sort_fields(const void *row)
{
    const uint8_t *bytes = (const uint8_t *)row;
    game_sort_fields fields;
    memcpy(&fields.flags, bytes + offsetof(net_game_description, flags), sizeof(fields.flags));
    memcpy(&fields.seconds_remaining, bytes + offsetof(net_game_description, game_seconds_remaining),
           sizeof(fields.seconds_remaining));
    memcpy(&fields.game_id, bytes + offsetof(net_game_description, game_id), sizeof(fields.game_id));
    return fields;
}

// Open 0, closed 1, in progress 2, invalid 3, invalid and in progress 4.
static int32_t game_status_rank(uint16_t flags)
{
    const bool in_progress = flags & _net_game_in_progress_flag;
    if (flags & _net_game_invalid_flag) return in_progress ? 4 : 3;
    if (in_progress) return 2;
    return flags & _net_game_is_closed_flag ? 1 : 0;
}

int32_t sort_game_list(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    if (length_a != (int16_t)sizeof(net_game_description) || length_b != (int16_t)sizeof(net_game_description))
        return length_a - length_b;
    const game_sort_fields first = sort_fields(a), second = sort_fields(b);
    const int32_t rank_a = game_status_rank(first.flags), rank_b = game_status_rank(second.flags);
    if (rank_a != rank_b) return rank_a - rank_b;
    if ((rank_a == 2 || rank_a == 4) && first.seconds_remaining != second.seconds_remaining)
        return (int32_t)first.seconds_remaining - (int32_t)second.seconds_remaining;
    if (first.game_id != second.game_id) return first.game_id < second.game_id ? -1 : 1;
    return 0;
}

bool idle_game_time_remaining(dialog_data *dialog, int16_t item_id)
{
    auto &g = metaserver_controls_globals;
    const uint32_t now = machine_tick_count();
    if (now - g.ticks_at_last_game_update_idle <= GAME_LIST_COUNTDOWN_INTERVAL) return false;
    g.ticks_at_last_game_update_idle = now;
    bool changed = false;
    const int16_t rows = bitmap_get_listbox_row_count(dialog, item_id);
    net_game_description game;
    for (int16_t row = 0; row < rows; ++row)
    {
        if (!row_game(dialog, item_id, row, &game) || !(game.flags & _net_game_in_progress_flag)) continue;
        if (game.game_seconds_remaining == NO_SECONDS_REMAINING || game.game_seconds_remaining == 0) continue;
        --game.game_seconds_remaining;
        bitmap_set_listbox_row_data(dialog, item_id, row, &game, (int16_t)sizeof(game));
        changed = true;
    }
    return changed;
}

static const char *game_list_string(int32_t index)
{
    return get_string_from_list(string_list_tag_to_string_index(INTERNAL_GAME_OPTIONS_STRING_LIST_TAG), index);
}

// A text built piece by piece; pieces past its end are cut, never written past it.
struct row_text
{
    char text[256];
    size_t used;
};

static void start_text(row_text *line) { line->text[0] = 0, line->used = 0; }

static void append_text(row_text *line, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void append_text(row_text *line, const char *format, ...)
{
    if (line->used + 1 >= sizeof(line->text)) return;
    va_list arguments;
    va_start(arguments, format);
    const int written = vsnprintf(line->text + line->used, sizeof(line->text) - line->used, format, arguments);
    va_end(arguments);
    if (written > 0) line->used += (size_t)written < sizeof(line->text) - line->used ? (size_t)written
                                                                                      : sizeof(line->text) - 1 - line->used;
}

// A row's texts: the name line with its right part, the map line, the
// details and the gameplay version's name.
struct game_row_texts
{
    row_text name, time_left, map, details, version;
};

static void build_game_row_texts(const net_game_description *game, game_row_texts *t)
{
    const new_game_parameter_data &p = game->parameters;
    for (row_text *line : {&t->name, &t->time_left, &t->map, &t->details, &t->version}) start_text(line);
    const bool cooperative = p.scoring == COOPERATIVE_SCORING;
    const bool in_progress = game->flags & _net_game_in_progress_flag;
    // A game listed without a name or map still shows a row one can read.
    append_text(&t->name, "%.*s  ", (int)sizeof(game->name) - 1, game->name[0] ? game->name : "(no name)");
    if (cooperative) append_text(&t->name, "%s", game_list_string(_game_list_string_cooperative));
    else
        append_text(&t->name, "%s",
                    get_string_from_list(string_list_tag_to_string_index(NET_GAME_SCORING_LIST), p.scoring));
    if (in_progress && p.type != 0)
    {
        if (game->game_seconds_remaining == NO_SECONDS_REMAINING)
            append_text(&t->time_left, "%s", game_list_string(_game_list_string_no_time_left));
        else
            append_text(&t->time_left, "%d %s", (game->game_seconds_remaining + 59) / 60,
                        game_list_string(game->game_seconds_remaining <= 60 ? _game_list_string_last_minute
                                                                          : _game_list_string_minutes_left));
    }
    const int map_size = (int)sizeof(game->map_name) - 1;
    const char *map_name = game->map_name[0] ? game->map_name : "(no map)";
    if (p.option_flags & _game_option_uses_vux_flag) append_text(&t->map, "|iVUX:|p|b %.*s|p", map_size, map_name);
    else if (p.option_flags & _game_option_uses_anticlump_flag)
        append_text(&t->map, "|b%.*s|p (anti-clumping)", map_size, map_name);
    else append_text(&t->map, "%.*s", map_size, map_name);

    if (game->flags & _net_game_has_password_flag)
        append_text(&t->details, "%s ", game_list_string(_game_list_string_password));
    if (in_progress)
        append_text(&t->details, "%d %s", game->player_count,
                    game_list_string(game->player_count < 2 ? _game_list_string_player_in_progress
                                                            : _game_list_string_players_in_progress));
    else
    {
        const int maximum = game->flags & _net_game_is_closed_flag || p.maximum_players < game->player_count
                                ? game->player_count
                                : p.maximum_players;
        append_text(&t->details, "%d/%d %s", game->player_count, maximum,
                    game_list_string(_game_list_string_players_of_maximum));
    }
    const char *separator = game_list_string(_game_list_string_separator);
    if (!cooperative)
    {
        append_text(&t->details, "%s", separator);
        if (p.time_limit <= 1800) append_text(&t->details, "%s", game_list_string(_game_list_string_time_limit_seconds));
        else append_text(&t->details, "%d %s", p.time_limit / 1800, game_list_string(_game_list_string_time_limit_minutes));
        if (p.option_flags & _game_option_allow_multiplayer_teams_flag)
        {
            append_text(&t->details, "%s", separator);
            if (p.maximum_teams > 0) append_text(&t->details, "%hd ", p.maximum_teams);
            append_text(&t->details, "%s", game_list_string(_game_list_string_teams));
        }
    }
    if (p.option_flags & _game_option_deathmatch_flag)
    {
        const char *deathmatch = game_list_string(_game_list_string_deathmatch);
        append_text(&t->details, "%s%s", separator, strcmp(deathmatch, "Deathmatch") == 0 ? "-DM-" : deathmatch);
    }
    append_text(&t->version, "%s", get_version_string(p.version & 0xFFFF, false));
}

void draw_game_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                         const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !data || length != (int16_t)sizeof(net_game_description)) return;
    net_game_description game;
    memcpy(&game, data, sizeof(game));
    fixed_fraction transparency = flags & _row_enabled_flag ? 0 : HALF_TRANSPARENT;
    const int32_t collection = game_list_collection();
    if (collection != NONE)
    {
        if (flags & _row_selected_flag)
        {
            rectangle2d frame = *row_bounds;
            draw_bitmap_from_sequence(destination, collection, 1, 0, 0, &frame, clip, nullptr, transparency,
                                      _transparency_normal, 0, 0);
        }
        const int16_t side = (int16_t)(row_bounds->bottom - row_bounds->top);
        rectangle2d icon = {row_bounds->top, row_bounds->left, row_bounds->bottom, (int16_t)(row_bounds->left + side)};
        draw_bitmap_from_sequence(destination, collection, 0, 0, game.parameters.scoring, &icon, clip, nullptr,
                                  transparency, _transparency_normal, 0, 0);
    }
    rgb_color color;
    if (game.flags & _net_game_invalid_flag) get_dialog_color(&color, _dialog_list_warning_text_color);
    else if ((game.flags & _net_game_in_progress_flag) && (game.flags & _net_game_supports_midgame_joining_flag))
        color = {65535, 0, 65535, 0};
    else
        get_dialog_color(&color, flags & _row_selected_flag ? _dialog_list_highlighted_text_color
                         : flags & _row_enabled_flag        ? _dialog_list_enabled_text_color
                                                            : _dialog_list_disabled_text_color);
    // A row one cannot join (a game in progress, a closed one) is told by its
    // faded icon and its colour: its text stays solid, to be read.
    transparency = 0;
    game_row_texts texts;
    build_game_row_texts(&game, &texts);
    const int32_t font = font_id != NONE ? font_id : get_interface_font_index(0);
    const int16_t line = get_font_line_height(font);
    rectangle2d text = *row_bounds;
    text.left = (int16_t)(text.left + (row_bounds->bottom - row_bounds->top) + 4);
    text.bottom = (int16_t)(text.top + line);
    draw_string(destination, nullptr, &text, clip, font, _font_style_bold, &color, texts.name.text, 0, transparency);
    if (texts.time_left.used)
        draw_string(destination, nullptr, &text, clip, font, -1, &color, texts.time_left.text,
                    _draw_string_right_justified_flag, transparency);
    text.top = (int16_t)(text.top + line);
    text.bottom = (int16_t)(text.bottom + line);
    draw_string(destination, nullptr, &text, clip, font, -1, &color, texts.map.text, _draw_string_color_codes_flag,
                transparency);
    text.top = (int16_t)(text.top + line);
    text.bottom = (int16_t)(text.bottom + line);
    draw_string(destination, nullptr, &text, clip, font, -1, &color, texts.details.text, 0, transparency);
    const int32_t version_identifier = game.parameters.version & 0xFFFF;
    rgb_color version_color = color;
    if ((game.flags & _net_game_invalid_flag) && (version_identifier < 2151 || version_identifier > 2199))
        version_color = {0, 65535, 0, 0};
    draw_string(destination, nullptr, &text, clip, font, -1, &version_color, texts.version.text,
                _draw_string_right_justified_flag, transparency);
}

intptr_t game_list_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_completion_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        get_collection_index(GAME_LIST_COLLECTION_TAG); // the rows' art, loaded once for every list
        bitmap_set_list_draw_proc(dialog, item_id, draw_game_list_proc);
        bitmap_set_list_line_height(dialog, item_id, (int16_t)game_row_height());
        bitmap_set_list_sort_proc(dialog, item_id, sort_game_list);
        bitmap_set_list_gutters(dialog, item_id, 2, 2);
        bitmap_set_list_flag(dialog, item_id, _list_can_be_focused_flag | _list_has_shaded_background_flag, false);
        bitmap_set_list_flag(dialog, item_id, _list_scrollbars_have_background_flag | _list_disabled_row_allow_click_flag,
                             true);
        return result;
    }
    case _control_requires_idle_time_verb: return 1;
    case _control_idle_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        return idle_game_time_remaining(dialog, item_id) ? 1 : result;
    }
    default: return list_control_def_proc(verb, dialog, item_id, parameter);
    }
}

// ---- buddy and order lists ------------------------------------------------------------------

void set_lobby_list_queries_for_tests(void (*buddy_query)(void), void (*order_query)(void))
{
    metaserver_controls_globals.buddy_query = buddy_query;
    metaserver_controls_globals.order_query = order_query;
}

static intptr_t order_or_buddy_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id,
                                                     void *parameter, bool order)
{
    auto &g = metaserver_controls_globals;
    uint32_t &last_query = order ? g.time_at_last_query_order : g.time_at_last_query_buddy;
    bool &queried = order ? g.order_queried : g.buddy_queried;
    switch (verb)
    {
    case _control_new_completion_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        bitmap_set_list_draw_proc(dialog, item_id, draw_player_list_proc);
        bitmap_set_list_sort_proc(dialog, item_id, player_list_sort_proc);
        bitmap_set_list_line_height(dialog, item_id, PLAYER_LIST_ROW_HEIGHT);
        bitmap_set_list_gutters(dialog, item_id, ROW_PADDING, ROW_PADDING);
        bitmap_set_list_flag(dialog, item_id, _list_can_be_focused_flag | _list_has_shaded_background_flag, false);
        bitmap_set_list_flag(dialog, item_id, _list_scrollbars_have_background_flag | _list_disabled_row_allow_click_flag,
                             true);
        // A new list asks at its first idle pass, whatever the clock says.
        last_query = 0;
        queried = false;
        return result;
    }
    case _control_dispose_verb:
        forget_player_list_rows(dialog, item_id);
        return list_control_def_proc(verb, dialog, item_id, parameter);
    case _control_requires_idle_time_verb: return 1;
    case _control_idle_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        const uint32_t now = machine_tick_count();
        if (queried && now - last_query <= LOBBY_LIST_QUERY_INTERVAL) return result;
        void (*query)(void) = order ? (g.order_query ? g.order_query : send_order_query)
                                    : (g.buddy_query ? g.buddy_query : send_buddy_query);
        query();
        last_query = now;
        queried = true;
        return result;
    }
    default: return list_control_def_proc(verb, dialog, item_id, parameter);
    }
}

intptr_t buddy_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    return order_or_buddy_list_control_def_proc(verb, dialog, item_id, parameter, false);
}

intptr_t order_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    return order_or_buddy_list_control_def_proc(verb, dialog, item_id, parameter, true);
}

// ---- room list --------------------------------------------------------------------------------

static bool room_row(const dialog_data *dialog, int16_t item_id, int16_t row, room_list_data *data)
{
    return read_row(dialog, item_id, row, data, (int16_t)sizeof(*data));
}

static int16_t find_room_row(const dialog_data *dialog, int16_t item_id, int16_t room_id)
{
    return find_row_by_key(dialog, item_id, (int16_t)sizeof(room_list_data), offsetof(room_list_data, room_id),
                           &room_id, sizeof(room_id));
}

static void draw_room_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                                const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !data || length != (int16_t)sizeof(room_list_data)) return;
    room_list_data row;
    memcpy(&row, data, sizeof(row));
    row.room_name[sizeof(row.room_name) - 1] = 0;
    rgb_color color;
    if (flags & _row_selected_flag)
    {
        get_dialog_color(&color, _dialog_list_highlight_color);
        fill_rectangle_clipped(destination, &color, row_bounds, clip, QUARTER_TRANSPARENT,
                               get_transparency_table(_transparency_normal));
        get_dialog_color(&color, _dialog_list_highlighted_text_color);
    }
    else
    {
        get_dialog_color(&color, flags & _row_enabled_flag ? _dialog_list_enabled_text_color
                                                          : _dialog_list_disabled_text_color);
    }
    char text[64];
    snprintf(text, sizeof(text), "%s %d %d", row.room_name, (int)row.player_count, (int)row.game_count);
    draw_string(destination, nullptr, row_bounds, clip, font_id != NONE ? font_id : get_interface_font_index(0), -1,
                &color, text, 0, 0);
}

// Brings the rows in step with the room table: at once when `force` (a new
// list, which must not wait for the table's next change), else when it changed.
static bool refresh_room_list(dialog_data *dialog, int16_t item_id, bool force)
{
    if (!metaserver_rooms_dirty() && !force) return false;
    for (int16_t row = (int16_t)(bitmap_get_listbox_row_count(dialog, item_id) - 1); row >= 0; --row)
    {
        room_list_data data;
        if (room_row(dialog, item_id, row, &data) && !get_metaserver_room_data(data.room_id, nullptr))
            bitmap_delete_listbox_row(dialog, item_id, row);
    }
    for (int16_t room = 0; room <= maximum_metaserver_room_index(); ++room)
    {
        room_data table;
        if (!get_metaserver_room_data(room, &table)) continue;
        const int16_t row = find_room_row(dialog, item_id, room);
        room_list_data data;
        if (row == NONE)
        {
            memset(&data, 0, sizeof(data));
            snprintf(data.room_name, sizeof(data.room_name), "Room %d", (int)room);
            data.room_id = room;
            data.player_count = table.player_count;
            data.game_count = table.game_count;
            bitmap_add_data_to_list(dialog, item_id, &data, (int16_t)sizeof(data), 0, true);
        }
        else if (room_row(dialog, item_id, row, &data) &&
                 (data.player_count != table.player_count || data.game_count != table.game_count))
        {
            data.player_count = table.player_count;
            data.game_count = table.game_count;
            bitmap_set_listbox_row_data(dialog, item_id, row, &data, (int16_t)sizeof(data));
        }
    }
    return true;
}

intptr_t room_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_completion_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        bitmap_set_list_draw_proc(dialog, item_id, draw_room_list_proc);
        bitmap_set_list_line_height(dialog, item_id, get_font_line_height(get_interface_font_index(0)));
        bitmap_set_list_flag(dialog, item_id,
                             _list_has_shaded_background_flag | _list_scrollbars_have_background_flag |
                                 _list_cant_lose_selection_flag,
                             true);
        refresh_room_list(dialog, item_id, true);
        return result;
    }
    case _control_requires_idle_time_verb: return 1;
    case _control_idle_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        return refresh_room_list(dialog, item_id, false) ? 1 : result;
    }
    default: return list_control_def_proc(verb, dialog, item_id, parameter);
    }
}

int16_t get_selected_room_identifier(const dialog_data *dialog, int16_t item_id)
{
    const int16_t row = bitmap_get_listbox_value(dialog, item_id);
    room_list_data data;
    return row != NONE && room_row(dialog, item_id, row, &data) ? data.room_id : (int16_t)NONE;
}

void select_room_by_identifier(dialog_data *dialog, int16_t item_id, int16_t room_id)
{
    const int16_t row = find_room_row(dialog, item_id, room_id);
    if (row != NONE) bitmap_select_list_item(dialog, item_id, row);
}

// ---- registration --------------------------------------------------------------------------------

void register_metaserver_controls(void)
{
    register_vesk_control_procedure(BANNER_CONTROL_TAG, banner_control_handler);
    register_vesk_control_procedure(ROOM_GRAPHIC_CONTROL_TAG, room_graphic_control_handler);
    register_vesk_control_procedure(GAME_LIST_CONTROL_TAG, game_list_control_handler);
    register_vesk_control_procedure(BUDDY_LIST_CONTROL_TAG, buddy_list_control_def_proc);
    register_vesk_control_procedure(ORDER_LIST_CONTROL_TAG, order_list_control_def_proc);
}
