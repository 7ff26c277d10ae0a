// The list of a game's players and teams.

#include "bitmap_dialogs/player_list_control.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_preferences.h"
#include "gameplay_versions.h"
#include "interface_definitions.h"
#include "players.h"
#include "shapes.h"

// The one idle timer every player list shares, and the list whose sort keys
// wait for the end of a batch of changes.
static struct player_list_globals
{
    uint32_t ticks_at_last_idle_redraw;
    dialog_data *batch_dialog;
    int16_t batch_item;
    bool batch_keys_stale;
} player_list_globals;

static bool is_player_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, player_list_control_def_proc);
    if (!item) return false;
    // The lobby's buddy and order lists keep player rows too.
    const bool player_rows = item->handler == player_list_control_def_proc ||
                             item->handler == find_control_handler(BUDDY_LIST_CONTROL_TAG) ||
                             item->handler == find_control_handler(ORDER_LIST_CONTROL_TAG);
    return VASSERT(player_rows && get_list_control_private_list(dialog, item_id), "not a player list");
}

// Row `row`'s record in the list, NULL (logged) when it is not a player-list row.
static const player_list_data *row_record(const private_list_data *list, int16_t row)
{
    int16_t length = 0;
    const void *data = get_private_list_row_data_pointer(list, row, &length);
    if (!data) return nullptr;
    if (length != (int16_t)sizeof(player_list_data))
    {
        char text[128];
        snprintf(text, sizeof(text), "Length != sizeof(struct player_list_data) (%d != %d) Data: 0x%x", length,
                 (int)sizeof(player_list_data), (unsigned)(uintptr_t)data);
        VASSERT(false, text);
        return nullptr;
    }
    return (const player_list_data *)data;
}

static bool is_team_row(const player_list_data *row)
{
    return (row->flags & _player_is_actually_team_flag) != 0;
}

// The row of `uid` (a team row with `team`) by a walk of every row, NONE when none.
static int16_t scan_for_row(const private_list_data *list, uint32_t uid, bool team)
{
    const int16_t count = get_row_count_private_list(list);
    for (int16_t row = 0; row < count; ++row)
    {
        const player_list_data *record = row_record(list, row);
        if (record && record->uid == uid && is_team_row(record) == team) return row;
    }
    return NONE;
}

// ---- rows by player id -------------------------------------------------------------

// A lobby room lists hundreds of players, and each change names one of them:
// each list keeps, per player id, a copy of its player row and of its team
// row as last written.  The rows lie in the sort procedure's order, so a
// binary search on the copy finds the row, which is then checked by its id;
// a row not where its copy says (a list changed behind these calls) is found
// by a walk instead.  A list whose row count differs from the one this index
// last saw was changed through the list calls (emptied, a row deleted or
// added): the index is built again from its rows.
struct indexed_player_rows
{
    player_list_data player, team;
    bool has_player, has_team;
};

struct player_row_index
{
    int16_t row_count;
    std::unordered_map<uint32_t, indexed_player_rows> rows;
};

// Never destroyed: a dialog closed while the program exits may still forget its list.
static std::unordered_map<const private_list_data *, player_row_index> &player_row_indexes =
    *new std::unordered_map<const private_list_data *, player_row_index>;

static void note_row(player_row_index *index, const player_list_data *record)
{
    indexed_player_rows &entry = index->rows[record->uid];
    if (is_team_row(record))
    {
        if (!entry.has_team) entry.team = *record;
        entry.has_team = true;
    }
    else
    {
        if (!entry.has_player) entry.player = *record;
        entry.has_player = true;
    }
}

static void forget_row(player_row_index *index, uint32_t uid, bool team)
{
    const auto found = index->rows.find(uid);
    if (found == index->rows.end()) return;
    (team ? found->second.has_team : found->second.has_player) = false;
    if (!found->second.has_team && !found->second.has_player) index->rows.erase(found);
}

// (The entries are refilled in place: a room of hundreds is rebuilt after
// every event, and its entries mostly stay.)
static void rebuild_row_index(const private_list_data *list, player_row_index *index)
{
    for (auto &entry : index->rows) entry.second.has_player = entry.second.has_team = false;
    const int16_t count = get_row_count_private_list(list);
    for (int16_t row = 0; row < count; ++row)
        if (const player_list_data *record = row_record(list, row)) note_row(index, record);
    for (auto entry = index->rows.begin(); entry != index->rows.end();)
        entry = entry->second.has_player || entry->second.has_team ? std::next(entry) : index->rows.erase(entry);
    index->row_count = count;
}

// The list's index, built again first when the list changed behind it.
static player_row_index *row_index(const private_list_data *list)
{
    player_row_index &index = player_row_indexes[list];
    if (index.row_count != get_row_count_private_list(list)) rebuild_row_index(list, &index);
    return &index;
}

// After this module changed the rows: `expected` is the count its own
// changes leave; any other count (the list dropped its oldest row to make
// room) means the index must be built again.
static void row_index_settled(const private_list_data *list, player_row_index *index, int16_t expected)
{
    if (get_row_count_private_list(list) != expected) rebuild_row_index(list, index);
    index->row_count = get_row_count_private_list(list);
}

void forget_player_list_rows(const dialog_data *dialog, int16_t item_id)
{
    player_row_indexes.erase(get_list_control_private_list(dialog, item_id));
}

// The row of `uid` (a team row with `team`), NONE when none.
static int16_t find_player_row(const private_list_data *list, uint32_t uid, bool team)
{
    const player_row_index *index = row_index(list);
    const auto found = index->rows.find(uid);
    if (found == index->rows.end() || !(team ? found->second.has_team : found->second.has_player)) return NONE;
    const player_list_data *probe = team ? &found->second.team : &found->second.player;
    const int16_t length = (int16_t)sizeof(player_list_data);
    // The first row that does not sort before the copy, then the rows equal to it.
    const int16_t count = get_row_count_private_list(list);
    int16_t low = 0, high = count;
    while (low < high)
    {
        const int16_t middle = (int16_t)(low + (high - low) / 2);
        const player_list_data *record = row_record(list, middle);
        if (record && player_list_sort_proc(record, length, probe, length) < 0) low = (int16_t)(middle + 1);
        else high = middle;
    }
    for (int16_t row = low; row < count; ++row)
    {
        const player_list_data *record = row_record(list, row);
        if (!record || player_list_sort_proc(record, length, probe, length) != 0) break;
        if (record->uid == uid && is_team_row(record) == team) return row;
    }
    return scan_for_row(list, uid, team);
}

// A name field as a terminated string.
static void copy_name(char *buffer, size_t size, const char *name)
{
    strlcpy_field(buffer, size, name, PLAYER_NAME_SIZE);
}

static bool is_captain(const new_player_data *player)
{
    return player->team_captain_identifier == player->unique_identifier;
}

static void build_list_sort_values(dialog_data *dialog, int16_t item_id)
{
    auto &g = player_list_globals;
    if (g.batch_dialog && g.batch_dialog == dialog && g.batch_item == item_id)
    {
        g.batch_keys_stale = true;
        return;
    }
    private_list_data *list = get_list_control_private_list(dialog, item_id);
    if (!list) return;
    const int16_t count = get_row_count_private_list(list);
    std::vector<new_player_data> ordered;
    std::vector<int16_t> player_rows;
    for (int16_t row = 0; row < count; ++row)
    {
        const player_list_data *record = row_record(list, row);
        if (!record || is_team_row(record)) continue;
        ordered.push_back(record->player);
        player_rows.push_back(row);
    }
    sort_new_player_data(ordered.data(), (int32_t)ordered.size(), false);

    // Each player row's place in the ordered array (every place used once,
    // so identical records still get distinct keys): the rows, in order,
    // take the earliest unused places of records equal to theirs.  Looked up
    // by the record's bytes, so a lobby room of hundreds stays linear: the
    // map holds the earliest unused place of each record, `next_place` the
    // following place of an equal record.
    const auto record_bytes = [](const new_player_data *p) {
        return std::string_view((const char *)p, sizeof(new_player_data));
    };
    std::unordered_map<std::string_view, int32_t> places;
    places.reserve(ordered.size());
    std::vector<int32_t> next_place(ordered.size(), NONE);
    for (size_t i = ordered.size(); i-- > 0;)
    {
        int32_t &first = places.try_emplace(record_bytes(&ordered[i]), NONE).first->second;
        next_place[i] = first;
        first = (int32_t)i;
    }
    std::vector<int32_t> position_of_row((size_t)count, NONE);
    std::unordered_map<uint32_t, int16_t> first_player_row_of_uid;
    first_player_row_of_uid.reserve(player_rows.size());
    for (int16_t row : player_rows)
    {
        const player_list_data *record = row_record(list, row);
        first_player_row_of_uid.emplace(record->uid, row);
        auto found = places.find(record_bytes(&record->player));
        if (found == places.end() || found->second == NONE) continue;
        position_of_row[(size_t)row] = found->second;
        found->second = next_place[(size_t)found->second];
    }

    const uint16_t quiet = bitmap_get_list_flag(dialog, item_id, _list_does_not_redraw_when_data_changes_flag);
    bitmap_set_list_flag(dialog, item_id, _list_does_not_redraw_when_data_changes_flag, true);
    for (int16_t row = 0; row < count; ++row)
    {
        const player_list_data *record = row_record(list, row);
        if (!record) continue;
        player_list_data copy = *record;
        const int32_t disabled = get_row_enabled_private_list(list, row) ? 0 : PLAYER_LIST_DISABLED_SORT_OFFSET;
        if (!is_team_row(record))
        {
            const int32_t i = position_of_row[(size_t)row];
            if (i == NONE) continue;
            copy.sort_order = (int16_t)(i * 10 + disabled);
            copy.player.flags = ordered[(size_t)i].flags;
        }
        else
        {
            const auto captain = first_player_row_of_uid.find(record->uid);
            // A team whose captain is not listed keeps its key.
            if (captain == first_player_row_of_uid.end() || position_of_row[(size_t)captain->second] == NONE) continue;
            const int16_t captain_row = captain->second;
            copy.sort_order = (int16_t)(position_of_row[(size_t)captain_row] * 10 - 1 + disabled);
        }
        if (memcmp(&copy, record, sizeof(copy)) != 0) set_data_in_private_list_row(list, row, &copy, (int16_t)sizeof(copy));
    }
    bitmap_set_list_flag(dialog, item_id, _list_does_not_redraw_when_data_changes_flag, quiet != 0);
    // Rows already in strictly ascending order are what the sort would give
    // (after one player joins or leaves a room, most often they are).
    bool ordered_already = true;
    const int16_t length = (int16_t)sizeof(player_list_data);
    for (int16_t row = 1; row < count && ordered_already; ++row)
    {
        const player_list_data *previous = row_record(list, (int16_t)(row - 1)), *record = row_record(list, row);
        ordered_already = previous && record && player_list_sort_proc(previous, length, record, length) < 0;
    }
    if (ordered_already) set_dialog_item_dirty(dialog, item_id);
    else bitmap_sort_list(dialog, item_id);
    // The keys changed and the rows may have moved: the copies follow.
    rebuild_row_index(list, &player_row_indexes[list]);
}

int32_t player_list_sort_proc(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    if (length_a != (int16_t)sizeof(player_list_data) || length_b != (int16_t)sizeof(player_list_data)) return 0;
    const player_list_data *pa = (const player_list_data *)a;
    const player_list_data *pb = (const player_list_data *)b;
    if (pa->sort_order != pb->sort_order) return pa->sort_order < pb->sort_order ? -1 : 1;
    char name_a[PLAYER_NAME_SIZE + 1], name_b[PLAYER_NAME_SIZE + 1];
    copy_name(name_a, sizeof(name_a), pa->player.appearance.name);
    copy_name(name_b, sizeof(name_b), pb->player.appearance.name);
    return csstrcmp(name_a, name_b);
}

void build_player_list_status_text(const player_list_data *row, char *buffer, int32_t size,
                                   fixed_fraction *transparency)
{
    if (transparency) *transparency = 0;
    if (!buffer || size <= 0) return;
    buffer[0] = 0;
    if (!row) return;
    const game_preferences *preferences = get_game_preferences();
    const bool show_latency = networked_game_supports_ping() && preferences &&
                              (preferences->flags & _game_pref_show_player_latencies_flag);
    if (show_latency)
    {
        if (row->uid == 0) slprintfcat(buffer, (size_t)size, "%shost", "");
        else
        {
            const int32_t latency = get_player_latency((int32_t)row->uid);
            if (latency >= 1000) slprintfcat(buffer, (size_t)size, "%s---", "");
            else slprintfcat(buffer, (size_t)size, "%s%3dms", "", latency);
        }
    }
    const char *separator = buffer[0] ? "|p|0   " : "";
    const int32_t version = row->player.version;
    if (row->flags & _player_show_diff_version_number_flag)
    {
        if (version == THIS_PROGRAM_VERSION)
        {
            if (row->player.build_number != THIS_PROGRAM_BUILD)
            {
                char build[16];
                slprintf(build, sizeof(build), "b%d", (int)row->player.build_number);
                slprintfcat(buffer, (size_t)size, "%s|C%s", separator, build);
            }
        }
        else
        {
            char digits[16], number[16];
            slprintf(digits, sizeof(digits), "%d", (int)version);
            if (strlen(digits) <= 3) strlcpy(number, "  ??", sizeof(number));
            else slprintf(number, sizeof(number), "%c.%c.%c", digits[1], digits[2], digits[3]);
            slprintfcat(buffer, (size_t)size, "%s|C%s", separator, number);
        }
    }
    else if ((row->flags & _player_show_version_flag) && version != 0)
    {
        slprintfcat(buffer, (size_t)size, "%s%s", separator, get_version_string(version, false));
        if (transparency) *transparency = 32768;
    }
}

void draw_player_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t, uint16_t flags)
{
    if (!destination || !row_bounds || !data) return;
    if (length != (int16_t)sizeof(player_list_data)) return;
    player_list_data row;
    memcpy(&row, data, sizeof(row));
    const player_appearance_data &look = row.player.appearance;
    const bool enabled = (flags & _row_enabled_flag) != 0;
    const fixed_fraction fill_transparency = enabled ? 16384 : 49152;
    const fixed_fraction text_transparency = enabled ? 0 : 32768;
    const int32_t collection = get_collection_index(PLAYER_ICON_COLLECTION_TAG);
    const int32_t font = get_interface_font_index(0);
    const rectangle2d b = *row_bounds;

    if ((flags & _row_selected_flag) && collection != NONE)
    {
        rectangle2d frame = b;
        draw_bitmap_from_sequence(destination, collection, _player_icon_list_highlight_sequence, -1, 0, &frame, clip,
                                  nullptr, 0, _transparency_normal, _draw_bitmap_respect_registration_point_flag, 0);
    }

    rectangle2d t = {(int16_t)(b.top + 2), (int16_t)(b.left + 2), (int16_t)(b.top + 2 + CASTE_ICON_HEIGHT),
                     (int16_t)(b.right - 2)};
    char name[PLAYER_NAME_SIZE + 1];
    if (is_team_row(&row))
    {
        fill_rectangle_clipped(destination, &look.primary_color, &t, clip, 16384, nullptr);
        copy_name(name, sizeof(name), look.team_name);
        draw_string(destination, nullptr, &t, clip, font, _font_style_italic, &rgb_white, name,
                    _draw_string_center_vertical_flag | _draw_string_shadow_flag, 0);
        return;
    }

    const bool member = row.player.team_captain_identifier != NONE;
    const bool indented = member && !(row.flags & _player_show_version_flag);
    rectangle2d icon = {t.top, t.left, (int16_t)(t.top + CASTE_ICON_HEIGHT), (int16_t)(t.left + CASTE_ICON_WIDTH)};
    if (indented) offset_rectangle2d(&icon, TEAM_MEMBER_INDENT, 0);
    t.left = (int16_t)(icon.right + 2);

    const bool draxil = (row.player.flags & _player_is_from_draxil_flag) != 0;
    if (collection != NONE)
    {
        rgb_color colors[2] = {look.primary_color, look.secondary_color};
        rectangle2d frame = icon;
        draw_bitmap_from_sequence(destination, collection, _player_icon_coats_of_arms_sequence, -1,
                                  look.coat_of_arms_bitmap_index, &frame, clip, colors, text_transparency,
                                  _transparency_normal, _draw_bitmap_respect_registration_point_flag, 0);
    }
    fill_rectangle_clipped(destination, indented ? &look.secondary_color : &look.primary_color, &t, clip,
                           fill_transparency, nullptr);
    if (draxil)
    {
        static const char banner[] = "vesk  vesk  vesk  vesk  vesk  vesk  vesk";
        const point2d origins[3] = {{0, -3}, {20, 7}, {0, 17}};
        for (const point2d &at : origins)
        {
            rectangle2d band = t;
            offset_rectangle2d(&band, at.x, at.y);
            rectangle2d band_clip;
            if (!intersect_rectangles2d(&t, clip ? clip : &t, &band_clip)) continue;
            draw_string(destination, nullptr, &band, &band_clip, font, -1, &rgb_white, banner, 0, fill_transparency);
        }
    }
    if (!(row.flags & _player_dont_show_ready_icon_flag) && (row.player.agreed_to_play || (row.flags & _player_is_host_flag)) &&
        collection != NONE)
    {
        rectangle2d frame = icon;
        draw_bitmap_from_sequence(destination, collection, _player_icon_ready_sequence, -1,
                                  (row.flags & _player_is_host_flag) ? 0 : 1, &frame, clip, nullptr,
                                  text_transparency, _transparency_normal, 0, 0);
    }
    copy_name(name, sizeof(name), look.name);
    draw_string(destination, nullptr, &t, clip, font, -1, &rgb_white, name,
                _draw_string_center_vertical_flag | _draw_string_shadow_flag, text_transparency);

    int32_t caste = look.caste_bitmap_index;
    if (collection != NONE && (caste != NONE || draxil))
    {
        if (caste == DRAXIL_CASTE_ICON_INDEX)
            caste = count_sequence_bitmaps(collection, _player_icon_castes_sequence, _count_frames_per_view) - 1;
        rectangle2d frame = t;
        if (caste >= 0 || draxil)
            draw_bitmap_from_sequence(destination, collection, _player_icon_castes_sequence, -1, caste, &frame, clip,
                                      nullptr, text_transparency, _transparency_normal,
                                      _draw_bitmap_right_justified_flag | _draw_bitmap_respect_registration_point_flag,
                                      2);
    }

    char status[PLAYER_LIST_STATUS_TEXT_SIZE];
    fixed_fraction status_transparency = 0;
    build_player_list_status_text(&row, status, (int32_t)sizeof(status), &status_transparency);
    if (status[0])
        draw_string(destination, nullptr, &t, clip, font, -1, &rgb_white, status,
                    _draw_string_right_justified_flag | _draw_string_center_vertical_flag | _draw_string_shadow_flag |
                        _draw_string_color_codes_flag,
                    status_transparency ? status_transparency : text_transparency);
}

intptr_t player_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_completion_verb:
    {
        const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
        bitmap_set_list_draw_proc(dialog, item_id, draw_player_list_proc);
        bitmap_set_list_line_height(dialog, item_id, PLAYER_LIST_ROW_HEIGHT);
        bitmap_set_list_sort_proc(dialog, item_id, player_list_sort_proc);
        bitmap_set_list_gutters(dialog, item_id, ROW_PADDING, ROW_PADDING);
        bitmap_set_list_flag(dialog, item_id, _list_can_be_focused_flag | _list_has_shaded_background_flag, false);
        bitmap_set_list_flag(dialog, item_id,
                             _list_scrollbars_have_background_flag |
                                 _list_click_in_selected_row_deselects_not_double_flag |
                                 _list_disabled_row_allow_click_flag,
                             true);
        return result;
    }
    case _control_dispose_verb:
        forget_player_list_rows(dialog, item_id);
        return list_control_def_proc(verb, dialog, item_id, parameter);
    case _control_requires_idle_time_verb: return 1;
    case _control_idle_verb:
    {
        const game_preferences *preferences = get_game_preferences();
        if (!networked_game_supports_ping() || !preferences ||
            !(preferences->flags & _game_pref_show_player_latencies_flag))
            return 0;
        const uint32_t now = machine_tick_count();
        if (now - player_list_globals.ticks_at_last_idle_redraw < PLAYER_LIST_IDLE_MILLISECONDS) return 0;
        player_list_globals.ticks_at_last_idle_redraw = now;
        return 1;
    }
    default: return list_control_def_proc(verb, dialog, item_id, parameter);
    }
}

// Removes the player row and the team row of `uid` (no new sort values).
static void delete_rows_of(dialog_data *dialog, int16_t item_id, uint32_t uid)
{
    const private_list_data *list = get_list_control_private_list(dialog, item_id);
    player_row_index *index = row_index(list);
    const int16_t player_row = find_player_row(list, uid, false), team_row = find_player_row(list, uid, true);
    // The later row goes first, so the earlier one keeps its index.
    const int16_t earlier = std::min(player_row, team_row), later = std::max(player_row, team_row);
    int16_t expected = index->row_count;
    if (later != NONE) bitmap_delete_listbox_row(dialog, item_id, later), --expected;
    if (earlier != NONE) bitmap_delete_listbox_row(dialog, item_id, earlier), --expected;
    forget_row(index, uid, false);
    forget_row(index, uid, true);
    row_index_settled(list, index, expected);
}

// Adds a row and its copy in the index.
static void add_indexed_row(dialog_data *dialog, int16_t item_id, const player_list_data *record, bool enabled)
{
    const private_list_data *list = get_list_control_private_list(dialog, item_id);
    player_row_index *index = row_index(list);
    int16_t expected = index->row_count;
    if (bitmap_add_data_to_list(dialog, item_id, record, (int16_t)sizeof(*record), PLAYER_LIST_ROW_HEIGHT,
                                enabled) != NONE)
    {
        forget_row(index, record->uid, is_team_row(record));
        note_row(index, record);
        ++expected;
    }
    row_index_settled(list, index, expected);
}

static void add_team_row(dialog_data *dialog, int16_t item_id, const player_list_data *captain)
{
    player_list_data team = *captain;
    team.flags = _player_is_enabled_flag | _player_is_actually_team_flag;
    add_indexed_row(dialog, item_id, &team, true);
}

// Rewrites a row in place and its copy in the index.
static void set_indexed_row(dialog_data *dialog, int16_t item_id, int16_t row, const player_list_data *record)
{
    bitmap_set_listbox_row_data(dialog, item_id, row, record, (int16_t)sizeof(*record));
    player_row_index *index = row_index(get_list_control_private_list(dialog, item_id));
    forget_row(index, record->uid, is_team_row(record));
    note_row(index, record);
}

void add_player_to_list(dialog_data *dialog, int16_t item_id, const new_player_data *player, int16_t host,
                        uint32_t uid, int32_t room_id, bool enabled)
{
    if (!player || !is_player_list(dialog, item_id)) return;
    delete_rows_of(dialog, item_id, uid);
    player_list_data row;
    memset(&row, 0, sizeof(row));
    row.player = *player;
    row.uid = uid;
    row.room_id = room_id;
    if (enabled) row.flags = _player_is_enabled_flag;
    else bitmap_clear_selections(dialog, item_id);
    if (uid == 0) row.flags |= _player_is_host_flag;
    if (host == 1) row.flags |= _player_show_version_flag;
    else if (host == 2) row.flags |= _player_show_diff_version_number_flag;
    add_indexed_row(dialog, item_id, &row, enabled);
    if (is_captain(player)) add_team_row(dialog, item_id, &row);
    build_list_sort_values(dialog, item_id);
}

void begin_player_list_batch(dialog_data *dialog, int16_t item_id)
{
    end_player_list_batch();
    auto &g = player_list_globals;
    if (!dialog || !is_player_list(dialog, item_id)) return;
    g.batch_dialog = dialog;
    g.batch_item = item_id;
    g.batch_keys_stale = false;
}

void end_player_list_batch(void)
{
    auto &g = player_list_globals;
    dialog_data *dialog = g.batch_dialog;
    const int16_t item_id = g.batch_item;
    const bool stale = g.batch_keys_stale;
    g.batch_dialog = nullptr;
    g.batch_item = NONE;
    g.batch_keys_stale = false;
    if (stale && dialog && is_player_list(dialog, item_id)) build_list_sort_values(dialog, item_id);
}

void set_player_data_in_list(dialog_data *dialog, int16_t item_id, const new_player_data *player, int16_t,
                             uint32_t uid)
{
    if (!player || !is_player_list(dialog, item_id)) return;
    private_list_data *list = get_list_control_private_list(dialog, item_id);
    const int16_t row = find_player_row(list, uid, false);
    if (row == NONE) return;
    player_list_data record = *row_record(list, row);
    record.player = *player;
    if (uid == 0) record.flags |= _player_is_host_flag;
    else record.flags &= (uint16_t)~_player_is_host_flag;
    set_indexed_row(dialog, item_id, row, &record);
    const int16_t team_row = find_player_row(list, uid, true);
    if (team_row != NONE)
    {
        if (is_captain(player))
        {
            player_list_data team = *row_record(list, team_row);
            team.player = *player;
            set_indexed_row(dialog, item_id, team_row, &team);
        }
        else
        {
            player_row_index *index = row_index(list);
            bitmap_delete_listbox_row(dialog, item_id, team_row);
            forget_row(index, uid, true);
            row_index_settled(list, index, (int16_t)(index->row_count - 1));
        }
    }
    else if (is_captain(player))
        add_team_row(dialog, item_id, &record);
    build_list_sort_values(dialog, item_id);
}

void delete_player_from_list_by_id(dialog_data *dialog, int16_t item_id, uint32_t id)
{
    if (!is_player_list(dialog, item_id)) return;
    delete_rows_of(dialog, item_id, id);
    build_list_sort_values(dialog, item_id);
}

void set_player_appearance_by_id(dialog_data *dialog, int16_t item_id, const player_appearance_data *appearance,
                                 uint32_t id)
{
    if (!appearance || !is_player_list(dialog, item_id)) return;
    private_list_data *list = get_list_control_private_list(dialog, item_id);
    const int16_t row = find_player_row(list, id, false);
    if (row == NONE)
    {
        log_message(__FILE__, __LINE__, "set_player_appearance_by_id(0x%x, %d, %d, 0x%x) failed",
                    (unsigned)(uintptr_t)dialog, item_id, (int)id, (unsigned)(uintptr_t)appearance);
        return;
    }
    player_list_data record = *row_record(list, row);
    record.player.appearance = *appearance;
    set_indexed_row(dialog, item_id, row, &record);
    build_list_sort_values(dialog, item_id);
}

// The player row of `id`, NULL when none (or not a player list).
static const player_list_data *player_row(const dialog_data *dialog, int16_t item_id, uint32_t id)
{
    if (!is_player_list(dialog, item_id)) return nullptr;
    const private_list_data *list = get_list_control_private_list(dialog, item_id);
    const int16_t row = find_player_row(list, id, false);
    return row == NONE ? nullptr : row_record(list, row);
}

bool get_player_appearance_by_id(const dialog_data *dialog, int16_t item_id, uint32_t id,
                                 player_appearance_data *appearance)
{
    const player_list_data *row = player_row(dialog, item_id, id);
    if (!row || !appearance) return false;
    *appearance = row->player.appearance;
    return true;
}

bool get_player_from_list_by_id(const dialog_data *dialog, int16_t item_id, uint32_t id, new_player_data *player)
{
    const player_list_data *row = player_row(dialog, item_id, id);
    if (!row || !player) return false;
    *player = row->player;
    return true;
}

void gag_player(dialog_data *dialog, int16_t item_id, uint32_t id, bool gag)
{
    if (!is_player_list(dialog, item_id)) return;
    private_list_data *list = get_list_control_private_list(dialog, item_id);
    const int16_t row = find_player_row(list, id, false);
    if (row == NONE) return;
    player_list_data record = *row_record(list, row);
    if (gag) record.flags |= _player_is_gagged_flag;
    else record.flags &= (uint16_t)~_player_is_gagged_flag;
    set_indexed_row(dialog, item_id, row, &record);
}

bool player_is_gagged(const dialog_data *dialog, int16_t item_id, uint32_t id)
{
    const player_list_data *row = player_row(dialog, item_id, id);
    return row && (row->flags & _player_is_gagged_flag);
}

bool player_id_in_list(const dialog_data *dialog, int16_t item_id, uint32_t id)
{
    return player_row(dialog, item_id, id) != nullptr;
}

void select_player_list_item_by_id(dialog_data *dialog, int16_t item_id, uint32_t id)
{
    if (!is_player_list(dialog, item_id)) return;
    const int16_t row = find_player_row(get_list_control_private_list(dialog, item_id), id, false);
    if (row != NONE) bitmap_select_list_item(dialog, item_id, row);
}

uint32_t get_selected_player_user_id(const dialog_data *dialog, int16_t item_id)
{
    if (!is_player_list(dialog, item_id)) return 0;
    const int16_t row = bitmap_get_listbox_value(dialog, item_id);
    if (row < 0) return 0;
    const player_list_data *record = row_record(get_list_control_private_list(dialog, item_id), row);
    return record ? record->uid : 0;
}

char get_selected_player_buddy_status(const dialog_data *dialog, int16_t item_id)
{
    if (!is_player_list(dialog, item_id) || bitmap_get_listbox_value(dialog, item_id) < 0) return 0;
    return get_player_buddy_status((int32_t)get_selected_player_user_id(dialog, item_id));
}

uint32_t get_player_list_item_id(const dialog_data *dialog, int16_t item_id, int16_t index)
{
    if (!is_player_list(dialog, item_id)) return 0;
    const player_list_data *record = row_record(get_list_control_private_list(dialog, item_id), index);
    return record ? record->uid : 0;
}

bool player_list_item_is_team(const dialog_data *dialog, int16_t item_id, int16_t index,
                              int32_t *team_captain_identifier)
{
    if (!is_player_list(dialog, item_id)) return false;
    const player_list_data *record = row_record(get_list_control_private_list(dialog, item_id), index);
    if (!record || !is_team_row(record)) return false;
    if (team_captain_identifier) *team_captain_identifier = record->player.team_captain_identifier;
    return true;
}

void player_list_show_ready_icons(dialog_data *dialog, int16_t item_id, bool show)
{
    if (!is_player_list(dialog, item_id)) return;
    private_list_data *list = get_list_control_private_list(dialog, item_id);
    const int16_t count = get_row_count_private_list(list);
    for (int16_t row = 0; row < count; ++row)
    {
        const player_list_data *record = row_record(list, row);
        if (!record) continue;
        player_list_data copy = *record;
        if (show) copy.flags &= (uint16_t)~_player_dont_show_ready_icon_flag;
        else copy.flags |= _player_dont_show_ready_icon_flag;
        bitmap_set_listbox_row_data(dialog, item_id, row, &copy, (int16_t)sizeof(copy));
    }
}

bool player_list_selection_is_locked(const dialog_data *dialog, int16_t item_id)
{
    if (!is_player_list(dialog, item_id)) return false;
    return bitmap_get_list_flag(dialog, item_id, _list_selection_locked_flag) != 0;
}

void clear_player_list(dialog_data *dialog, int16_t item_id)
{
    if (is_player_list(dialog, item_id)) bitmap_empty_list(dialog, item_id);
}

player_list_data *get_player_list_data_by_chat_appearance(const dialog_data *dialog, int16_t item_id,
                                                          const player_appearance_data *appearance,
                                                          player_list_data *buffer)
{
    if (!appearance || !buffer || !is_player_list(dialog, item_id)) return nullptr;
    const private_list_data *list = get_list_control_private_list(dialog, item_id);
    char wanted[PLAYER_NAME_SIZE + 1], name[PLAYER_NAME_SIZE + 1];
    copy_name(wanted, sizeof(wanted), appearance->name);
    const int16_t count = get_row_count_private_list(list);
    for (int16_t row = 0; row < count; ++row)
    {
        const player_list_data *record = row_record(list, row);
        if (!record) continue;
        const rgb_color &a = record->player.appearance.primary_color, &b = appearance->primary_color;
        if (a.red != b.red || a.green != b.green || a.blue != b.blue) continue;
        copy_name(name, sizeof(name), record->player.appearance.name);
        if (strcmp(name, wanted) != 0) continue;
        *buffer = *record;
        return buffer;
    }
    return nullptr;
}
