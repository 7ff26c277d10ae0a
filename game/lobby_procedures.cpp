// The lobby's one registration point and the calls that default for it.

#include "lobby_procedures.h"

#include "cseries/log.h"
#include "cseries/procedure_table_slot.h"

static procedure_table_slot<lobby_procedures> lobby_table_slot("lobby procedures");

bool register_lobby_procedures(const lobby_procedures *procedures) { return lobby_table_slot.fill(procedures); }

const lobby_procedures *get_lobby_procedures(void) { return lobby_table_slot.get(); }

bool lobby_procedures_registered(void) { return lobby_table_slot.filled(); }

char get_player_buddy_status(int32_t lobby_player_id)
{
    const auto procedure = get_lobby_procedures()->get_player_buddy_status;
    return procedure ? procedure(lobby_player_id) : (char)0;
}

int16_t metaserver_room_count(void)
{
    const auto procedure = get_lobby_procedures()->metaserver_room_count;
    return procedure ? procedure() : (int16_t)0;
}

bool lobby_connected(void)
{
    const auto procedure = get_lobby_procedures()->connected;
    return procedure && procedure();
}

bool lobby_room_is_ranked(void)
{
    const auto procedure = get_lobby_procedures()->current_room_is_ranked;
    return procedure && procedure();
}

int16_t lobby_choose_protocol(new_player_data *player, uint32_t *protocol, bool first_pass, bool *use_lobby,
                              char *login, size_t login_size, char *password, size_t password_size)
{
    const auto procedure = get_lobby_procedures()->choose_protocol;
    if (procedure) return procedure(player, protocol, first_pass, use_lobby, login, login_size, password, password_size);
    log_message(__FILE__, __LINE__, "no lobby client to choose the network service with: no network game");
    return 0;
}

int16_t lobby_login(net_game_description *description, new_player_data *player, const char *login,
                    const char *password)
{
    const auto procedure = get_lobby_procedures()->login;
    return procedure ? procedure(description, player, login, password) : (int16_t)0;
}

int16_t lobby_run_session_dialog(new_game_data *data, net_game_description *description, new_player_data *player,
                                 uint32_t protocol, bool first_entry)
{
    const auto procedure = get_lobby_procedures()->run_session_dialog;
    return procedure ? procedure(data, description, player, protocol, first_entry) : (int16_t)0;
}

bool lobby_session_returns_to_login(void)
{
    const auto procedure = get_lobby_procedures()->session_returns_to_login;
    return procedure && procedure();
}

void lobby_logout(void)
{
    if (const auto procedure = get_lobby_procedures()->logout) procedure();
}

bool lobby_connection_died(bool show)
{
    const auto procedure = get_lobby_procedures()->connection_died;
    return procedure && procedure(show);
}

void lobby_synchronize_game_description(void)
{
    if (const auto procedure = get_lobby_procedures()->synchronize_game_description) procedure();
}

void lobby_game_started(const new_game_data *data)
{
    if (const auto procedure = get_lobby_procedures()->game_started) procedure(data);
}

void lobby_send_game_player_list(int32_t game_id, const uint32_t *player_ids, int16_t count)
{
    if (const auto procedure = get_lobby_procedures()->send_game_player_list) procedure(game_id, player_ids, count);
}

void lobby_handle_network_endgame(int32_t game_id)
{
    if (const auto procedure = get_lobby_procedures()->handle_network_endgame) procedure(game_id);
}

bool lobby_send_room_chat_command(const char *line)
{
    const auto procedure = get_lobby_procedures()->send_room_chat_command;
    return procedure && procedure(line);
}

bool lobby_query_dialog(const char *text)
{
    const auto procedure = get_lobby_procedures()->query_dialog;
    return procedure && procedure(text);
}

void lobby_show_error_message(const char *text, const char *button)
{
    if (const auto procedure = get_lobby_procedures()->show_error_message) procedure(text, button);
    else log_message(__FILE__, __LINE__, "%s", text ? text : "");
}

void lobby_get_address(char *text, size_t size)
{
    if (!text || !size) return;
    text[0] = 0;
    if (const auto procedure = get_lobby_procedures()->get_address) procedure(text, size);
}

bool lobby_set_address(const char *text)
{
    const auto procedure = get_lobby_procedures()->set_address;
    return procedure && procedure(text);
}
