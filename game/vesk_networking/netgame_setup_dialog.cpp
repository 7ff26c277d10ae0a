// The network game's set-up dialog.  See netgame_setup_dialog.h.

#include "vesk_networking/netgame_setup_dialog.h"

#include <cstdio>
#include <cstring>

#include "vesk_networking/autohost_preferences.h"
#include "vesk_networking/netgame_autohost_dialog.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_states.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "game_preferences.h"
#include "gameplay_plugins.h"
#include "input/keyboard.h"
#include "main_menu.h"
#include "lobby_procedures.h"
#include "scoring.h"
#include "mesh_format.h"
#include "mesh.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "uber/uber.h"
#include "vesk_networking/netgame_parameters_dialog.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_game_entry.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_teams.h"

enum
{
    PERSISTENT_READY_KEY = 57, // held while pressing ready: the other kind of ready mark
    SHORTCUT_MODIFIERS = 40,
    SETTINGS_SHORTCUT_KEY = 79,
    START_SHORTCUT_KEY = 78,
    CLOSE_SHORTCUT_KEY = 87,
    CHAT_ENTRY_EDIT_FLAGS_ON = 16,
    CHAT_ENTRY_EDIT_FLAGS_OFF = 32,
    CHAT_ENTRY_TEXT_FORMAT = 64,
    TEAM_BUTTON_SHAPE = 20, // of the dialog elements 'baie'
    TABS_WIDTH = 130,
    TABS_HEIGHT = 22,
    TABS_LEFT_INSET = 2,
    PLUGINS_TAB = 1,
    HIDDEN_ITEM = 7,
};

#define DIALOG_ELEMENTS_COLLECTION_TAG FOUR_CHARACTER_CODE('b', 'a', 'i', 'e')

static const char AUTOHOST_WELCOME[] = "Game will start when at least 50% of the players are ready. (Min: 2)";
static const char START_ABORTED[] = "Game start aborted.";

static struct
{
    dialog_data *dialog;
    int32_t previous_player_selection; // the selected player's id; NONE when none
    uint32_t game_start_time;          // machine milliseconds: the automatic host's waits start here
    bool change_settings;
    bool autohost_on;
    autohost_countdown countdown;
    netgame_setup_script_procedure script;
    void *script_context;
    bool left_by_network; // the last item was the network's Leave
} setup_dialog_globals = {nullptr, NONE, 0, false, false, {}, nullptr, nullptr, false};

void set_netgame_autohost(bool on) { setup_dialog_globals.autohost_on = on; }
bool netgame_autohost_is_on(void) { return setup_dialog_globals.autohost_on; }
void request_next_autohosted_game(void) { setup_dialog_globals.change_settings = true; }
bool next_autohosted_game_requested(void) { return setup_dialog_globals.change_settings; }
void remember_netgame_player_selection(int32_t player_id) { setup_dialog_globals.previous_player_selection = player_id; }
dialog_data *get_netgame_setup_dialog(void) { return setup_dialog_globals.dialog; }

void set_netgame_setup_script(netgame_setup_script_procedure procedure, void *context)
{
    setup_dialog_globals.script = procedure;
    setup_dialog_globals.script_context = context;
}

// ---- small helpers ------------------------------------------------------------------

static bool hosting(void) { return local_player_is_network_originator(); }

static void set_title(dialog_data *dialog, int16_t item, int16_t string_index, const char *fallback)
{
    if (!dialog_has_item(dialog, item)) return;
    const char *title = get_networking_string(string_index);
    set_button_control_name(dialog, item, *title ? title : fallback);
}

static void show_notice(dialog_data *dialog, const char *text)
{
    if (dialog_has_item(dialog, _netgame_setup_chat_log_item))
        add_chat_text_full(dialog, _netgame_setup_chat_log_item, _motd_chat_message_type, nullptr, nullptr, text, true);
}

// The selected row's player id, NONE for none or a team row.
static int32_t selected_player(dialog_data *dialog)
{
    const int16_t row = bitmap_get_listbox_value(dialog, _netgame_setup_player_list_item);
    if (row < 0 || player_list_item_is_team(dialog, _netgame_setup_player_list_item, row, nullptr)) return NONE;
    return (int32_t)get_selected_player_user_id(dialog, _netgame_setup_player_list_item);
}

static const new_player_data *player_with_id(int32_t id)
{
    const int16_t index = id == NONE ? (int16_t)NONE : find_net_player_index(id);
    return index >= 0 ? get_net_player(index) : nullptr;
}

static int16_t team_size(int32_t captain)
{
    int16_t members = 0;
    for (int16_t i = 0; i < get_net_player_count(); ++i)
        if (get_net_player(i)->team_captain_identifier == captain) ++members;
    return members;
}

// The host keeps its game's entry in the lobby current (the lobby's events
// reach the set-up through the lobby's handler, which asks it first).
static void keep_lobby_listing_in_step(void)
{
    if (lobby_connected() && hosting()) lobby_synchronize_game_description();
}

// ---- the items' states ------------------------------------------------------------------

static void enable_start_item(dialog_data *dialog)
{
    bitmap_set_item_enabled(dialog, _netgame_setup_start_item, hosting() && enough_players_agree_to_start_game());
}

static void enable_player_buttons(dialog_data *dialog)
{
    const int32_t selected = selected_player(dialog);
    const int32_t local = get_local_player_id();
    bitmap_set_item_enabled(dialog, _netgame_setup_boot_item, hosting() && selected != NONE && selected != local);
    const new_player_data *player = player_with_id(selected);
    bitmap_set_item_enabled(dialog, _netgame_setup_remove_from_team_item,
                            player && selected != local && player->team_captain_identifier == local);
}

static void set_close_title(dialog_data *dialog)
{
    const bool closed = get_vesk_net_globals()->game_closed;
    set_title(dialog, _netgame_setup_close_item,
              closed ? _netgame_setup_string_open_game : _netgame_setup_string_close_game,
              closed ? "Open Game" : "Close Game");
}

// Run every pass: the items that follow the players and the description.
static void refresh_items(dialog_data *dialog, bool continuation, bool first_pass)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    enable_teams_button_if_appropriate(dialog);
    new_player_data local;
    const bool listed = find_net_player_index(get_local_player_id()) >= 0 && get_local_player(&local);
    const bool captain = listed && local.team_captain_identifier == local.unique_identifier;
    const bool locked = listed && local.team_is_locked;
    set_title(dialog, _netgame_setup_lock_item,
              locked ? _netgame_setup_string_unlock_team : _netgame_setup_string_lock_team,
              locked ? "Unlock Team" : "Lock Team");
    bitmap_set_item_enabled(dialog, _netgame_setup_lock_item, captain);
    if (hosting() && globals->originator_game_description && !continuation &&
        (globals->originator_game_description->parameters.option_flags & _game_option_continuation_flag))
    {
        change_net_host_game_option_flags(0, _game_option_continuation_flag);
        synchronize_game_description();
    }
    const bool ready = listed && local.agreed_to_play;
    set_title(dialog, _netgame_setup_ready_item, ready ? _netgame_setup_string_not_ready : _netgame_setup_string_ready,
              ready ? "Not Ready" : "Ready");
    if (first_pass && hosting() && listed && globals->originator_game_description)
    {
        const bool observes =
            globals->originator_game_description->parameters.option_flags & _game_option_server_is_observer_flag;
        if (((local.flags & _player_is_observer_flag) != 0) != observes)
        {
            local.flags = (int16_t)(observes ? local.flags | _player_is_observer_flag
                                             : local.flags & ~_player_is_observer_flag);
            update_player_data(&local);
        }
    }
}

// The tabs "Game" and "Plugins" above the description, made here because
// they are placed against it; hidden where they would cover a button.
static void make_tabs(dialog_data *dialog)
{
    if (!dialog_has_item(dialog, _netgame_setup_game_item)) return;
    rectangle2d game;
    get_dialog_item_bounds(dialog, _netgame_setup_game_item, &game);
    rectangle2d bounds;
    bounds.left = (int16_t)(game.left + TABS_LEFT_INSET);
    bounds.right = (int16_t)(bounds.left + TABS_WIDTH);
    bounds.bottom = game.top;
    bounds.top = (int16_t)(game.top - TABS_HEIGHT);
    if (!new_unpressed_control(dialog, TABBED_BUTTON_CONTROL_TAG, _netgame_setup_tabs_item, &bounds, nullptr)) return;
    set_number_of_tabs(dialog, _netgame_setup_tabs_item, 2);
    set_tab_name(dialog, _netgame_setup_tabs_item, 0, "Game");
    set_tab_name(dialog, _netgame_setup_tabs_item, PLUGINS_TAB, "Plugins");
    set_selected_tab(dialog, _netgame_setup_tabs_item, 0);
    set_tab_enabled(dialog, _netgame_setup_tabs_item, PLUGINS_TAB,
                    get_vesk_net_globals()->current_game_description.parameters.plugin_count > 0);
    static const int16_t buttons[] = {_netgame_setup_start_item, _netgame_setup_teams_item, _netgame_setup_boot_item,
                                      _netgame_setup_close_item};
    for (int16_t button : buttons)
    {
        if (!dialog_has_item(dialog, button) || !bitmap_get_item_visible(dialog, button)) continue;
        rectangle2d other;
        get_dialog_item_bounds(dialog, button, &other);
        if (other.left < bounds.right && bounds.left < other.right && other.top < bounds.bottom &&
            bounds.top < other.bottom)
            bitmap_set_item_visible(dialog, _netgame_setup_tabs_item, false);
    }
}

static void set_up_items(dialog_data *dialog)
{
    const bool host = hosting();
    const bool autohost = setup_dialog_globals.autohost_on;
    const int32_t elements = get_collection_index(DIALOG_ELEMENTS_COLLECTION_TAG);
    static const int16_t shaped[] = {_netgame_setup_teams_item, _netgame_setup_remove_from_team_item,
                                     _netgame_setup_lock_item, _netgame_setup_ready_item};
    for (int16_t item : shaped)
        if (elements != NONE && dialog_has_item(dialog, item))
            set_button_control_shape(dialog, item, (int16_t)elements, TEAM_BUTTON_SHAPE);
    set_dialog_item_keyboard_equivalent(dialog, _netgame_setup_settings_item, SETTINGS_SHORTCUT_KEY, SHORTCUT_MODIFIERS);
    set_dialog_item_keyboard_equivalent(dialog, _netgame_setup_start_item, START_SHORTCUT_KEY, SHORTCUT_MODIFIERS);
    set_dialog_item_keyboard_equivalent(dialog, _netgame_setup_close_item, CLOSE_SHORTCUT_KEY, SHORTCUT_MODIFIERS);
    set_dialog_cancel_item(dialog, _netgame_setup_leave_item);

    if (dialog_has_item(dialog, _netgame_setup_chat_entry_item))
    {
        set_edit_text_flag(dialog, _netgame_setup_chat_entry_item, CHAT_ENTRY_EDIT_FLAGS_ON, true);
        set_edit_text_flag(dialog, _netgame_setup_chat_entry_item, CHAT_ENTRY_EDIT_FLAGS_OFF, false);
        set_edit_text_text_format(dialog, _netgame_setup_chat_entry_item, CHAT_ENTRY_TEXT_FORMAT, true);
        load_text_field_string(dialog, _netgame_setup_chat_entry_item, true);
        set_dialog_focus(dialog, _netgame_setup_chat_entry_item);
    }
    set_default_dialog_item(dialog, _netgame_setup_send_chat_item);
    char entry[CHAT_TEXT_FIELD_SIZE] = "";
    if (dialog_has_item(dialog, _netgame_setup_chat_entry_item))
        get_bitmap_dialog_edit_item_text(dialog, _netgame_setup_chat_entry_item, entry, sizeof(entry));
    bitmap_set_item_enabled(dialog, _netgame_setup_send_chat_item, entry[0] != 0);
    if (dialog_has_item(dialog, _netgame_setup_chat_log_item))
        add_chat_text_from_back_log(dialog, _netgame_setup_chat_log_item);

    const vesk_networking_globals *globals = get_vesk_net_globals();
    refresh_netgame_player_list(dialog, globals->player_count);
    if (setup_dialog_globals.previous_player_selection != NONE &&
        player_id_in_list(dialog, _netgame_setup_player_list_item, (uint32_t)setup_dialog_globals.previous_player_selection))
        select_player_list_item_by_id(dialog, _netgame_setup_player_list_item,
                                      (uint32_t)setup_dialog_globals.previous_player_selection);
    enable_teams_button_if_appropriate(dialog);

    bitmap_set_item_enabled(dialog, _netgame_setup_settings_item, host);
    bitmap_set_item_enabled(dialog, _netgame_setup_close_item, host && !autohost);
    bitmap_set_item_visible(dialog, _netgame_setup_close_item, host);
    bitmap_set_item_visible(dialog, _netgame_setup_boot_item, host);
    bitmap_set_item_visible(dialog, HIDDEN_ITEM, false);
    bitmap_set_item_enabled(dialog, _netgame_setup_remove_from_team_item, false);
    bitmap_set_item_enabled(dialog, _netgame_setup_lock_item, true);
    bitmap_set_item_enabled(dialog, _netgame_setup_ready_item, !host);
    set_close_title(dialog);
    enable_start_item(dialog);
    make_tabs(dialog);
    enable_player_buttons(dialog);
    // A joiner's description names no map until the host's arrives.
    if (globals->current_game_description.parameters.scenario_tag)
        set_game_control_description(dialog, _netgame_setup_game_item, &globals->current_game_description);
}

// ---- the automatic host -------------------------------------------------------------------

static void stop_countdown_with_abort(void)
{
    if (!setup_dialog_globals.countdown.running) return;
    setup_dialog_globals.countdown.running = false;
    autohost_send_chat_text(START_ABORTED);
}

// Boots every player who is not ready, before an automatic start.
static void boot_players_not_ready(void)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    for (int16_t i = get_net_player_count() - 1; i >= 0; --i)
    {
        const new_player_data *player = get_net_player(i);
        if (player->unique_identifier == NET_HOST_PLAYER_ID || player->agreed_to_play) continue;
        const int32_t id = player->unique_identifier;
        tell_player_removed_by_host(id);
        net_delete_player(globals->game, (int16_t)id);
    }
}

static int16_t autohost_step(dialog_data *dialog)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const uint32_t now = machine_tick_count();
    if (setup_dialog_globals.change_settings && now - setup_dialog_globals.game_start_time >= AUTOHOST_SETTLING_MS)
    {
        setup_dialog_globals.game_start_time += AUTOHOST_SETTLING_MS;
        return _netgame_setup_settings_item;
    }
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    const int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i) players[i] = *get_net_player(i);
    const bool cooperative = globals->current_game_description.parameters.option_flags & _game_option_cooperative_flag;
    const bool may_start =
        autohost_players_may_start(count_autohost_readiness(players, count, get_local_player_id()), cooperative);
    int32_t seconds_left = 0;
    char text[128];
    switch (advance_autohost_countdown(&setup_dialog_globals.countdown, may_start, now,
                                       setup_dialog_globals.game_start_time, &seconds_left))
    {
    case _autohost_countdown_begun:
        send_local_chat_text("Game will begin in 20 seconds...", _broadcast_chat_message, NONE);
        break;
    case _autohost_countdown_announced:
        slprintf(text, sizeof(text), "Game will begin in %d seconds...", (int)seconds_left);
        send_local_chat_text(text, _broadcast_chat_message, NONE);
        break;
    case _autohost_countdown_finished:
        send_local_chat_text("Starting game...", _broadcast_chat_message, NONE);
        boot_players_not_ready();
        return _netgame_setup_start_item;
    case _autohost_countdown_aborted:
        autohost_send_chat_text(START_ABORTED);
        bitmap_set_item_enabled(dialog, _netgame_setup_settings_item, true);
        if (globals->game_closed) return _netgame_setup_close_item;
        break;
    default: break;
    }
    return NONE;
}

// ---- the item hits ----------------------------------------------------------------------------

// The host's settings changed (accepted in the parameters dialog or taken
// from the playlist): everybody hears of them and gets ready again.
static void apply_new_settings(bool observer_option_was_set)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const net_game_description *description = globals->originator_game_description;
    if (setup_dialog_globals.autohost_on) autohost_send_chat_text("New game settings set.");
    set_net_current_game_description(description);
    const bool observes = description->parameters.option_flags & _game_option_server_is_observer_flag;
    new_player_data host;
    if (observes != observer_option_was_set && get_local_player(&host))
    {
        host.flags = (int16_t)(observes ? host.flags | _player_is_observer_flag : host.flags & ~_player_is_observer_flag);
        const int32_t captain = host.team_captain_identifier;
        update_player_data(&host);
        if (captain != NONE && (captain == host.unique_identifier || team_size(captain) == 2)) disband_team(captain);
    }
    synchronize_game_description();
    netgame_setup_clear_ready_marks();
    if (!(description->parameters.option_flags & _game_option_allow_multiplayer_teams_flag))
        for (int16_t i = get_net_player_count() - 1; i >= 0; --i)
            if (get_net_player(i)->team_captain_identifier != NONE)
                handle_join_team_request(get_net_player(i)->unique_identifier, NONE);
    net_set_maximum_players(globals->game, description->parameters.maximum_players);
    net_set_game_password(globals->game, description->password);
}

static void change_settings(dialog_data *dialog, bool continuation)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const net_game_description *host = get_net_host_game_description();
    if (!VASSERT(hosting() && host, "only the host changes the settings")) return;
    // The dialogs edit a copy, which becomes the host's description.
    net_game_description edited = *host;
    net_game_description *description = &edited;
    const bool observed = description->parameters.option_flags & _game_option_server_is_observer_flag;
    bool changed = false;
    if (!setup_dialog_globals.autohost_on)
    {
        // The dialog opens on the map the set-up shows, not on the last one
        // chosen there, which may be a map this data set lacks.
        if (description->parameters.scenario_tag != (tag)NONE)
            get_game_preferences()->multi_new_game_params.scenario_tag = description->parameters.scenario_tag;
        changed = netgame_parameters_dialog(description, 1, continuation, true);
    }
    else if (setup_dialog_globals.change_settings)
    {
        setup_dialog_globals.change_settings = false;
        const net_game_description *next = get_next_autohosted_game_description();
        if (next) *description = *next;
        // The automatic host started on an installed map: a later entry's
        // missing map gives way to one as well.
        if (next) offer_an_installed_map(description, true);
        changed = next != nullptr;
    }
    else
    {
        stop_countdown_with_abort();
        net_allow_connections(globals->game, false);
        keep_lobby_listing_in_step();
        autohost_send_chat_text("The host is now editing the game settings playlist.");
        changed = open_autohost_dialog(description, 1);
        if (changed) offer_an_installed_map(description, true);
        autohost_send_chat_text("The host is done editing the game settings playlist.");
        net_allow_connections(globals->game, !globals->game_closed);
        keep_lobby_listing_in_step();
    }
    set_net_originator_game_description(&edited);
    if (!changed) return;
    apply_new_settings(observed);
    // A joiner's description names no map until the host's arrives.
    if (globals->current_game_description.parameters.scenario_tag)
        set_game_control_description(dialog, _netgame_setup_game_item, &globals->current_game_description);
}

static void press_team_button(dialog_data *dialog)
{
    new_player_data local;
    if (!get_local_player(&local)) return;
    if (local.team_captain_identifier == NONE)
    {
        const int32_t selected = selected_player(dialog);
        if (selected == NONE) return;
        send_configuration_packet(true, TEAM_REQUEST_ITEM, selected);
    }
    else
        send_configuration_packet(true, TEAM_REQUEST_ITEM, NONE);
    bitmap_clear_selections(dialog, _netgame_setup_player_list_item);
    bitmap_set_item_enabled(dialog, _netgame_setup_boot_item, false);
    bitmap_set_item_enabled(dialog, _netgame_setup_remove_from_team_item, false);
}

static void boot_selected_player(dialog_data *dialog)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    const int32_t selected = selected_player(dialog);
    const new_player_data *booted = player_with_id(selected);
    if (!VASSERT(hosting(), "only the host boots players") || !booted) return;
    const int32_t captain = booted->team_captain_identifier;
    for (int16_t i = 0; captain != NONE && i < get_net_player_count(); ++i)
    {
        new_player_data member = *get_net_player(i);
        if (member.team_captain_identifier != captain || member.unique_identifier == selected ||
            member.unique_identifier == get_local_player_id() || member.persistent_ready || !member.agreed_to_play)
            continue;
        member.agreed_to_play = false;
        update_player_data(&member);
    }
    tell_player_removed_by_host(selected);
    net_delete_player(globals->game, (int16_t)selected);
    bitmap_set_item_enabled(dialog, _netgame_setup_boot_item, false);
}

static void toggle_closed(dialog_data *dialog)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (!VASSERT(hosting(), "only the host closes the game")) return;
    set_net_game_closed(!globals->game_closed);
    net_allow_connections(globals->game, !globals->game_closed);
    set_close_title(dialog);
    keep_lobby_listing_in_step();
}

static void remove_from_team(dialog_data *dialog)
{
    const int32_t selected = selected_player(dialog);
    const new_player_data *player = player_with_id(selected);
    const int32_t local = get_local_player_id();
    if (player && player->team_captain_identifier == local)
    {
        if (hosting())
            handle_join_team_request(selected, NONE);
        else if (team_size(local) <= 2)
            disband_team(local);
        else
        {
            new_player_data leaving = *player;
            leaving.team_captain_identifier = NONE;
            update_player_data(&leaving);
        }
    }
    bitmap_set_item_enabled(dialog, _netgame_setup_remove_from_team_item, false);
}

static void toggle_lock(void)
{
    new_player_data local;
    if (!get_local_player(&local)) return;
    local.team_is_locked = !local.team_is_locked;
    update_player_data(&local);
}

static void toggle_ready(dialog_data *dialog)
{
    const game_preferences *preferences = get_game_preferences();
    const bool by_preference = preferences && (preferences->flags & _game_pref_use_persistent_ready_flag);
    const char *notice = netgame_setup_toggle_ready(key_down(PERSISTENT_READY_KEY), by_preference);
    if (notice) show_notice(dialog, notice);
}

// Starting (the host's item 5): the model's refusals and question are put
// to the player.
static void start_game(void)
{
    const bool autohost = setup_dialog_globals.autohost_on;
    char message[512];
    netgame_start_result result = netgame_setup_start(autohost, false, message, sizeof(message));
    if (result == _netgame_start_blacklisted_builds) lobby_show_error_message(message, "OK");
    // Rules a player cannot play: the host is told whom to boot (the automatic host only logs it).
    if (result == _netgame_start_refused && message[0] && !autohost) lobby_show_error_message(message, "OK");
    if (result == _netgame_start_too_many_for_coop && lobby_query_dialog(message))
        result = netgame_setup_start(autohost, true, message, sizeof(message));
    if (result == _netgame_start_sent && autohost)
    {
        setup_dialog_globals.countdown.running = false;
        setup_dialog_globals.game_start_time = machine_tick_count();
    }
}

// One item; true when the set-up ends.
static bool handle_item(dialog_data *dialog, int16_t item, bool continuation)
{
    switch (item)
    {
    case _netgame_setup_settings_item: change_settings(dialog, continuation); break;
    case _netgame_setup_leave_item:
    case _netgame_setup_game_starts_item:
    case _netgame_setup_continue_item: return true;
    case _netgame_setup_start_item:
        if (VASSERT(hosting(), "only the host starts the game")) start_game();
        break;
    case _netgame_setup_player_list_item: enable_player_buttons(dialog); break;
    case _netgame_setup_chat_entry_item:
    {
        char entry[CHAT_TEXT_FIELD_SIZE] = "";
        get_bitmap_dialog_edit_item_text(dialog, _netgame_setup_chat_entry_item, entry, sizeof(entry));
        bitmap_set_item_enabled(dialog, _netgame_setup_send_chat_item, entry[0] != 0);
        break;
    }
    case _netgame_setup_send_chat_item:
        if (send_chat_or_dot_command(dialog)) bitmap_set_item_enabled(dialog, _netgame_setup_send_chat_item, false);
        break;
    case _netgame_setup_teams_item: press_team_button(dialog); break;
    case _netgame_setup_boot_item: boot_selected_player(dialog); break;
    case _netgame_setup_close_item: toggle_closed(dialog); break;
    case _netgame_setup_remove_from_team_item: remove_from_team(dialog); break;
    case _netgame_setup_lock_item: toggle_lock(); break;
    case _netgame_setup_ready_item: toggle_ready(dialog); break;
    case _netgame_setup_tabs_item:
        set_game_graphic_show_plugin_list(dialog, _netgame_setup_game_item,
                                          get_selected_tab(dialog, _netgame_setup_tabs_item) == PLUGINS_TAB);
        break;
    case NONE:
    case 1:
    case _netgame_setup_game_item:
    case HIDDEN_ITEM:
    case _netgame_setup_chat_log_item: break;
    default: log_message(nullptr, -1, "halt: the set-up dialog got item %d", (int)item); break;
    }
    return false;
}

// ---- the dialog --------------------------------------------------------------------------------

static dialog_data *open_setup_dialog(void)
{
    if (tag_file_open(DIALOG_GROUP_TAG, NETGAME_SETUP_DIALOG_TAG) == NONE)
    {
        log_message(nullptr, -1, "no set-up dialog '%s': the network game cannot be set up",
                    tag_to_string(NETGAME_SETUP_DIALOG_TAG));
        return nullptr;
    }
    // A sleep time of 0: every modal pass returns, so the loop sees the
    // network.  Without a screen (a tool pressing the items) there is
    // nothing to centre it on.
    const uint16_t placement = active_screen.screen_initialized ? (uint16_t)_dialog_is_centered_flag : 0;
    dialog_data *dialog = new_dialog(NETGAME_SETUP_DIALOG_TAG, nullptr, nullptr, 0, _dialog_has_bevel_flag | placement);
    if (!dialog) return nullptr;
    const int32_t background = get_collection_index(NETGAME_SETUP_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    return dialog;
}

static void prepare_description(net_game_description *game, bool continuation)
{
    if (continuation)
        game->parameters.option_flags |= _game_option_continuation_flag;
    else
    {
        game->parameters.option_flags &= ~(uint32_t)_game_option_continuation_flag;
        empty_chat_text_log();
        setup_dialog_globals.previous_player_selection = NONE;
    }
    // A joiner shows what the host sent (and sends again when the set-up
    // opens); its own copy would hide a description that came first.
    if (!hosting()) return;
    // The scoring the map plays, not a preference it does not offer: what
    // the players are shown and what the game plays are one.
    mesh_header header;
    if (!(game->parameters.option_flags & _game_option_cooperative_flag) &&
        read_mesh_header(game->parameters.scenario_tag, &header))
        game->parameters.scoring = scoring_played_on_map(game->parameters.scoring, header.flags);
    set_net_current_game_description(game);
    const game_preferences *preferences = get_game_preferences();
    if (setup_dialog_globals.autohost_on || !preferences)
    {
        set_net_originator_game_description(game);
        return;
    }
    net_game_description host = *game;
    add_encoded_gameplay_plugins(&host.parameters, preferences->multi_gameplay_selector_value);
    set_net_originator_game_description(&host);
}

// The next item: the automatic host's, a pending immediate start, a script's
// press or the dialog's own pass, replaced by one the network posted.
static int16_t next_item(dialog_data *dialog, bool *start_pending)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    int16_t item = NONE;
    if (setup_dialog_globals.autohost_on && hosting()) item = autohost_step(dialog);
    if (item == NONE && *start_pending && hosting())
    {
        *start_pending = false;
        item = _netgame_setup_start_item;
    }
    if (item == NONE && setup_dialog_globals.script)
        item = setup_dialog_globals.script(dialog, setup_dialog_globals.script_context);
    if (item == NONE) item = modal_dialog(dialog);
    // The window was closed: the set-up is left, once, for the program to end.
    int16_t pending = NONE;
    if (item == NONE && game_state_change_pending(&pending) && pending == _game_state_quit)
        item = _netgame_setup_leave_item;
    if (globals->current_game_description_changed)
    {
        handle_game_description_updated();
        set_net_current_game_description_changed(false);
    }
    setup_dialog_globals.left_by_network = false;
    if (globals->item_hit_via_network != NET_NO_DIALOG_ITEM)
    {
        item = globals->item_hit_via_network;
        set_net_item_hit_via_network(NET_NO_DIALOG_ITEM);
        setup_dialog_globals.left_by_network = item == _netgame_setup_leave_item;
    }
    return item;
}

static void tell_why_the_setup_was_left(void)
{
    char text[2 * CHAT_ENTRY_TEXT_SIZE];
    const char *said = last_line_from_host_to_me(false);
    slprintf(text, sizeof(text), "%s%s%s", get_networking_string(NETWORKING_STRING_NOT_CONNECTED),
             said[0] ? "\r\n\r\n" : "", said);
    log_message(__FILE__, __LINE__, "the set-up was left: %s", said[0] ? said : "the host is gone");
    lobby_show_error_message(text, "OK");
}

bool configure_netgame(new_game_data *data, net_game_description *game, bool continuation, bool start_immediately)
{
    const vesk_networking_globals *globals = get_vesk_net_globals();
    if (!globals->game || !data || !game)
    {
        log_message(nullptr, -1, "no network session to set up a game in");
        return false;
    }
    set_net_endgame_raised(false);
    if (!start_immediately) set_net_game_closed(false);
    net_allow_connections(globals->game, !globals->game_closed);
    dialog_data *dialog = open_setup_dialog();
    if (!dialog) return false;
    set_net_item_hit_via_network(NET_NO_DIALOG_ITEM);
    last_line_from_host_to_me(true);
    prepare_description(game, continuation);
    const int16_t old_state = globals->state;
    set_net_state(_net_configuring_game);
    set_net_configure_dialog(dialog);
    setup_dialog_globals.dialog = dialog;
    setup_dialog_globals.countdown = {};
    set_up_items(dialog);
    if (hosting())
    {
        if (Endpoint *listener = net_get_listener_endpoint(globals->game)) ProtocolStartAdvertising(listener);
        synchronize_game_description();
    }
    setup_dialog_globals.game_start_time = machine_tick_count();
    if (setup_dialog_globals.autohost_on)
        add_chat_text_full(dialog, _netgame_setup_chat_log_item, _normal_chat_message_type, "Autohost", nullptr,
                           AUTOHOST_WELCOME, false);

    bool start_pending = start_immediately;
    int16_t item = NONE;
    for (bool first_pass = true;; first_pass = false)
    {
        keep_lobby_listing_in_step();
        item = next_item(dialog, &start_pending);
        if (!dialog_is_open(dialog) || !globals->game)
        {
            item = _netgame_setup_leave_item;
            break;
        }
        refresh_items(dialog, continuation, first_pass);
        enable_start_item(dialog);
        if (handle_item(dialog, item, continuation)) break;
    }

    if (dialog_is_open(dialog))
    {
        setup_dialog_globals.previous_player_selection = selected_player(dialog);
        store_text_field_string(dialog, _netgame_setup_chat_entry_item);
    }
    if (item == _netgame_setup_leave_item) setup_dialog_globals.autohost_on = false;
    // A joiner the host removed, or whose host went away, is told why.
    if (item == _netgame_setup_leave_item && setup_dialog_globals.left_by_network && !hosting())
        tell_why_the_setup_was_left();
    const bool starts = netgame_setup_finish(item, start_immediately, old_state, data, game);
    setup_dialog_globals.dialog = nullptr;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return starts;
}

#undef DIALOG_ELEMENTS_COLLECTION_TAG
