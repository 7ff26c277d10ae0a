// The game graphic: a game's preview picture and description.

#include "bitmap_dialogs/game_graphic_control.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "gameplay_versions.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "scoring.h"
#include "shapes.h"
#include "tag_files/plugins.h"
#include "vesk/string_lists.h"

enum
{
    TEXT_INSET = 15,
    TICKS_PER_MINUTE = 1800,
    DESCRIPTION_TICKS_PER_SECOND = 30,
    MAXIMUM_LISTED_MISSING_PLUGINS = 16,
};

static const rgb_color warning_color = {0xFFFF, 0, 0, 0};
static const rgb_color black_color = {0, 0, 0, 0};

static game_extra_data *game_graphic_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<game_extra_data>(dialog, item_id, game_graphic_control_handler, GAME_GRAPHIC_COOKIE,
                                               "not a game graphic");
}

static const char *game_option_string(int32_t row)
{
    return get_string_from_list(string_list_tag_to_string_index(INTERNAL_GAME_OPTIONS_STRING_LIST_TAG), row);
}

// The lists give a count's line in the plural ("Time limit: %d minutes"):
// for a count of one the word after the number loses its plural 's'.
static void make_singular_after_one(char *line)
{
    for (char *at = strstr(line, "1 "); at; at = strstr(at + 1, "1 "))
    {
        if (at > line && at[-1] >= '0' && at[-1] <= '9') continue;
        char *end = at + 2;
        while (*end && *end != ' ' && *end != '\r' && *end != '|') ++end;
        if (end - (at + 2) > 1 && end[-1] == 's') memmove(end - 1, end, strlen(end) + 1);
        return;
    }
}

// Appends one option line (and "\r") formatted from row `row`.
static void append_line(char *options, const char *expected, int32_t row, ...)
{
    const char *format = game_option_string(row);
    char line[GAME_DESCRIPTION_LINE_SIZE];
    va_list arguments;
    va_start(arguments, row);
    vformat_checked_line(line, (int32_t)sizeof(line), format, expected, arguments);
    va_end(arguments);
    slprintfcat(options, GAME_DESCRIPTION_TEXT_SIZE, "%s\r", line);
}

// The same for a line of one count.
static void append_count_line(char *options, int32_t row, int32_t count)
{
    char line[GAME_DESCRIPTION_LINE_SIZE];
    format_checked_line(line, (int32_t)sizeof(line), game_option_string(row), "d", count);
    if (count == 1) make_singular_after_one(line);
    slprintfcat(options, GAME_DESCRIPTION_TEXT_SIZE, "%s\r", line);
}

static void append_planning_time(char *options, int32_t ticks)
{
    if (ticks >= TICKS_PER_MINUTE)
    {
        const int32_t minutes = ticks / TICKS_PER_MINUTE;
        const int32_t seconds = (ticks % TICKS_PER_MINUTE) / DESCRIPTION_TICKS_PER_SECOND;
        const char *format = game_option_string(_game_options_planning_minutes);
        if (seconds != 0 && strncmp(format, "%d ", 3) == 0)
        {
            // The remainder is text here, never a format; still, a line whose
            // own conversions are wrong is shown as it stands.
            if (format_has_conversions(format, "d"))
                slprintfcat(options, GAME_DESCRIPTION_TEXT_SIZE, "%d:%2d%s\r", minutes, seconds, format + 2);
            else
                slprintfcat(options, GAME_DESCRIPTION_TEXT_SIZE, "%s\r", format);
        }
        else
            append_count_line(options, _game_options_planning_minutes, minutes);
    }
    else if (ticks >= 1)
        append_count_line(options, _game_options_planning_seconds, ticks / DESCRIPTION_TICKS_PER_SECOND);
}

static void assemble_options(const game_extra_data *data, char *options)
{
    const new_game_parameter_data &p = data->game.parameters;
    const uint32_t o = p.option_flags;
    const char *difficulty =
        get_string_from_list(string_list_tag_to_string_index(DIFFICULTY_LEVEL_STRING_LIST_TAG), p.difficulty_level);
    options[0] = 0;
    if (o & _game_option_cooperative_flag)
    {
        if (o & _game_option_allow_veterans_flag) append_line(options, "", _game_options_veterans);
        if ((o & _game_option_allow_multiplayer_teams_flag) && p.maximum_teams == NONE)
        {
            char teams[GAME_DESCRIPTION_LINE_SIZE];
            format_checked_line(teams, (int32_t)sizeof(teams), game_option_string(_game_options_teams), "");
            slprintfcat(options, GAME_DESCRIPTION_TEXT_SIZE, "%s |i(%s)|p\r", teams,
                        translate_string("random captain if none selected"));
        }
        if (o & _game_option_server_is_observer_flag) append_line(options, "", _game_options_server_is_observer);
        if (!(o & _game_option_allow_overhead_map_flag)) append_line(options, "", _game_options_no_overhead_map);
        if (p.difficulty_level != COOPERATIVE_DEFAULT_DIFFICULTY)
            append_line(options, "s", _game_options_difficulty, difficulty);
        return;
    }
    if (p.pregame_time_limit > 0 && (o & _game_option_allow_unit_trading_flag))
        append_line(options, "", _game_options_unit_trading);
    if (o & _game_option_allow_veterans_flag) append_line(options, "", _game_options_veterans);
    const bool teams = (o & _game_option_allow_multiplayer_teams_flag) != 0;
    if (teams && p.maximum_teams == NONE) append_line(options, "", _game_options_teams);
    if (!(o & _game_option_allow_alliances_flag)) append_line(options, "", _game_options_no_alliances);
    if (o & _game_option_server_is_observer_flag) append_line(options, "", _game_options_server_is_observer);
    if (!(o & _game_option_allow_overhead_map_flag)) append_line(options, "", _game_options_no_overhead_map);
    if (o & _game_option_deathmatch_flag) append_line(options, "", _game_options_deathmatch);
    if (teams && p.maximum_teams != NONE) append_count_line(options, _game_options_maximum_teams, p.maximum_teams);
    // No limit (0 or NONE) has no line rather than a line of zero minutes.
    if (p.time_limit > 0) append_count_line(options, _game_options_time_limit, p.time_limit / TICKS_PER_MINUTE);
    append_planning_time(options, p.pregame_time_limit);
    if (p.difficulty_level != COOPERATIVE_DEFAULT_DIFFICULTY)
        append_line(options, "s", _game_options_difficulty, difficulty);
    char line[GAME_DESCRIPTION_LINE_SIZE];
    if (enough_players_for_ranked_game())
    {
        format_checked_line(line, (int32_t)sizeof(line), game_option_string(_game_options_starting_locations), "d",
                            (int)data->maximum_teams);
        if (data->maximum_teams == 1) make_singular_after_one(line);
    }
    else
        format_checked_line(line, (int32_t)sizeof(line), game_option_string(_game_options_ranked_warning), "");
    slprintfcat(options, GAME_DESCRIPTION_TEXT_SIZE, "\r%s", line);
}

void assemble_game_description(const game_extra_data *data, game_description_text *text)
{
    memset(text, 0, sizeof(*text));
    if (!data) return;
    const new_game_parameter_data &p = data->game.parameters;

    if (data->is_replay)
    {
        const int32_t version = compute_gameplay_version(&p, -1);
        char number[16];
        strlcpy(number, gameplay_version_to_string(version), sizeof(number));
        // Two-part versions are shown with their patch number.
        if (strlen(number) == 3) slprintfcat(number, sizeof(number), ".0");
        slprintf(text->version, sizeof(text->version), "v%.5s", number);
    }

    char name[NET_GAME_NAME_SIZE + 1];
    strlcpy_field(name, sizeof(name), data->game.name, sizeof(data->game.name));
    char line[GAME_DESCRIPTION_LINE_SIZE];
    format_checked_line(line, (int32_t)sizeof(line), game_option_string(_game_options_game_line), "s", name);
    slprintf(text->game_line, sizeof(text->game_line), "%s\r", line);

    // A level its script decides is named as the game names it, never by a
    // scoring type that does not decide it.
    const char *scripted = scripted_game_scoring_words(p.scenario_tag, p.type, p.option_flags);
    if (scripted || p.scoring != SCORING_WITHOUT_TYPE_LINE)
    {
        const char *scoring =
            scripted ? scripted : get_string_from_list(string_list_tag_to_string_index(NET_GAME_SCORING_LIST), p.scoring);
        format_checked_line(line, (int32_t)sizeof(line), game_option_string(_game_options_type_line), "s", scoring);
        slprintf(text->type_line, sizeof(text->type_line), "%s\r", line);
    }

    char map[GAME_DESCRIPTION_LINE_SIZE];
    if (!get_mesh_display_name_in_plugin_list(p.scenario_tag, map, (int32_t)sizeof(map), p.plugin_data,
                                              (int32_t)sizeof(p.plugin_data)))
    {
        missing_plugin_info missing[MAXIMUM_LISTED_MISSING_PLUGINS];
        const int32_t missing_count = tag_file_plugins_decode_missing(p.plugin_data, (int32_t)sizeof(p.plugin_data),
                                                                      missing, MAXIMUM_LISTED_MISSING_PLUGINS);
        if (missing_count > 0)
        {
            slprintf(map, sizeof(map), "|b%s", translate_string("Warning: Plugin(s) Not Found"));
            text->map_line_is_warning = true;
        }
        else
        {
            strlcpy_field(map, sizeof(map), data->game.map_name, sizeof(data->game.map_name));
            if (!map[0])
            {
                strlcpy(map, translate_string("ERROR"), sizeof(map));
                text->map_line_is_warning = true;
            }
        }
    }
    format_checked_line(line, (int32_t)sizeof(line), game_option_string(_game_options_game_line), "s", map);
    if (p.option_flags & (1u << _game_option_uses_vux_bit))
        slprintf(text->map_line, sizeof(text->map_line), "|bVUX|i %s\r\r", line);
    else if (p.option_flags & (1u << _game_option_uses_anticlump_bit))
        slprintf(text->map_line, sizeof(text->map_line), "%s (%s)\r\r", line, translate_string("anti-clump"));
    else
        slprintf(text->map_line, sizeof(text->map_line), "%s\r\r", line);

    assemble_options(data, text->options);
}

static void draw_plugin_list(bitmap_data *destination, const rectangle2d *bounds, const game_extra_data *data)
{
    const new_game_parameter_data &p = data->game.parameters;
    if (p.plugin_count <= 0) return;
    int16_t indexes[16];
    int32_t count = 0;
    tag_file_plugins_decode(indexes, &count, p.plugin_data, nullptr, nullptr, 0);
    if (count <= 0) return;
    rectangle2d text_bounds = *bounds;
    inset_rectangle2d(&text_bounds, TEXT_INSET, TEXT_INSET);
    const int32_t font = get_interface_font_index(0);
    point2d origin = {0, 0};
    char heading[GAME_DESCRIPTION_LINE_SIZE];
    slprintf(heading, sizeof(heading), "%s\r\r", translate_string("Active Plugins:"));
    draw_string(destination, &origin, &text_bounds, bounds, font, _font_style_bold, &rgb_white, heading,
                _draw_string_shadow_flag | _draw_string_wrap_flag, 0);
    char list[GAME_DESCRIPTION_TEXT_SIZE] = "";
    for (int32_t i = 0; i < count && i < 16; ++i)
    {
        const plugin_datum *plugin = get_plugin_data(indexes[i]);
        if (!plugin || plugin->type != 1) continue;
        char name[TAG_NAME_SIZE + 1];
        strlcpy_field(name, sizeof(name), plugin->name, sizeof(plugin->name));
        const bool has_maps = plugin->solo_entry_point_count + plugin->multiplayer_entry_point_count > 0;
        slprintfcat(list, sizeof(list), "%s%s\r", has_maps ? "" : "\xC6 ", name);
    }
    draw_string(destination, &origin, &text_bounds, bounds, font, -1, &rgb_white, list,
                _draw_string_shadow_flag | _draw_string_wrap_flag, 0);
}

void draw_game_graphic(bitmap_data *destination, const rectangle2d *bounds, const game_extra_data *data)
{
    if (!destination || !bounds || !data) return;
    // Looked up, never loaded, here: what the item loads it also unloads.
    const int32_t collection =
        data->collection_tag != (file_tag)NONE ? find_loaded_collection_index(data->collection_tag) : NONE;
    if (collection != NONE &&
        get_sequence_bitmap(collection, _pregame_sequence_netgame_preview, 0, 0, nullptr, nullptr))
    {
        rectangle2d frame = *bounds;
        draw_bitmap_from_sequence(destination, collection, _pregame_sequence_netgame_preview, -1, 0, &frame, bounds,
                                  nullptr, 0, _transparency_normal, 0, 0);
    }
    else
        fill_rectangle_clipped(destination, &black_color, bounds, bounds, 32768, nullptr);

    if (data->show_plugins)
    {
        draw_plugin_list(destination, bounds, data);
        return;
    }
    game_description_text text;
    assemble_game_description(data, &text);
    const int32_t font = get_interface_font_index(0);
    if (text.version[0])
        draw_string(destination, nullptr, bounds, bounds, font, _font_style_bold, &warning_color, text.version,
                    _draw_string_right_justified_flag | _draw_string_shadow_flag, 0);
    rectangle2d text_bounds = *bounds;
    inset_rectangle2d(&text_bounds, TEXT_INSET, TEXT_INSET);
    const uint32_t flags = _draw_string_shadow_flag | _draw_string_wrap_flag;
    point2d origin = {0, 0};
    draw_string(destination, &origin, &text_bounds, bounds, font, _font_style_bold, &rgb_white, text.game_line,
                flags, 0);
    if (text.type_line[0])
        draw_string(destination, &origin, &text_bounds, bounds, font, -1, &rgb_white, text.type_line, flags, 0);
    draw_string(destination, &origin, &text_bounds, bounds, font, _font_style_italic,
                text.map_line_is_warning ? &warning_color : &rgb_white, text.map_line, flags, 0);
    draw_string(destination, &origin, &text_bounds, bounds, font, -1, &rgb_white, text.options, flags, 0);
}

// Loads the preview collection `collection_tag` for the item; false, with
// nothing left loaded by the item, when it has no preview picture.
static bool load_preview_collection(game_extra_data *data, tag collection_tag)
{
    // A map without a preview picture of its own (none named, or one not
    // installed) shows the solo picture: that is no error for the player.
    if (collection_tag == (tag)NONE) return false;
    const bool loaded_before = find_loaded_collection_index(collection_tag) != NONE;
    const int32_t collection = get_collection_index_if_present(collection_tag);
    if (collection == NONE) return false;
    if (!get_sequence_bitmap(collection, _pregame_sequence_netgame_preview, 0, 0, nullptr, nullptr))
    {
        if (!loaded_before) delete_collection(collection);
        return false;
    }
    data->collection_tag = collection_tag;
    data->collection_loaded_here = !loaded_before;
    return true;
}

static void unload_preview_collection(game_extra_data *data)
{
    if (data->collection_loaded_here && data->collection_tag != (file_tag)NONE)
        delete_collection_tag(data->collection_tag);
    data->collection_tag = (file_tag)NONE;
    data->collection_loaded_here = false;
}

intptr_t game_graphic_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        game_extra_data *data = new_control_record<game_extra_data>(GAME_GRAPHIC_COOKIE);
        if (!data) return 0;
        data->collection_tag = (file_tag)NONE;
        return (intptr_t)data;
    }
    case _control_new_completion_verb: return 0;
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        game_extra_data *data = p ? (game_extra_data *)p->data : nullptr;
        if (data && data->cookie == GAME_GRAPHIC_COOKIE) unload_preview_collection(data);
        free(data);
        return 0;
    }
    case _control_click_verb: return 0;
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap) return 0;
        const game_extra_data *data = (const game_extra_data *)item->extra_data;
        if (data && data->cookie == GAME_GRAPHIC_COOKIE) draw_game_graphic(p->dialog_bitmap, &item->bounds, data);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_game_control_description(dialog_data *dialog, int16_t item_id, const net_game_description *description)
{
    game_extra_data *data = game_graphic_record(dialog, item_id);
    if (!data || !description) return;
    data->game = *description;
    data->maximum_teams = 0;
    data->game.flags &= (uint16_t)~_net_game_in_progress_flag;
    unload_preview_collection(data);
    const new_game_parameter_data &p = data->game.parameters;
    // A list that does not decode leaves the store as it is; the player's own
    // choice returns at the next ordinary open.
    tag_file_plugins_open_encoded(p.plugin_data, true);
    mesh_header header;
    if (p.scenario_tag != (tag)NONE && read_mesh_header(p.scenario_tag, &header))
    {
        data->maximum_teams = header.team_count;
        // The scoring the game plays, not the one asked for (a preference the
        // map does not offer): the map start makes the same choice.
        data->game.parameters.scoring = scoring_played_on_map(p.scoring, header.flags);
        load_preview_collection(data, header.pregame_collection_tag);
    }
    // The built-in preview keeps its tag even when it cannot be shown: the
    // item then draws its black box.
    if (data->collection_tag == (file_tag)NONE && !load_preview_collection(data, INTERNAL_SOLO_PREGAME_COLLECTION))
        data->collection_tag = INTERNAL_SOLO_PREGAME_COLLECTION;
    set_dialog_item_dirty(dialog, item_id);
}

void set_game_graphic_is_replay(dialog_data *dialog, int16_t item_id, bool is_replay)
{
    game_extra_data *data = game_graphic_record(dialog, item_id);
    if (data) data->is_replay = is_replay;
}

void set_game_graphic_show_plugin_list(dialog_data *dialog, int16_t item_id, bool show)
{
    game_extra_data *data = game_graphic_record(dialog, item_id);
    if (data) data->show_plugins = show;
}
