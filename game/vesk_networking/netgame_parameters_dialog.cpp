// The host's game parameters dialog.  See netgame_parameters_dialog.h.

#include "netgame_parameters_dialog.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "lobby_procedures.h"
#include "new_game_dialog.h"
#include "shapes.h"
#include "vesk.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/vesk_network_interface.h"

const netgame_option_checkbox game_options[NUMBER_OF_NETGAME_OPTION_CHECKBOXES] = {
    {_ngp_teams_item, _game_option_allow_multiplayer_teams_flag},
    {_ngp_unit_trading_item, _game_option_allow_unit_trading_flag},
    {_ngp_veterans_item, _game_option_allow_veterans_flag},
    {_ngp_alliances_item, _game_option_allow_alliances_flag},
    {_ngp_overhead_map_item, _game_option_allow_overhead_map_flag},
    {_ngp_observer_item, _game_option_server_is_observer_flag},
    {_ngp_deathmatch_item, _game_option_deathmatch_flag},
    {_ngp_cutscenes_item, _game_option_netgame_cutscenes_flag},
};

// 15-second steps up to one minute, 30-second steps up to five, one-minute
// steps up to ten.
const double_arrow_delta planning_time_double_arrow_deltas[3] = {{1800, 450}, {9000, 900}, {18000, 1800}};
const double_arrow_delta time_limit_double_arrow_deltas[5] = {
    {18000, 1800}, {36000, 3600}, {162000, 9000}, {270000, 18000}, {810000, 90000}};

enum
{
    _scoring_ranked_excluded_bit = 20,
    _scoring_hill_bit = 9,
    _scoring_single_hill_bit = 14,
    _scoring_territories_bit = 7,
    _scoring_whole_map_bit = 15,
    OBSERVER_CHECKBOX_BUTTON_FLAGS =
        _button_control_draw_side_by_side_flag | _button_control_stays_checked_when_disabled_flag,
    LABEL_DIALOG_COLOR = 2,
};

static struct netgame_parameters_globals
{
    // The working copy the controls edit (the engine edits its parameters in
    // place), the caller's description as it came, and the preview.
    net_game_description working, backup, preview;
    ngd_data ngd;
    bool ranked;
} ngp_globals;

// ---- the rules ------------------------------------------------------------------

uint32_t netgame_scoring_mask(uint32_t entry_point_flags, bool ranked)
{
    uint32_t mask = entry_point_flags;
    if (ranked) mask &= ~(1u << _scoring_ranked_excluded_bit);
    if (mask & (1u << _scoring_hill_bit)) mask |= 1u << _scoring_single_hill_bit;
    if (mask & (1u << _scoring_territories_bit)) mask |= 1u << _scoring_whole_map_bit;
    return mask;
}

static const full_entry_point *selected_map(dialog_data *dialog)
{
    const full_entry_point *entry = nullptr;
    if (!get_entry_point_list_item_data(dialog, _ngp_map_list_item, -1, &entry)) return nullptr;
    return entry;
}

static bool map_supports(dialog_data *dialog, int32_t bit)
{
    const full_entry_point *entry = selected_map(dialog);
    return entry && (entry->mesh_flags & (1u << bit));
}

// Unit trading happens during planning, on maps made for it.
static bool unit_trading_possible(dialog_data *dialog)
{
    return !(ngp_globals.working.parameters.option_flags & _game_option_cooperative_flag) &&
           get_checkbox_state(dialog, _ngp_planning_checkbox_item) &&
           map_supports(dialog, _mesh_supports_unit_trading_bit);
}

static void enable_team_limit(dialog_data *dialog)
{
    bitmap_set_item_enabled(dialog, _ngp_team_limit_item,
                            get_checkbox_state(dialog, _ngp_team_limit_checkbox_item) &&
                                get_checkbox_state(dialog, _ngp_teams_item));
}

void sync_dialog_with_cooperative_checkbox(dialog_data *dialog, net_game_description *description)
{
    const bool cooperative = (description->parameters.option_flags & _game_option_cooperative_flag) != 0;
    bitmap_set_item_visible(dialog, _ngp_scoring_label_item, !cooperative);
    bitmap_set_item_visible(dialog, _ngp_scoring_list_item, !cooperative);
    bitmap_set_item_visible(dialog, _ngp_cutscenes_item, cooperative);
    if (!cooperative)
    {
        for (int16_t item : {_ngp_players_label_item, _ngp_time_limit_item, _ngp_alliances_item,
                             _ngp_planning_checkbox_item, _ngp_teams_item, _ngp_deathmatch_item})
            bitmap_set_item_enabled(dialog, item, true);
        bitmap_set_item_enabled(dialog, _ngp_planning_time_item,
                                get_checkbox_state(dialog, _ngp_planning_checkbox_item));
        bitmap_set_item_enabled(dialog, _ngp_unit_trading_item, unit_trading_possible(dialog));
        bitmap_set_item_enabled(dialog, _ngp_team_limit_checkbox_item, get_checkbox_state(dialog, _ngp_teams_item));
        enable_team_limit(dialog);
        return;
    }
    for (int16_t item : {_ngp_players_label_item, _ngp_time_limit_item, _ngp_alliances_item, _ngp_unit_trading_item,
                         _ngp_planning_checkbox_item, _ngp_planning_time_item, _ngp_team_limit_checkbox_item,
                         _ngp_team_limit_item, _ngp_deathmatch_item})
        bitmap_set_item_enabled(dialog, item, false);
    bitmap_set_item_enabled(dialog, _ngp_teams_item, true);
    description->parameters.option_flags &= ~(uint32_t)_game_option_deathmatch_flag;
}

// The scoring rows the selected map offers, keeping the selection when it
// is still offered.
static void fill_scoring_list(dialog_data *dialog, int32_t wanted)
{
    const full_entry_point *entry = selected_map(dialog);
    const int32_t kept = get_string_list_selected_identifier(dialog, _ngp_scoring_list_item);
    bitmap_empty_list(dialog, _ngp_scoring_list_item);
    append_strings_to_list_with_mask(dialog, _ngp_scoring_list_item, NET_GAME_SCORING_LIST,
                                     netgame_scoring_mask(entry ? entry->mesh_flags : 0, ngp_globals.ranked), false);
    if (!select_string_list_by_identifier(dialog, _ngp_scoring_list_item, wanted != NONE ? wanted : kept))
        select_string_list_first_enabled_item(dialog, _ngp_scoring_list_item);
}

int16_t netgame_players_on_map(uint32_t option_flags, int16_t team_count)
{
    if (team_count <= 0 || (option_flags & (_game_option_cooperative_flag | _game_option_allow_multiplayer_teams_flag)))
        return NETGAME_MAXIMUM_PLAYERS;
    return team_count < NETGAME_MAXIMUM_PLAYERS ? team_count : (int16_t)NETGAME_MAXIMUM_PLAYERS;
}

void setup_dialog_for_current_map(dialog_data *dialog)
{
    fill_scoring_list(dialog, NONE);
    bitmap_set_item_enabled(dialog, _ngp_unit_trading_item, unit_trading_possible(dialog));
    bitmap_set_item_enabled(dialog, _ngp_veterans_item, map_supports(dialog, _mesh_supports_veterans_bit));
    const full_entry_point *entry = selected_map(dialog);
    mesh_header header;
    int32_t teams = 0;
    if (entry && read_mesh_header(entry->subgroup_tag, &header)) teams = header.team_count;
    set_double_arrow_control_value(dialog, _ngp_team_limit_item, 2, teams, -1);
    // The players the map takes, as the lobby lists them: no more offered.
    const uint32_t flags = (get_checkbox_state(dialog, _ngp_cooperative_item) ? _game_option_cooperative_flag : 0u) |
                           (get_checkbox_state(dialog, _ngp_teams_item) ? _game_option_allow_multiplayer_teams_flag : 0u);
    set_double_arrow_control_value(dialog, _ngp_maximum_players_item, -1, netgame_players_on_map(flags, (int16_t)teams),
                                   -1);
}

void rebuild_game_description(ngd_data *ngd, net_game_description *description, net_game_description *preview)
{
    dialog_data *dialog = ngd->dialog;
    char name[NET_GAME_NAME_SIZE] = {}, password[NET_GAME_PASSWORD_SIZE] = {};
    get_bitmap_dialog_edit_item_text(dialog, _ngp_name_item, name, sizeof(name));
    get_bitmap_dialog_edit_item_text(dialog, _ngp_password_item, password, sizeof(password));

    new_game_parameter_data *p = &description->parameters;
    for (const netgame_option_checkbox &option : game_options)
    {
        if (get_checkbox_state(dialog, option.item)) p->option_flags |= option.flag;
        else p->option_flags &= ~option.flag;
    }
    if (!bitmap_get_item_enabled(dialog, _ngp_unit_trading_item))
        p->option_flags &= ~(uint32_t)_game_option_allow_unit_trading_flag;
    // (A map without veterans leaves the flag as the game had it: the box,
    // disabled, still shows it, and OK without a change changes nothing.)
    if (!bitmap_get_item_enabled(dialog, _ngp_deathmatch_item))
        p->option_flags &= ~(uint32_t)_game_option_deathmatch_flag;

    p->maximum_teams = get_checkbox_state(dialog, _ngp_teams_item) &&
                               get_checkbox_state(dialog, _ngp_team_limit_checkbox_item)
                           ? (int16_t)get_double_arrow_control_value(dialog, _ngp_team_limit_item)
                           : (int16_t)NONE;
    p->maximum_players = (int16_t)get_double_arrow_control_value(dialog, _ngp_maximum_players_item);
    if (const full_entry_point *entry = selected_map(dialog)) p->scenario_tag = entry->subgroup_tag;
    if (!(p->option_flags & _game_option_cooperative_flag))
    {
        const int32_t scoring = get_string_list_selected_identifier(dialog, _ngp_scoring_list_item);
        if (scoring != NONE) p->scoring = (int16_t)scoring;
        // The control's 0 is "no limit": a game that had none (0 or NONE)
        // keeps its own way of saying so.
        const int32_t time_limit = get_double_arrow_control_value(dialog, _ngp_time_limit_item);
        if (time_limit > 0 || p->time_limit > 0) p->time_limit = time_limit > 0 ? time_limit : NONE;
        p->pregame_time_limit = get_checkbox_state(dialog, _ngp_planning_checkbox_item)
                                    ? get_double_arrow_control_value(dialog, _ngp_planning_time_item)
                                    : 0;
    }
    else
    {
        p->scoring = _game_scoring_custom;
        p->time_limit = NONE;
        p->pregame_time_limit = 0;
    }

    // The description is built afresh around the parameters, which the
    // engine keeps editing where they are.
    const new_game_parameter_data parameters = *p;
    const uint16_t port = description->port, flags = description->flags;
    const uint8_t player_count = description->player_count;
    build_net_game_description(description, name, password, &parameters, port, flags, player_count);

    *preview = *description;
    new_game_parameter_data built;
    if (ngd_build_game(ngd, &built, get_minimum_gameplay_version_for_game_settings(p), false))
    {
        build_net_game_description(preview, name, password, &built, port, flags, player_count);
    }
    set_game_control_description(dialog, _ngp_preview_item, preview);
}

// ---- the dialog -------------------------------------------------------------------

static dialog_data *open_parameters_dialog(void)
{
    static const dialog_item_requirement items[] = {
        {_ngp_accept_item, BUTTON_CONTROL_TAG},
        {_ngp_cancel_item, BUTTON_CONTROL_TAG},
        {_ngp_cooperative_item, CHECKBOX_CONTROL_TAG},
        {_ngp_map_list_item, ENTRY_POINT_LIST_CONTROL_TAG},
        {_ngp_preview_item, GAME_GRAPHIC_CONTROL_TAG},
        {_ngp_scoring_list_item, STRING_LIST_CONTROL_TAG},
        {_ngp_name_item, EDITTEXT_CONTROL_TAG},
        {_ngp_maximum_players_item, DOUBLE_ARROW_CONTROL_TAG},
        {_ngp_time_limit_item, DOUBLE_ARROW_CONTROL_TAG},
        {_ngp_planning_checkbox_item, CHECKBOX_CONTROL_TAG},
        {_ngp_planning_time_item, DOUBLE_ARROW_CONTROL_TAG},
        {_ngp_unit_trading_item, CHECKBOX_CONTROL_TAG},
        {_ngp_observer_item, CHECKBOX_CONTROL_TAG},
        {_ngp_overhead_map_item, CHECKBOX_CONTROL_TAG},
        {_ngp_veterans_item, CHECKBOX_CONTROL_TAG},
        {_ngp_alliances_item, CHECKBOX_CONTROL_TAG},
        {_ngp_teams_item, CHECKBOX_CONTROL_TAG},
        {_ngp_team_limit_checkbox_item, CHECKBOX_CONTROL_TAG},
        {_ngp_team_limit_item, DOUBLE_ARROW_CONTROL_TAG},
        {_ngp_deathmatch_item, CHECKBOX_CONTROL_TAG},
        {_ngp_cutscenes_item, CHECKBOX_CONTROL_TAG},
    };
    return open_dialog_with_items(NETGAME_PARAMETERS_DIALOG_TAG, _dialog_is_centered_flag, items,
                                  (int32_t)(sizeof(items) / sizeof(items[0])),
                                  NETGAME_PARAMETERS_BACKGROUND_COLLECTION_TAG);
}

// The time limit's spinner: "No Limit" for its 0, else minutes and seconds.
static void time_limit_format(char *buffer, int32_t ticks)
{
    if (ticks <= NETGAME_NO_TIME_LIMIT && buffer)
        snprintf(buffer, DOUBLE_ARROW_FORMAT_BUFFER_SIZE, "No Limit");
    else
        double_arrow_time_format(buffer, ticks);
}

static void set_up_limits(dialog_data *dialog, const new_game_parameter_data *p, bool ranked)
{
    set_checkbox_state(dialog, _ngp_planning_checkbox_item, p->pregame_time_limit != 0);
    set_double_arrow_control_delta(dialog, _ngp_planning_time_item, 3, planning_time_double_arrow_deltas);
    set_double_arrow_control_format_proc(dialog, _ngp_planning_time_item, double_arrow_time_format);
    set_double_arrow_control_value(dialog, _ngp_planning_time_item, NETGAME_MINIMUM_PLANNING_TIME,
                                   NETGAME_MAXIMUM_PLANNING_TIME, p->pregame_time_limit);

    // A stored limit outside what the control offers is brought into it; no
    // limit (0 or NONE) is the control's first choice outside a ranked room,
    // where a game has one.
    const int32_t minimum = ranked ? NETGAME_MINIMUM_RANKED_TIME_LIMIT : NETGAME_NO_TIME_LIMIT;
    set_double_arrow_control_delta(dialog, _ngp_time_limit_item, 5, time_limit_double_arrow_deltas);
    set_double_arrow_control_format_proc(dialog, _ngp_time_limit_item, time_limit_format);
    int32_t time_limit = p->time_limit;
    if (time_limit <= 0) time_limit = NETGAME_NO_TIME_LIMIT;
    else if (time_limit < NETGAME_MINIMUM_TIME_LIMIT) time_limit = NETGAME_MINIMUM_TIME_LIMIT;
    if (time_limit < minimum) time_limit = minimum;
    if (time_limit > DOUBLE_ARROW_MAXIMUM_TIME) time_limit = DOUBLE_ARROW_MAXIMUM_TIME;
    set_double_arrow_control_value(dialog, _ngp_time_limit_item, minimum, DOUBLE_ARROW_MAXIMUM_TIME, time_limit);

    set_double_arrow_control_value(dialog, _ngp_maximum_players_item, 1, NETGAME_MAXIMUM_PLAYERS, p->maximum_players);
    set_checkbox_state(dialog, _ngp_team_limit_checkbox_item, p->maximum_teams != NONE);
    if (p->maximum_teams != NONE)
        set_double_arrow_control_value(dialog, _ngp_team_limit_item, 2, NETGAME_MAXIMUM_TEAMS, p->maximum_teams);
}

// Accept: the game is built from the dialog (false, the dialog staying open,
// when it cannot be), handed back in `description` and kept in the
// preferences when they were the dialog's source.
static bool accept_parameters(dialog_data *dialog, net_game_description *description, bool use_prefs,
                              game_preferences *preferences, new_game_parameter_data *p)
{
    netgame_parameters_globals &g = ngp_globals;
    int16_t players = (int16_t)get_double_arrow_control_value(dialog, _ngp_maximum_players_item);
    if (players < 2) players = 2;
    if (players > NETGAME_MAXIMUM_PLAYERS) players = NETGAME_MAXIMUM_PLAYERS;
    set_double_arrow_control_value(dialog, _ngp_maximum_players_item, -1, -1, players);
    new_game_parameter_data built;
    if (!ngd_build_game(&g.ngd, &built, get_minimum_gameplay_version_for_game_settings(p), true)) return false;
    rebuild_game_description(&g.ngd, &g.working, &g.preview);
    const uint32_t continuation = g.backup.parameters.option_flags & _game_option_continuation_flag;
    *description = g.preview;
    description->parameters.option_flags |= _game_option_limited_visibility_flag;
    description->parameters.option_flags =
        (description->parameters.option_flags & ~(uint32_t)_game_option_continuation_flag) | continuation;
    if (use_prefs)
    {
        preferences->multi_new_game_params = *p;
        preferences->chosen_multi_mapset_checksum = g.ngd.chosen_mapset_checksum;
        preferences->multi_gameplay_selector_value = g.ngd.gameplay_selector_value;
        write_game_preferences();
    }
    else
    {
        description->host_or_selector.fresh.mapset_checksum = g.ngd.chosen_mapset_checksum;
        description->host_or_selector.fresh.gameplay_selector_value =
            (uint32_t)(int32_t)g.ngd.gameplay_selector_value;
    }
    ngd_dispose(&g.ngd);
    return true;
}

// The name and password boxes, the lists' looks and the labels' colour.
static void set_up_parameter_items(dialog_data *dialog, const net_game_description *working)
{
    set_bitmap_dialog_edit_item_maximum_length(dialog, _ngp_name_item, NETGAME_NAME_MAXIMUM_LENGTH);
    set_bitmap_dialog_edit_item_text(dialog, _ngp_name_item, working->name);
    select_bitmap_dialog_edit_item_text(dialog, _ngp_name_item, 0, (int32_t)strlen(working->name));
    set_bitmap_dialog_edit_item_maximum_length(dialog, _ngp_password_item, NETGAME_NAME_MAXIMUM_LENGTH);
    set_bitmap_dialog_edit_item_text(dialog, _ngp_password_item, working->password);
    bitmap_set_list_flag(dialog, _ngp_map_list_item, _list_has_shaded_background_flag, true);
    bitmap_set_list_flag(dialog, _ngp_scoring_list_item, _list_cant_lose_selection_flag, true);
    bitmap_set_list_flag(dialog, _ngp_scoring_list_item, _list_has_shaded_background_flag, true);
    bitmap_set_list_sort_proc(dialog, _ngp_scoring_list_item, string_list_sort_proc);
    rgb_color label_color;
    for (int16_t label : {_ngp_time_limit_label_item, _ngp_players_label_item})
        if (get_bitmap_item_tag(dialog, label) == STATIC_TEXT_CONTROL_TAG)
            set_dialog_static_item_text_appearance(dialog, label, -1, -1, get_dialog_color(&label_color, LABEL_DIALOG_COLOR),
                                                   0xFFFFFFFFu);
}

static bool run_parameters_dialog(net_game_description *description, int16_t called_from, bool use_prefs,
                                  bool autohosting)
{
    if (!description) return false;
    netgame_parameters_globals &g = ngp_globals;
    game_preferences *preferences = get_game_preferences();
    g.working = g.backup = *description;
    uint32_t mapset_checksum = description->host_or_selector.fresh.mapset_checksum;
    // A fresh description holds 0x7FFFFFFF: the default selector, -1.
    int16_t gameplay_selector = (int16_t)description->host_or_selector.fresh.gameplay_selector_value;
    if (use_prefs)
    {
        g.working.parameters = preferences->multi_new_game_params;
        mapset_checksum = preferences->chosen_multi_mapset_checksum;
        gameplay_selector = (int16_t)preferences->multi_gameplay_selector_value;
    }
    // Names read from outside may lack their terminator.
    g.working.name[NET_GAME_NAME_SIZE - 1] = 0;
    g.working.password[NET_GAME_PASSWORD_SIZE - 1] = 0;
    new_game_parameter_data *p = &g.working.parameters;
    p->type = _game_type_networked;
    g.working.game_id = (uint32_t)NONE;
    if (p->maximum_players < 2) p->maximum_players = 2;
    g.ranked = lobby_room_is_ranked();

    dialog_data *dialog = open_parameters_dialog();
    if (!dialog) return false;
    set_up_parameter_items(dialog, &g.working);

    if (autohosting)
    {
        p->option_flags |= _game_option_server_is_observer_flag;
        set_button_control_flags(dialog, _ngp_observer_item, OBSERVER_CHECKBOX_BUTTON_FLAGS);
        bitmap_set_item_enabled(dialog, _ngp_observer_item, false);
    }
    const bool network_only = (get_main_global_flags() & _network_game_only_flag) != 0;
    const bool no_cooperative = g.ranked || network_only;
    if (no_cooperative)
        p->option_flags &= ~(uint32_t)(_game_option_cooperative_flag | _game_option_deathmatch_flag);
    bitmap_set_item_visible(dialog, _ngp_cooperative_item, !no_cooperative);
    bitmap_set_item_visible(dialog, _ngp_deathmatch_item, !no_cooperative);

    static const ngd_items network_items = {
        _ngp_cooperative_item,       _ngp_map_list_item,      _ngp_mapset_label_item,
        _ngp_mapset_list_item,       _ngp_mapset_filter_item, _ngp_tagset_list_item,
        _ngp_tagset_button_item,     _ngp_plugin_icon_item,   _ngp_plugin_banner_item,
        _ngp_difficulty_list_item,   _ngp_difficulty_selector_item, _ngp_difficulty_explanation_item,
        _ngp_anticlump_item,         _ngp_vvux_item,          _ngp_gameplay_version_item,
    };
    ngd_init(&g.ngd, dialog, p, true, mapset_checksum, gameplay_selector, &network_items);

    set_up_limits(dialog, p, g.ranked);
    fill_scoring_list(dialog, p->scoring);
    for (const netgame_option_checkbox &option : game_options)
        set_checkbox_state(dialog, option.item, (p->option_flags & option.flag) != 0);
    sync_dialog_with_cooperative_checkbox(dialog, &g.working);
    setup_dialog_for_current_map(dialog);
    set_dialog_focus(dialog, _ngp_map_list_item);
    set_default_dialog_item(dialog, _ngp_accept_item);
    set_dialog_cancel_item(dialog, _ngp_cancel_item);
    bitmap_set_item_enabled(dialog, _ngp_accept_item, valid_netgame_name(g.working.name));
    rebuild_game_description(&g.ngd, &g.working, &g.preview);

    for (;;)
    {
        // A tool's scripted host presses here, as in the other networking dialogs.
        int16_t item = network_dialog_script_item(dialog);
        if (item == NONE) item = ngd_itemhit(&g.ngd, called_from);
        if (item == NONE || item == _ngp_cancel_item) break;
        switch (item)
        {
        case _ngp_accept_item:
            if (accept_parameters(dialog, description, use_prefs, preferences, p)) return true;
            break;
        case _ngp_cooperative_item:
            setup_dialog_for_current_map(dialog);
            rebuild_game_description(&g.ngd, &g.working, &g.preview);
            sync_dialog_with_cooperative_checkbox(dialog, &g.working);
            break;
        case _ngp_map_list_item:
        case _ngp_tagset_button_item:
        case _ngp_mapset_list_item:
            setup_dialog_for_current_map(dialog);
            break;
        case _ngp_name_item:
        {
            char name[NET_GAME_NAME_SIZE] = {};
            get_bitmap_dialog_edit_item_text(dialog, _ngp_name_item, name, sizeof(name));
            bitmap_set_item_enabled(dialog, _ngp_accept_item, valid_netgame_name(name));
            break;
        }
        case _ngp_planning_checkbox_item:
            setup_dialog_for_current_map(dialog);
            bitmap_set_item_enabled(dialog, _ngp_planning_time_item,
                                    get_checkbox_state(dialog, _ngp_planning_checkbox_item));
            break;
        case _ngp_teams_item:
            setup_dialog_for_current_map(dialog);
            if (p->option_flags & _game_option_cooperative_flag) break;
            bitmap_set_item_enabled(dialog, _ngp_team_limit_checkbox_item, get_checkbox_state(dialog, _ngp_teams_item));
            enable_team_limit(dialog);
            break;
        case _ngp_team_limit_checkbox_item:
            enable_team_limit(dialog);
            break;
        default:
            break;
        }
        rebuild_game_description(&g.ngd, &g.working, &g.preview);
    }

    *description = g.backup;
    ngd_delete_interface_tags(&g.ngd);
    set_game_control_description(dialog, _ngp_preview_item, description);
    ngd_dispose(&g.ngd);
    return false;
}

bool netgame_parameters_dialog(net_game_description *description, int16_t called_from, bool continuation,
                               bool use_prefs)
{
    (void)continuation;
    return run_parameters_dialog(description, called_from, use_prefs, false);
}

bool autohost_entry_parameters_dialog(net_game_description *description, int16_t called_from)
{
    return run_parameters_dialog(description, called_from, false, true);
}
