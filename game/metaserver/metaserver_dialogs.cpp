// The lobby session: login, the event handler and the room change.
// See metaserver_dialogs.h.

#include "metaserver/metaserver_dialogs.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "game_records.h"
#include "game_states.h"
#include "lobby_procedures.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_lobby_dialog.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/metaserver_small_dialogs.h"
#include "metaserver/metaserver_strings.h"
#include "progress_dialog.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk_networking/netgame_lobby.h"
#include "vesk_networking/vesk_network_interface.h"

static struct metaserver_dialog_globals
{
    metaserver_context_data context;
    metaserver_handler_procedure tap;
    int16_t login_final_state;
    uint32_t login_time_limit;
    uint32_t login_started_ms;
    bool (*login_cancel)(void); // a tool's own cancel (its signal), null: none
    // The state a room walk cut short ends the login in; -1 while none.
    int16_t walk_stopped_state;
    bool update_client_flag;
    int32_t update_size, update_host; // of the client update the service offers
    int16_t update_port;
    bool current_room_is_ranked;
} metaserver_dialog_globals = {.login_time_limit = METASERVER_LOGIN_TIME_LIMIT, .walk_stopped_state = -1};

metaserver_context_data *get_metaserver_context(void) { return &metaserver_dialog_globals.context; }
int16_t get_metaserver_login_final_state(void) { return metaserver_dialog_globals.login_final_state; }
void set_metaserver_event_tap(metaserver_handler_procedure tap) { metaserver_dialog_globals.tap = tap; }
void set_metaserver_login_time_limit(uint32_t milliseconds) { metaserver_dialog_globals.login_time_limit = milliseconds; }
void set_metaserver_login_cancel_check(bool (*cancel)(void)) { metaserver_dialog_globals.login_cancel = cancel; }
bool current_metaserver_room_is_ranked(void) { return metaserver_dialog_globals.current_room_is_ranked; }
void reset_current_metaserver_room_ranked_guess(bool value) { metaserver_dialog_globals.current_room_is_ranked = value; }

// ---- messages ------------------------------------------------------------------

void show_metaserver_error_message(const char *text, const char *button)
{
    log_message(__FILE__, __LINE__, "lobby: %s", text ? text : "");
    if (vesk_is_headless() || tag_file_open(DIALOG_GROUP_TAG, WAIT_DIALOG_TAG) == NONE) return;
    dialog_data *dialog = new_dialog(WAIT_DIALOG_TAG, nullptr, nullptr, NONE,
                                     _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return;
    const control_data *message_item = find_control(dialog, 1);
    if (message_item && message_item->handler == static_text_control_def_proc)
        set_bitmap_dialog_static_item_text(dialog, 1, text ? text : "");
    // The box only informs: its one button says the caller's word (OK), not
    // the wait's Cancel.
    const control_data *button_item = find_control(dialog, WAIT_DIALOG_CANCEL_ITEM);
    if (button && button[0] && button_item && button_item->handler == button_control_def_proc)
        set_button_control_name(dialog, WAIT_DIALOG_CANCEL_ITEM, button);
    // Until the button is pressed, or the dialog ends otherwise (the window closed).
    while (dialog_is_open(dialog))
    {
        const int16_t item = modal_dialog(dialog);
        if (item == WAIT_DIALOG_CANCEL_ITEM || item == NONE) break;
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

// ---- the login's bounds ------------------------------------------------------------

// The state the login (or a room change) must end in now, -1 to go on: the
// player cancelled or the program is quitting (the window closed, SIGTERM),
// or the login, its room walk included, passed its limit.
static int16_t login_stop_state(void)
{
    auto &m = metaserver_dialog_globals;
    int16_t pending = NONE;
    if ((m.login_cancel && m.login_cancel()) || (game_state_change_pending(&pending) && pending == _game_state_quit))
        return _metaserver_connection_user_cancelled;
    if (m.context.state == _metaserver_pending_connection && m.login_time_limit &&
        machine_tick_count() - m.login_started_ms > m.login_time_limit)
        return _metaserver_connection_failed_metaserver_not_responding;
    return -1;
}

static bool room_change_must_stop(void) { return login_stop_state() != -1; }

// ---- rooms ---------------------------------------------------------------------

int16_t change_metaserver_room(int16_t room, bool forward)
{
    auto &m = metaserver_dialog_globals;
    m.current_room_is_ranked = false;
    if (room < 0 || room >= INITIAL_MAXIMUM_ROOMS) room = next_metaserver_room(-1, forward);
    m.walk_stopped_state = -1;
    // Each try deletes a room or ends the walk: at most one per slot.
    for (int32_t tries = 0; room != -1 && tries <= INITIAL_MAXIMUM_ROOMS; ++tries)
    {
        room_data data;
        if (get_metaserver_room_data(room, &data))
        {
            // A cancel, the program's end or the login's limit ends the walk
            // itself, not one room's try: the room is kept.
            const int16_t stop = login_stop_state();
            const bool entered = stop == -1 && change_to_room(data.host, data.port, room_change_must_stop);
            if (!entered && (stop != -1 || metaserver_room_change_was_cancelled()))
            {
                // A wait's Cancel leaves no state of its own: the player's.
                m.walk_stopped_state = stop != -1 ? stop : login_stop_state();
                if (m.walk_stopped_state == -1) m.walk_stopped_state = _metaserver_connection_user_cancelled;
                log_message(__FILE__, __LINE__, "lobby room walk ended at room %d: %s", (int)room,
                            m.walk_stopped_state == _metaserver_connection_user_cancelled
                                ? "cancelled"
                                : "the login's time limit passed");
                break;
            }
            if (entered)
            {
                m.current_room_is_ranked = data.room_type == _ranked_room;
                m.context.desired_room = room;
                // The room left's chat, games and players are not this room's.
                empty_metaserver_client_dialog_lists();
                return room;
            }
            log_message(__FILE__, __LINE__, "lobby room %d refused us; trying the next", (int)room);
            delete_metaserver_room(room);
        }
        room = next_metaserver_room(room, forward);
    }
    m.context.desired_room = -1;
    return -1;
}

// Enters the desired room while logging in; no room at all ends the login.
static void enter_desired_room(void)
{
    metaserver_context_data &context = metaserver_dialog_globals.context;
    if (change_metaserver_room(context.desired_room, true) == -1 &&
        context.state == _metaserver_pending_connection)
        context.state = metaserver_dialog_globals.walk_stopped_state != -1 ? metaserver_dialog_globals.walk_stopped_state
                                                                           : (int16_t)_metaserver_connection_no_rooms_available;
}

static void handle_room_list(const void *packet, int32_t length)
{
    const int16_t maximum_players = maximum_players_per_metaserver_room();
    initialize_metaserver_room_list();
    set_maximum_players_per_metaserver_room(maximum_players);
    room_info room;
    for (int32_t i = 0; get_indexed_room_data_from_packet(packet, length, i, &room); ++i)
        add_or_change_metaserver_room(room.room_id, room.player_count, room.game_count, room.host, room.port,
                                      room.room_type, room.flags);
    // A list that arrives during a room change only refreshes the table.
    if (metaserver_dialog_globals.context.state == _metaserver_pending_connection &&
        !metaserver_room_change_in_progress())
        enter_desired_room();
}

// ---- the handler ---------------------------------------------------------------

// The context state each refusal (and the login) moves to; -1: no move.
static int16_t state_for_event(int32_t event)
{
    switch (event)
    {
    case _connection_established: return _metaserver_connected;
    case _connection_refused_bad_version: return _metaserver_connection_failed_bad_version;
    case _connection_refused_game_not_allowed: return _metaserver_connection_failed_games_not_allowed;
    case _connection_refused_bad_user_or_password: return _metaserver_connection_failed_bad_user_or_password;
    case _connection_refused_already_logged_in: return _metaserver_connection_failed_already_logged_in;
    case _connection_refused_account_locked: return _metaserver_connection_failed_account_locked;
    case _connection_refused_metaserver_not_supported: return _metaserver_connection_failed_metaserver_not_supported;
    case _connection_refused_guests_disallowed: return _metaserver_connection_failed_guests_disallowed;
    case _connection_refused_guest_name_taken: return _metaserver_connection_failed_guest_name_taken;
    default: return -1;
    }
}

void metaserver_handler_proc(int32_t event, void *data, int32_t length, void *context_pointer)
{
    auto &m = metaserver_dialog_globals;
    metaserver_context_data *context = (metaserver_context_data *)context_pointer;
    if (!context) return;
    if (m.tap) m.tap(event, data, length, context_pointer);
    // The game being set up takes its events first, then the lobby dialog;
    // a room that went down is gone for the lobby dialog too.
    if (handle_metaserver_event_in_game_lobby(event, data, length))
    {
        if (event == _metaserver_room_went_down) context->state = _metaserver_room_died;
        return;
    }
    // The service names our listed game only in the room's game list.
    if (event == _game_list_message) note_listed_game_in_game_list(data, length);
    const int16_t state = state_for_event(event);
    if (state != -1)
    {
        context->state = state;
        return;
    }
    switch (event)
    {
    case _connection_closed_by_metaserver:
        if (context->state == _metaserver_pending_connection)
            context->state = _metaserver_connection_closed_by_metaserver;
        break;
    case _connection_refused_room_full:
        if (!metaserver_room_change_in_progress())
        {
            const int16_t full = context->desired_room;
            delete_metaserver_room(full);
            if (change_metaserver_room(next_metaserver_room(full, true), true) == -1)
                context->state = m.walk_stopped_state != -1 ? m.walk_stopped_state
                                                            : (int16_t)_metaserver_connection_no_rooms_available;
        }
        break;
    case _metaserver_moved:
    {
        char host[MAXIMUM_METASERVER_HOST_NAME];
        extract_event_text(host, data, length, sizeof(host));
        save_metaserver_preferences(METASERVER_KEEP_STORED_ROOM, host);
        context->state = _metaserver_connection_metaserver_moved;
        break;
    }
    case _room_list_message: handle_room_list(data, length); break;
    case _set_player_room_id_message:
    {
        if (length != 8)
        {
            LOG_REPEATED("lobby room login answer of %d bytes ignored (8 expected)", (int)length);
            break;
        }
        int32_t user_id;
        int16_t maximum_players;
        memcpy(&user_id, data, 4);
        memcpy(&maximum_players, (const uint8_t *)data + 4, 2);
        context->local_player_id = (uint32_t)user_id;
        set_maximum_players_per_metaserver_room(maximum_players);
        break;
    }
    case _metaserver_awaiting_versions_message: send_version_data_to_metaserver(tag_files_get_patch_version()); break;
    default:
        if (!handle_metaserver_event_in_client_dialog(event, data, length) &&
            !handle_metaserver_list_event_for_lobby(context, event, data, length))
            LOG_REPEATED("Got an unknown event! %d (%s)", (int)event, "lobby");
        break;
    }
}

// ---- connecting ----------------------------------------------------------------

int16_t connect_to_metaserver_with_progress_dialog(const char *message, const char *host, uint16_t port,
                                                   const metaserver_login_data *login,
                                                   metaserver_handler_procedure handler, void *context_pointer)
{
    auto &m = metaserver_dialog_globals;
    metaserver_context_data *context = (metaserver_context_data *)context_pointer;
    progress_function(_progress_open_without_bar, message, 0);
    if (!start_metaserver_connection(host, port, handler, login, context))
    {
        context->state = m.update_client_flag ? _metaserver_requires_client_update
                                              : _metaserver_connection_failed_metaserver_not_responding;
        progress_function(_progress_close, nullptr, 0);
        return context->state;
    }
    m.login_started_ms = machine_tick_count();
    while (context->state == _metaserver_pending_connection)
    {
        if (progress_function(_progress_modal_pass, nullptr, 0))
        {
            context->state = _metaserver_connection_user_cancelled;
            break;
        }
        // Quitting, or a tool's own cancel, ends the login at once.
        if (login_stop_state() == _metaserver_connection_user_cancelled)
        {
            context->state = _metaserver_connection_user_cancelled;
            break;
        }
        if (m.update_client_flag)
        {
            context->state = _metaserver_requires_client_update;
            break;
        }
        // Without the dialog nothing else runs the program (and with it the pump).
        if (!get_progress_dialog()) update_everything();
        update_metaserver();
        // The room walk inside the pump ends at the same limit (and says so).
        if (context->state == _metaserver_pending_connection && m.login_time_limit &&
            machine_tick_count() - m.login_started_ms > m.login_time_limit)
            context->state = _metaserver_connection_failed_metaserver_not_responding;
        if (context->state == _metaserver_connection_failed_metaserver_not_responding)
            log_message(__FILE__, __LINE__, "lobby login took longer than %u ms", (unsigned)m.login_time_limit);
    }
    progress_function(_progress_close, nullptr, 0);
    return context->state;
}

void note_metaserver_client_update(const void *packet, int32_t length)
{
    auto &m = metaserver_dialog_globals;
    const int32_t header = 8, fields = 10; // size, host, port
    if (!packet || length < header + fields)
    {
        LOG_REPEATED("a lobby client update of %d bytes ignored", (int)length);
        return;
    }
    const uint8_t *body = (const uint8_t *)packet + header;
    memcpy(&m.update_size, body, 4);
    memcpy(&m.update_host, body + 4, 4);
    memcpy(&m.update_port, body + 8, 2);
    m.update_client_flag = true;
}

// ---- login ---------------------------------------------------------------------

struct login_outcome
{
    int16_t result;
    int16_t message; // metaserver_string, NONE: none
};

static login_outcome outcome_of_state(int16_t state)
{
    switch (state)
    {
    case _metaserver_connection_failed_bad_user_or_password: return {_metaserver_bad_login, _bad_password_msg};
    case _metaserver_connection_failed_bad_version: return {_metaserver_game_entered_failure, _bad_version_msg};
    case _metaserver_connection_failed_games_not_allowed:
        return {_metaserver_game_entered_failure, _game_not_allowed_msg};
    case _metaserver_connection_user_cancelled: return {_metaserver_game_entered_failure, NONE};
    case _metaserver_connection_failed_metaserver_not_responding:
        return {_metaserver_game_entered_failure, _metaserver_not_responding_msg};
    case _metaserver_connection_no_rooms_available:
        return {_metaserver_game_entered_failure, _metaserver_has_no_rooms_msg};
    case _metaserver_connection_failed_already_logged_in:
        return {_metaserver_retry, _metaserver_user_already_logged_in_msg};
    case _metaserver_sent_player_to_a_url: return {_metaserver_quit_game_immediately, NONE};
    case _metaserver_connection_metaserver_moved: return {_metaserver_retry, NONE};
    case _metaserver_requires_client_update: return {_metaserver_game_entered_failure, NONE};
    case _metaserver_connection_failed_account_locked:
        return {_metaserver_game_entered_failure, _metaserver_account_locked_string};
    case _metaserver_connection_failed_metaserver_not_supported:
        return {_metaserver_game_entered_failure, _metaserver_not_supported_string};
    case _metaserver_connection_closed_by_metaserver: return {_metaserver_game_entered_failure, NONE};
    case _metaserver_connection_failed_guests_disallowed: return {_metaserver_bad_login, _guests_disallowed_msg};
    case _metaserver_connection_failed_guest_name_taken: return {_metaserver_bad_login, _guest_name_taken_msg};
    case _metaserver_connected: return {_metaserver_game_entered_successfully, NONE};
    default:
        LOG_REPEATED("halt: what is state %d?", (int)state);
        return {_metaserver_game_entered_failure, NONE};
    }
}

// Fills what the lobby client is handed from the preferences and the player,
// and rewrites the preferences with the typed name (and password when asked).
static void prepare_login(metaserver_login_data *login, const new_player_data *player, const char *user_name,
                          const char *password, char *host, size_t host_size, uint16_t *port, int16_t *desired_room)
{
    memset(login, 0, sizeof(*login));
    strlcpy(login->application, METASERVER_APPLICATION_NAME, sizeof(login->application));
    login->platform_type = _platform_is_linux;
    strlcpy(login->user, user_name ? user_name : "", sizeof(login->user));
    strlcpy(login->password, password ? password : "", sizeof(login->password));
    strlcpy(login->build_date, METASERVER_BUILD_DATE, sizeof(login->build_date));
    strlcpy(login->build_time, METASERVER_BUILD_TIME, sizeof(login->build_time));
    login->game_data_size = METASERVER_GAME_DATA_SIZE;
    login->player_data_size = (int16_t)build_metaserver_player_data_from_appearance(
        login->player_data, &player->appearance, _player_state_idle);
    login->country_code = get_application_country_code();

    metaserver_parameters defaults;
    metaserver_parameters *preferences = read_metaserver_preferences();
    if (!preferences)
    {
        default_metaserver_preferences(&defaults);
        preferences = &defaults;
    }
    if (preferences->flags & _reset_client_data_flag) login->flags = _change_player_data_on_login_flag;
    login->user_id = (preferences->flags & _login_anonymous_flag) ? -1
                     : preferences->user_id == -1                 ? 0
                                                                  : preferences->user_id;
    strlcpy(host, preferences->host, host_size);
    *port = preferences->port;
    *desired_room = preferences->desired_room;

    strlcpy(preferences->user, login->user, sizeof(preferences->user));
    memset(preferences->password, 0, sizeof(preferences->password));
    if (preferences->flags & _save_password_flag)
        encode_metaserver_password(login->password, preferences->password, sizeof(preferences->password));
    if (preferences != &defaults)
    {
        write_metaserver_preferences();
        free_metaserver_preferences();
    }
}

int16_t login_to_metaserver(net_game_description *game_description, new_player_data *player, const char *user_name,
                            const char *password)
{
    auto &m = metaserver_dialog_globals;
    if (!player) return _metaserver_game_entered_failure;
    initialize_metaserver_room_list();
    forget_pending_metaserver_list_events();
    metaserver_login_data login;
    char host[MAXIMUM_METASERVER_HOST_NAME];
    uint16_t port = DEFAULT_METASERVER_PORT;
    int16_t desired_room = 0;
    prepare_login(&login, player, user_name, password, host, sizeof(host), &port, &desired_room);

    metaserver_context_data &context = m.context;
    if (context.state != _metaserver_uninitialized)
    {
        // A session that ended without its logout (its room died during a
        // game) must not keep the player out of the lobby.
        log_message(__FILE__, __LINE__, "the lobby session left in state %d is closed before the login",
                    (int)context.state);
        logout_of_metaserver();
    }
    context.state = _metaserver_pending_connection;
    context.local_player_id = 0; // until the room names us
    context.local_player_caste = -1;
    context.game_description = game_description;
    context.player = player;
    context.desired_room = desired_room;

    m.login_final_state = connect_to_metaserver_with_progress_dialog(
        get_metaserver_string(_connecting_msg), host, port, &login, metaserver_handler_proc, &context);
    memset(&login, 0, sizeof(login)); // the password leaves no copy behind
    if (m.login_final_state == _metaserver_connected)
    {
        // Games found in the lobby are played on the shared data alone.
        context.disabled_local_folder_on_login = !vesk_local_folder_disabled();
        if (context.disabled_local_folder_on_login) initialize_vesk_for_new_map(nullptr, true);
        // The room's players and games come at once: the dialog's lists take them.
        create_metaserver_client_dialog();
        return _metaserver_game_entered_successfully;
    }

    logout_of_metaserver();
    const login_outcome outcome = outcome_of_state(m.login_final_state);
    if (const char *message = get_metaserver_state_message(m.login_final_state))
        show_metaserver_error_message(message, m.login_final_state == _metaserver_connection_closed_by_metaserver
                                                   ? "OK"
                                                   : get_metaserver_string(_ok_msg));
    return outcome.result;
}

const char *get_metaserver_state_message(int16_t state)
{
    if (state == _metaserver_connection_closed_by_metaserver) return "Connection closed by server";
    const int16_t message = outcome_of_state(state).message;
    return message == NONE ? nullptr : get_metaserver_string(message);
}

// ---- the session's end -----------------------------------------------------------

bool metaserver_connected(void) { return metaserver_dialog_globals.context.state == _metaserver_connected; }

bool metaserver_connection_died(bool show)
{
    const bool died = metaserver_dialog_globals.context.state == _metaserver_room_died;
    if (died && show)
        show_metaserver_error_message(get_metaserver_string(_metaserver_room_died_msg), get_metaserver_string(_ok_msg));
    return died;
}

void logout_of_metaserver(void)
{
    metaserver_context_data &context = metaserver_dialog_globals.context;
    // A direct game after a ranked room is not ranked.
    reset_current_metaserver_room_ranked_guess(false);
    // A game still listed is withdrawn before the connection closes (a game
    // whose start failed, a session left mid-way): the room must not offer it.
    remove_game_from_room_list();
    dispose_metaserver_client_dialog();
    disconnect_from_metaserver();
    dispose_metaserver_room_list();
    context.state = _metaserver_uninitialized;
    if (context.disabled_local_folder_on_login) initialize_vesk_for_new_map(nullptr, false);
    context.disabled_local_folder_on_login = false;
}

// ---- registration ----------------------------------------------------------------

static const lobby_procedures metaserver_lobby_procedures = {
    .update_metaserver = update_metaserver,
    .get_player_buddy_status = metaserver_player_buddy_status,
    .metaserver_room_count = metaserver_room_table_count,
    .send_recording_stream_header = send_recording_stream_header_to_metaserver,
    .send_recording_stream_command = send_recorded_command_to_metaserver,
    .send_recording_stream_end = send_recording_stream_end_to_metaserver,
    .connected = metaserver_connected,
    .current_room_is_ranked = current_metaserver_room_is_ranked,
    .choose_protocol = choose_protocol_with_lobby_login,
    .login = login_to_metaserver,
    .run_session_dialog = handle_metaserver_dialog_for_session,
    .session_returns_to_login = metaserver_session_returns_to_login,
    .logout = logout_of_metaserver,
    .connection_died = metaserver_connection_died,
    .synchronize_game_description = synchronize_netgame_description_with_metaserver,
    .game_id = lobby_game_id_of_session,
    .game_started = netgame_lobby_game_started,
    .send_game_player_list = send_game_player_list_to_metaserver,
    .handle_network_endgame = metaserver_handle_network_endgame,
    .send_room_chat_command = send_chat_command_to_lobby_room,
    .query_dialog = metaserver_query_dialog,
    .show_error_message = show_metaserver_error_message,
    .get_address = get_metaserver_address,
    .set_address = set_metaserver_address,
};

void register_metaserver_hooks(void)
{
    // The lobby's controls go with its table: both are registered once.
    if (lobby_procedures_registered())
    {
        log_message(__FILE__, __LINE__, "the lobby's table is registered already: it stays");
        return;
    }
    register_metaserver_controls();
    register_lobby_procedures(&metaserver_lobby_procedures);
}
