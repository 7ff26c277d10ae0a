// Into a network game from the main menu, and out of each game through the
// end barrier and the endgame dialog.

#include "network_game_entry.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "game_preferences.h"
#include "game_states.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "lobby_procedures.h"
#include "networking/tcp_module.h"
#include "netgame_setup.h"
#include "netgame_setup_dialog.h"
#include "network.h"
#include "network_packets.h"
#include "networking_preferences.h"
#include "players.h"
#include "recording.h"
#include "game_ending.h"
#include "scoring.h"
#include "shapes.h"
#include "sound/sound_manager.h"
#include "statistics.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "player_data_tags.h"
#include "uber/uber.h"
#include "vesk_networking/autohost_preferences.h"
#include "vesk.h"
#include "vesk/game_statistics.h"
#include "vesk_chat.h"
#include "vesk_netsync.h"
#include "vesk_network_interface.h"
#include "vesk_networking.h"
#include "vesk_packets.h"
#include "vesk_networking/vesk_server.h"
#include "vesk_teams.h"

enum
{
    ENDGAME_SLEEP_TICKS = 1, // the dialog gives control back every pass: the network is pumped
    ENDGAME_VIEW_BUTTON_SEQUENCE = 10,
    ENDGAME_KEY_MODIFIERS = 40,
    ENDGAME_SAVE_KEY = 83,
    ENDGAME_PLAY_AGAIN_KEY = 78,
    ENDGAME_CANNOT_STAY_STRING_0 = 22,
    ENDGAME_CANNOT_STAY_STRING_1 = 23,
    ENDGAME_FILM_NAME_STRING = 8,
};

#define INTERNAL_DIALOG_ELEMENTS_COLLECTION FOUR_CHARACTER_CODE('b', 'a', 'i', 'e')

static struct network_game_entry_globals
{
    uint32_t (*clock)(void);
    uint32_t game_end_time;
    bool players_can_stay;
    bool quit_alone; // the local player left a game the others play on
    dialog_data *endgame_dialog; // while it runs
} entry_globals;

static uint32_t endgame_now(void) { return entry_globals.clock ? entry_globals.clock() : machine_tick_count(); }

void set_network_endgame_clock(uint32_t (*clock)(void)) { entry_globals.clock = clock; }

// ---- entry ------------------------------------------------------------------------------

static void save_preferences_after_setup(const net_game_description *description, const new_player_data *player,
                                         const new_game_data *data, const uint32_t *protocol)
{
    const bool host = local_player_is_network_originator();
    if (!save_netgame_preferences(host ? description : nullptr, player, data, protocol))
        log_message(__FILE__, __LINE__, "the networking preferences could not be saved");
}

// A game found directly: the create-or-join dialog, whose created game takes
// the name and password typed there; an automatically hosted game is the
// playlist's.  False when the player cancelled.
static bool create_or_join_directly(net_game_description *description, const new_player_data *player,
                                    uint32_t protocol)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    new_player_data wire = *player;
    byte_swap_new_player_data(&wire);
    mark_player_data_with_local_tags(&wire); // the host refuses other data
    char name[CREATE_OR_JOIN_NAME_SIZE], password[CREATE_OR_JOIN_NAME_SIZE];
    slprintf(name, sizeof(name), "%s", description->name);
    slprintf(password, sizeof(password), "%s", description->password);
    if (!create_or_join_game(protocol, net->game, player->appearance.name, name, password, &wire,
                             (int32_t)sizeof(wire)))
        return false;
    slprintf(description->name, sizeof(description->name), "%s", name);
    slprintf(description->password, sizeof(description->password), "%s", password);
    set_netgame_autohost(create_or_join_autohost_on());
    if (netgame_autohost_is_on())
    {
        net_game_description autohosted = *get_current_autohosted_game_description();
        // Without a map to play, the player hosts the game by hand.
        if (take_installed_autohosted_map(&autohosted))
            *description = autohosted;
        else
            set_netgame_autohost(false);
    }
    netgame_session_entered(description);
    return true;
}

bool offer_an_installed_map_from(net_game_description *description, const full_entry_point *const *entries,
                                 int32_t count, bool log_swap)
{
    const full_entry_point *first = nullptr;
    for (int32_t i = 0; i < count; ++i)
    {
        const full_entry_point *entry = entries[i];
        if (entry->subgroup_tag == description->parameters.scenario_tag) return true;
        if (!first && (entry->mesh_flags & _mesh_is_complete_flag) &&
            (entry->mesh_flags & MESH_MULTIPLAYER_ENTRY_POINTS_MASK))
            first = entry;
    }
    if (!first) return false;
    if (log_swap)
        log_message(__FILE__, __LINE__, "the network game's map '%s' is not installed: '%s' is offered instead",
                    tag_to_string(description->parameters.scenario_tag), first->printed_name);
    description->parameters.scenario_tag = first->subgroup_tag;
    slprintf(description->map_name, sizeof(description->map_name), "%s", first->printed_name);
    return true;
}

bool offer_an_installed_map(net_game_description *description, bool log_swap)
{
    int32_t count = 0;
    full_entry_point *const *entries = nullptr;
    get_cached_entry_points(&count, &entries, nullptr);
    return offer_an_installed_map_from(description, entries, count, log_swap);
}

// The description the networking preferences hold: a map nobody chose (the
// default one, which this data set may lack) is replaced without a word.
static void offer_an_installed_map_for_entry(net_game_description *description)
{
    offer_an_installed_map(description, description->parameters.scenario_tag != DEFAULT_NETWORK_GAME_SCENARIO);
}

bool take_installed_autohosted_map(net_game_description *description)
{
    if (offer_an_installed_map(description, true)) return true;
    log_message(__FILE__, __LINE__,
                "the automatic host's game names map '%s', which is not installed, and no installed map can be "
                "played instead: no automatic game is started",
                tag_to_string(description->parameters.scenario_tag));
    return false;
}

// Out of the lobby: logged out, the lobby's protocol shut down.
static void leave_lobby(void)
{
    lobby_logout();
    ProtocolShutdown(kModuleID);
}

int16_t setup_network_game(int16_t service_type, new_game_data *data)
{
    net_game_description description;
    new_player_data player;
    uint32_t protocol = 0;
    if (!load_netgame_preferences(&description, &player, nullptr, &protocol))
    {
        log_message(__FILE__, __LINE__, "the networking preferences cannot be read: no network game");
        return _network_setup_cancelled;
    }
    offer_an_installed_map_for_entry(&description);
    get_default_new_game_data(data, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    data->parameters = description.parameters;

    for (bool first_pass = true;; first_pass = false)
    {
        load_netgame_preferences(&description, nullptr, nullptr, nullptr);
        offer_an_installed_map_for_entry(&description);
        if (service_type != 0)
        {
            HALT("a network service other than 0");
            return _network_setup_cancelled;
        }
        bool use_lobby = false;
        char login[32], password[16];
        const int16_t chosen =
            lobby_choose_protocol(&player, &protocol, first_pass, &use_lobby, login, sizeof(login), password, sizeof(password));
        if (chosen == 0) return _network_setup_cancelled;
        if (chosen == 2) continue;
        fade_out_sound(NETWORK_SETUP_SOUND_FADE_TICKS);

        if (use_lobby)
        {
            const int16_t login_result = lobby_login(&description, &player, login, password);
            if (login_result == 0) return _network_setup_cancelled;
            if (login_result == 2 || login_result == 4) continue;
            if (login_result == 3) return _network_setup_lobby_asks;
            if (login_result != 1)
            {
                HALT("an unknown lobby login result");
                return _network_setup_cancelled;
            }
            save_preferences_after_setup(nullptr, &player, data, &protocol);
            if (lobby_run_session_dialog(data, &description, &player, protocol, true))
            {
                save_preferences_after_setup(&description, &player, data, &protocol);
                return _network_setup_configured;
            }
            const bool log_in_again = lobby_session_returns_to_login();
            leave_lobby();
            // Sent to a web page, the player may log in again.
            if (log_in_again) continue;
            return _network_setup_cancelled;
        }

        if (!allocate_network_structures_for_game_session(protocol)) return _network_setup_cancelled;
        set_net_lobby_game_id(NONE);
        player.metaserver_player_id = NONE;
        player.metaserver_player = 0;
        player.appearance.caste_bitmap_index = NONE;
        if (create_or_join_directly(&description, &player, protocol)) break;
        setdown_network_game_from_old_netgame_session(false, true);
    }

    if (!configure_netgame(data, &description, false, false))
    {
        setdown_network_game_from_old_netgame_session(false, true);
        return _network_setup_cancelled;
    }
    save_preferences_after_setup(&description, &player, data, &protocol);
    return _network_setup_configured;
}

int16_t setup_network_game_for_new_netgame_session(new_game_data *data, net_game_description *description,
                                                   new_player_data *player, int16_t verb, uint32_t protocol,
                                                   int32_t scoring_game_id, int32_t scoring_player_id, int16_t caste,
                                                   bool *failed)
{
    if (failed) *failed = false;
    if (!allocate_network_structures_for_game_session(protocol)) return 0;
    set_net_lobby_game_id(scoring_game_id);
    player->metaserver_player_id = scoring_player_id;
    // Came through the lobby: a lobby game takes only such players, and
    // others take none of them.
    player->metaserver_player = 1;
    player->appearance.caste_bitmap_index = caste;
    if (join_or_create_new_netgame_session(description, player, protocol, verb))
    {
        if (configure_netgame(data, description, false, false)) return 1;
    }
    else if (failed)
        *failed = true;
    setdown_network_game_from_old_netgame_session(false, true);
    return 0;
}

// ---- the end of a game ------------------------------------------------------------------

bool players_can_stay_after_game(int16_t endgame_state, int16_t forced_endgame_type, int32_t time_remaining,
                                 const tag next_mesh_tags[2], bool have_mesh_header, tag *next_map)
{
    *next_map = NONE;
    if (endgame_state == _endgame_unresolved) return false;
    if (forced_endgame_type == _forced_endgame_rehost || forced_endgame_type == _forced_endgame_restart) return true;
    switch (endgame_state)
    {
    case _endgame_successful_victory:
    case _endgame_failed_victory:
        // Time left (a game cut short) parts the players; a game without a
        // time limit (NONE) has none left.
        if (time_remaining > 0) return false;
        if (have_mesh_header) *next_map = next_mesh_tags[endgame_state == _endgame_successful_victory ? 0 : 1];
        return true;
    case _endgame_resolved: return time_remaining <= 0;
    default:
    {
        char text[64];
        slprintf(text, sizeof(text), "what is endgame state %d?", endgame_state);
        HALT(text);
        return true;
    }
    }
}

void repair_teams_after_game(new_player_data *players, int16_t count)
{
    for (int16_t i = 0; i < count; ++i)
    {
        const int32_t captain = players[i].team_captain_identifier;
        if (captain == NONE) continue;
        bool captain_listed = false;
        int16_t members = 0;
        for (int16_t j = 0; j < count; ++j)
        {
            if (players[j].unique_identifier == captain) captain_listed = true;
            if (players[j].team_captain_identifier == captain) ++members;
        }
        if (!captain_listed || members < 2) players[i].team_captain_identifier = NONE;
    }
}

// The host's listener stops being advertised and takes nobody new.
static void close_game_to_joiners(const vesk_networking_globals *net)
{
    if (!net->game || !local_player_is_network_originator()) return;
    if (net_get_allow_connections_state(net->game)) net_allow_connections(net->game, false);
    Endpoint *listener = net_get_listener_endpoint(net->game);
    if (listener) ProtocolStopAdvertising(listener);
    if (lobby_connected()) lobby_synchronize_game_description();
}

static const postgame_view_items endgame_view_items = {_endgame_stats_list_item, _endgame_graph_item,
                                                      _endgame_stats_header_item, _endgame_first_view_item};

static void show_endgame_view(dialog_data *dialog, int16_t view)
{
    if (!show_postgame_view(dialog, &endgame_view_items, view)) return;
    if (dialog_has_item(dialog, _endgame_tabs_item)) set_selected_tab(dialog, _endgame_tabs_item, view);
}

void start_showing_proper_stats(dialog_data *dialog, int16_t type, bool graph)
{
    show_endgame_view(dialog, graph ? (int16_t)(type + 2) : type);
}

static void autosave_endgame_film(dialog_data *dialog)
{
    char name[256];
    const char *time = get_recording_time_string();
    format_checked_line(name, sizeof(name), get_networking_string(ENDGAME_FILM_NAME_STRING), "s", time);
    fit_dated_film_name(name, sizeof(name), time);
    if (!duplicate_last_replay_as(name))
    {
        log_message(__FILE__, __LINE__, "the game's film could not be saved as \"%s\"", name);
        return;
    }
    if (dialog_has_item(dialog, _endgame_save_film_item))
    {
        bitmap_set_item_enabled(dialog, _endgame_save_film_item, false);
        char caption[64];
        slprintf(caption, sizeof(caption), "(%s)", "Autosaved");
        set_button_control_name(dialog, _endgame_save_film_item, caption);
    }
}

static const char *const endgame_view_names[NUMBER_OF_POSTGAME_VIEWS] = {"Players", "Totals", "Score", "Kills",
                                                                         "Damage", "-", "Our Kills"};

static void set_up_endgame_dialog(dialog_data *dialog, bool host_can_stay, bool can_stay)
{
    int32_t background = dialog->tag == NETWORK_ENDGAME_DIALOG_TAG
                             ? get_collection_index_if_present(NETWORK_ENDGAME_BACKGROUND_COLLECTION_TAG)
                             : NONE;
    if (background == NONE) background = get_collection_index_if_present(NETWORK_ENDGAME_FALLBACK_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    if (dialog_has_item(dialog, _endgame_chat_entry_item))
    {
        set_dialog_focus(dialog, _endgame_chat_entry_item);
        bitmap_set_item_enabled(dialog, _endgame_chat_entry_item, can_stay);
    }
    if (dialog_has_item(dialog, _endgame_send_chat_item))
    {
        set_default_dialog_item(dialog, _endgame_send_chat_item);
        bitmap_set_item_enabled(dialog, _endgame_send_chat_item, false);
    }
    if (dialog_has_item(dialog, _endgame_leave_item)) set_dialog_cancel_item(dialog, _endgame_leave_item);
    if (dialog_has_item(dialog, _endgame_save_film_item))
        set_dialog_item_keyboard_equivalent(dialog, _endgame_save_film_item, ENDGAME_SAVE_KEY, ENDGAME_KEY_MODIFIERS);
    if (dialog_has_item(dialog, _endgame_play_again_item))
    {
        set_dialog_item_keyboard_equivalent(dialog, _endgame_play_again_item, ENDGAME_PLAY_AGAIN_KEY,
                                            ENDGAME_KEY_MODIFIERS);
        bitmap_set_item_enabled(dialog, _endgame_play_again_item, host_can_stay);
    }
    if (dialog_has_item(dialog, _endgame_hidden_item)) bitmap_set_item_visible(dialog, _endgame_hidden_item, false);
    if (dialog_has_item(dialog, _endgame_player_list_item))
    {
        player_list_show_ready_icons(dialog, _endgame_player_list_item, false);
        refresh_netgame_player_list(dialog, get_vesk_net_globals()->player_count);
    }
    const int32_t elements = get_collection_index_if_present(INTERNAL_DIALOG_ELEMENTS_COLLECTION);
    const bool tabs = dialog_has_item(dialog, _endgame_tabs_item);
    if (tabs) set_number_of_tabs(dialog, _endgame_tabs_item, NUMBER_OF_POSTGAME_VIEWS);
    for (int16_t i = 0; i < NUMBER_OF_POSTGAME_VIEWS; ++i)
    {
        const int16_t button = (int16_t)(_endgame_first_view_item + i);
        if (tabs)
        {
            set_tab_name(dialog, _endgame_tabs_item, i, endgame_view_names[i]);
            set_tab_enabled(dialog, _endgame_tabs_item, i, postgame_view_is_valid(i));
        }
        if (!dialog_has_item(dialog, button)) continue;
        if (elements != NONE)
        {
            set_button_control_shape(dialog, button, (int16_t)elements, ENDGAME_VIEW_BUTTON_SEQUENCE);
            set_button_control_number_of_states(dialog, button, 2);
        }
        bitmap_set_item_enabled(dialog, button, postgame_view_is_valid(i));
        if (tabs) bitmap_set_item_visible(dialog, button, false);
    }
    show_endgame_view(dialog, 0);
}

// Every player who is not persistently ready stops being ready, and the host
// asks everybody's endgame dialog to re-enter the set-up.
static void press_play_again(void)
{
    if (netgame_autohost_is_on()) request_next_autohosted_game();
    if (!local_player_is_network_originator()) return;
    netgame_setup_clear_ready_marks();
    send_configuration_packet(true, _endgame_reenter_item, 0);
}

// The endgame dialog's loop: 4 (leave) or 100 (re-enter).
static int16_t run_endgame_dialog(dialog_data *dialog)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    for (;;)
    {
        int16_t item;
        const bool play_again_enabled =
            dialog_has_item(dialog, _endgame_play_again_item) && bitmap_get_item_enabled(dialog, _endgame_play_again_item);
        if (netgame_autohost_is_on() && play_again_enabled && !next_autohosted_game_requested() &&
            endgame_now() - entry_globals.game_end_time > NETWORK_ENDGAME_AUTOHOST_RESTART_MS - 1)
            item = _endgame_play_again_item;
        else
            item = network_modal_dialog(dialog);
        if (net->item_hit_via_network != NONE)
        {
            item = net->item_hit_via_network;
            set_net_item_hit_via_network(NONE);
        }
        if (item == _endgame_tabs_item) item = (int16_t)(_endgame_first_view_item + get_selected_tab(dialog, _endgame_tabs_item));
        switch (item)
        {
        case NONE:
        case _endgame_hidden_item:
        case 2:
        case _endgame_player_list_item:
        case _endgame_chat_log_item:
        case _endgame_stats_header_item:
        case _endgame_stats_list_item:
        case _endgame_graph_item: break;
        case _endgame_save_film_item: autosave_endgame_film(dialog); break;
        case _endgame_play_again_item: press_play_again(); break;
        case _endgame_chat_entry_item:
        {
            edittext_data *edit = get_edittext_item_record(dialog, _endgame_chat_entry_item);
            char text[CHAT_TEXT_FIELD_SIZE + 1] = "";
            if (edit) get_edittext_string(edit, text, sizeof(text));
            bitmap_set_item_enabled(dialog, _endgame_send_chat_item, text[0] != 0 && entry_globals.players_can_stay);
            break;
        }
        case _endgame_send_chat_item:
            if (send_chat_or_dot_command(dialog)) bitmap_set_item_enabled(dialog, _endgame_send_chat_item, false);
            break;
        case _endgame_leave_item:
        case _endgame_reenter_item: return item;
        default:
            if (item >= _endgame_first_view_item && item <= _endgame_last_view_item)
                show_endgame_view(dialog, (int16_t)(item - _endgame_first_view_item));
            else
            {
                char text[64];
                slprintf(text, sizeof(text), "What dialog item is %d", item);
                HALT(text);
            }
            break;
        }
        if (!dialog_is_open(dialog)) return _endgame_leave_item;
    }
}

bool network_endgame_lost_its_host(void)
{
    dialog_data *dialog = entry_globals.endgame_dialog;
    if (!dialog) return false;
    entry_globals.players_can_stay = false;
    if (dialog_has_item(dialog, _endgame_send_chat_item)) bitmap_set_item_enabled(dialog, _endgame_send_chat_item, false);
    if (dialog_has_item(dialog, _endgame_chat_entry_item))
        bitmap_set_item_enabled(dialog, _endgame_chat_entry_item, false);
    return true;
}

// The endgame dialog: true to re-enter the set-up.
static bool endgame_dialog(bool can_stay)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    const bool host = local_player_is_network_originator();
    const bool host_can_stay = host && can_stay;
    file_tag dialog_tag = NETWORK_ENDGAME_DIALOG_TAG;
    if (tag_file_open(DIALOG_GROUP_TAG, dialog_tag) == NONE) dialog_tag = NETWORK_ENDGAME_FALLBACK_DIALOG_TAG;
    if (tag_file_open(DIALOG_GROUP_TAG, dialog_tag) == NONE)
    {
        log_message(__FILE__, __LINE__, "no endgame dialog: the session %s", can_stay ? "goes on" : "ends");
        return can_stay;
    }
    dialog_data *dialog = new_dialog(dialog_tag, nullptr, nullptr, ENDGAME_SLEEP_TICKS, _dialog_is_centered_flag);
    if (!dialog) return false;
    if (host_can_stay && net->originator_game_description)
        set_net_originator_game_description(&net->current_game_description);
    set_net_configure_dialog(dialog);
    const int16_t old_state = net->state;
    set_net_state(_net_configuring_game);
    set_net_item_hit_via_network(NONE);
    set_up_endgame_dialog(dialog, host_can_stay, can_stay);

    add_chat_to_back_log(_motd_chat_message_type, "", nullptr, "Game Over");
    if (dialog_has_item(dialog, _endgame_chat_log_item)) add_chat_text_from_back_log(dialog, _endgame_chat_log_item);
    if (!can_stay && dialog_has_item(dialog, _endgame_chat_log_item))
    {
        add_chat_text_full(dialog, _endgame_chat_log_item, _motd_chat_message_type, "", nullptr,
                           entry_globals.quit_alone      ? "You left the game before its end."
                           : network_game_dropped_because() ? "The host dropped you from the game: the session is over."
                           : network_game_host_departed() ? "The host left the game: the session is over."
                                                          : get_networking_string(ENDGAME_CANNOT_STAY_STRING_0),
                           false);
        add_chat_text_full(dialog, _endgame_chat_log_item, _motd_chat_message_type, "", nullptr,
                           get_networking_string(ENDGAME_CANNOT_STAY_STRING_1), false);
    }
    entry_globals.game_end_time = endgame_now();
    if (netgame_autohost_is_on()) autohost_send_chat_text("Game will restart in 30 seconds.");
    if (get_game_preferences()->flags & _game_pref_autosave_films_flag) autosave_endgame_film(dialog);

    entry_globals.endgame_dialog = dialog;
    const int16_t item = run_endgame_dialog(dialog);
    entry_globals.endgame_dialog = nullptr;
    if (item == _endgame_leave_item) set_netgame_autohost(false);
    else if (dialog_has_item(dialog, _endgame_chat_entry_item))
    {
        store_text_field_string(dialog, _endgame_chat_entry_item);
        if (dialog_has_item(dialog, _endgame_player_list_item))
            remember_netgame_player_selection((int32_t)get_selected_player_user_id(dialog, _endgame_player_list_item));
    }
    set_net_state(old_state);
    if (host_can_stay) set_net_originator_game_description(nullptr);
    set_net_configure_dialog(nullptr);
    dispose_dialog(dialog);
    return item == _endgame_reenter_item;
}

// The map that follows, when known and other than the one played, becomes
// the description's.
static void follow_next_map(net_game_description *description, tag next_map)
{
    if (next_map == NONE || next_map == description->parameters.scenario_tag) return;
    description->parameters.scenario_tag = next_map;
    char name[NET_GAME_MAP_NAME_SIZE];
    if (get_mesh_display_name_in_plugin_list(next_map, name, sizeof(name), description->parameters.plugin_data,
                                             (int32_t)sizeof(description->parameters.plugin_data)))
        slprintf(description->map_name, sizeof(description->map_name), "%s", name);
}

// A lobby whose room died is logged out and its protocol shut down, so that
// the next direct game, single-player game and login find no lobby session
// (its dead state would grey the quit dialog's Rehost and Restart, skip the
// next endgame and keep the local tag folder closed).  True when it had died.
static bool leave_dead_lobby(void)
{
    if (!lobby_connection_died(false)) return false;
    log_message(__FILE__, __LINE__, "the lobby's room died during the game's end: logged out");
    leave_lobby();
    return true;
}

// After a game of the lobby, the lobby's dialog again: true when it led
// into another game (the session re-enters), false when the player left.
static bool back_to_lobby(new_game_data *data)
{
    if (!lobby_connected()) return false;
    net_game_description description;
    new_player_data player;
    uint32_t protocol = 0;
    if (!load_netgame_preferences(&description, &player, nullptr, &protocol)) return false;
    get_default_new_game_data(data, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    data->parameters = description.parameters;
    if (!lobby_run_session_dialog(data, &description, &player, protocol, false))
    {
        leave_lobby();
        return false;
    }
    save_preferences_after_setup(&description, &player, data, &protocol);
    set_net_state(_net_reenter_game);
    return true;
}

bool handle_network_endgame(new_game_data *data, int16_t endgame_state, int16_t forced_endgame_type, bool leave_now)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (lobby_connection_died(false)) leave_now = true;
    // Named while the session stands: a host who leaves alone sets it down
    // below, and its score still goes to the game it listed.
    const int32_t lobby_game_id = netgame_lobby_game_id();
    close_game_to_joiners(net);
    if (leave_now)
    {
        set_net_state(_net_idle);
        setdown_network_game_from_old_netgame_session(true, true);
        return false;
    }

    mesh_header header;
    const bool have_header = read_mesh_header(net->current_game_description.parameters.scenario_tag, &header);
    const tag no_next[2] = {NONE, NONE};
    tag next_map = NONE;
    // A player who quit a game the others play on does not wait for their
    // end: it leaves the session, which tells them.
    const bool quit_alone =
        forced_endgame_type == _forced_endgame_none && get_local_postgame_outcome() == _postgame_outcome_left;
    // Without its host the session is over: nobody is left to hold the end barrier.
    const bool can_stay = !quit_alone && !network_game_host_departed() &&
                          players_can_stay_after_game(endgame_state, forced_endgame_type, game_->time_remaining,
                                                      have_header ? header.next_mesh_tags : no_next, have_header,
                                                      &next_map);
    entry_globals.players_can_stay = can_stay;
    entry_globals.quit_alone = quit_alone;
    if (can_stay)
        vesk_netunsync();
    else
    {
        set_net_state(_net_idle);
        setdown_network_game_from_old_netgame_session(false, true);
    }

    ressurect_players_from_old_map();
    ressurect_player_statistics_from_old_map();
    {
        new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
        const int16_t count = net->player_count;
        memcpy(players, net->players, sizeof(new_player_data) * (size_t)count);
        repair_teams_after_game(players, count);
        set_net_player_list(players, count);
    }
    lobby_handle_network_endgame(lobby_game_id);

    bool reenter = forced_endgame_type == _forced_endgame_restart && can_stay;
    if (!reenter) reenter = endgame_dialog(can_stay) && can_stay;
    if (reenter)
    {
        net_game_description description = net->current_game_description;
        follow_next_map(&description, next_map);
        if (configure_netgame(data, &description, true, forced_endgame_type == _forced_endgame_restart))
        {
            set_net_state(_net_reenter_game);
            return true;
        }
    }
    setdown_network_game_from_old_netgame_session(false, true);
    // The room may have died at the end barrier or under the endgame
    // dialog, whose loops pump the lobby: asked again now.
    if (leave_dead_lobby()) return false;
    return back_to_lobby(data);
}

// ---- the states ---------------------------------------------------------------------

// Everybody passes the start barrier, then the game begins; a failed barrier
// ends the session.
static void begin_network_game(new_game_data *data)
{
    if (!vesk_netsync())
    {
        log_message(__FILE__, __LINE__, "the network game's start barrier failed: back to the main menu");
        setdown_network_game_from_old_netgame_session(false, true);
        // A lobby game that never began leaves the lobby too: the logout
        // withdraws its listing, and the main menu holds no lobby session.
        if (lobby_connected() || lobby_connection_died(false)) leave_lobby();
        set_game_state(_game_state_displaying_main_menu);
        return;
    }
    set_next_game_data(data);
    set_game_state(_game_state_running);
}

void enter_network_setup_state(void)
{
    new_game_data data;
    memset(&data, 0, sizeof(data));
    if (setup_network_game(0, &data) == _network_setup_configured)
        begin_network_game(&data);
    else
        set_game_state(_game_state_displaying_main_menu);
}

void enter_network_post_game_state(void)
{
    new_game_data data;
    memset(&data, 0, sizeof(data));
    if (!is_vesk_networking())
    {
        set_game_state(_game_state_displaying_main_menu);
        return;
    }
    // The map is gone: the dialogs' look is the main menu's.
    if (!initialize_interface_without_map())
        log_message(__FILE__, __LINE__, "the endgame dialog's look cannot be loaded");
    if (handle_network_endgame(&data, game_->endgame_state, game_->forced_endgame_type, false))
        begin_network_game(&data);
    else
        set_game_state(_game_state_displaying_main_menu);
}

#undef INTERNAL_DIALOG_ELEMENTS_COLLECTION
