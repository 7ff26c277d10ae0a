// The lobby's list events.  See metaserver_lists.h.

#include "metaserver/metaserver_lists.h"

#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/byte_swapping.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_records.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_rooms.h"
#include "vesk_networking/vesk_teams.h"

// What a listed game with a password carries in place of it, so that joining asks.
static const char password_placeholder[] = "hidden";
static_assert(sizeof(password_placeholder) == 7);

enum
{
    // The room's player, game, buddy and order lists as they came before the
    // lobby dialog was there to take them (a room sends them as it is
    // entered, within the login's own passes); replayed, in order, into the
    // dialog when it comes.
    PENDING_LIST_EVENTS_SIZE = 64 * 1024,
};

static struct metaserver_lists_globals
{
    metaserver_lobby_lists lobby_lists; // every item 0 and every pointer null until set: nothing is filled
    uint8_t pending[PENDING_LIST_EVENTS_SIZE]; // each: the event, the length (both int32_t), the data
    int32_t pending_size;
    bool pending_overflow_logged; // a program without the dialog (the probe) says it once
    // The service sent the buddies or the order's members this login: the
    // dialog shows its list tabs (and the buddy button) for them.
    bool buddies_sent, orders_sent;
} metaserver_lists_globals;

// Keeps a list event that found no lobby dialog; false when it does not fit.
static bool keep_pending_list_event(int32_t event, const void *data, int32_t length)
{
    auto &g = metaserver_lists_globals;
    if (length < 0 || (int64_t)g.pending_size + 8 + length > PENDING_LIST_EVENTS_SIZE)
    {
        if (!g.pending_overflow_logged)
            LOG_REPEATED("lobby list event %d of %d bytes not kept for the lobby dialog: no room",
                         (int)event, (int)length);
        g.pending_overflow_logged = true;
        return false;
    }
    memcpy(g.pending + g.pending_size, &event, 4);
    memcpy(g.pending + g.pending_size + 4, &length, 4);
    if (length) memcpy(g.pending + g.pending_size + 8, data, (size_t)length);
    g.pending_size += 8 + length;
    return true;
}

void forget_pending_metaserver_list_events(void)
{
    auto &g = metaserver_lists_globals;
    g.pending_size = 0;
    g.pending_overflow_logged = false;
    g.buddies_sent = g.orders_sent = false;
}

bool metaserver_buddies_sent(void) { return metaserver_lists_globals.buddies_sent; }
bool metaserver_orders_sent(void) { return metaserver_lists_globals.orders_sent; }

metaserver_lobby_lists empty_metaserver_lobby_lists(void)
{
    metaserver_lobby_lists lists;
    memset(&lists, 0, sizeof(lists));
    lists.player_list_item = lists.game_list_item = lists.buddy_list_item = lists.order_list_item = NONE;
    lists.room_item = lists.search_list_item = NONE;
    return lists;
}

void set_metaserver_lobby_lists(const metaserver_lobby_lists *lists)
{
    auto &g = metaserver_lists_globals;
    g.lobby_lists = lists ? *lists : empty_metaserver_lobby_lists();
    if (!g.lobby_lists.dialog) return;
    // With the dialog set nothing more is kept, so the events are handled
    // where they lie.
    const int32_t size = g.pending_size;
    g.pending_size = 0;
    for (int32_t at = 0; at + 8 <= size;)
    {
        int32_t event, length;
        memcpy(&event, g.pending + at, 4);
        memcpy(&length, g.pending + at + 4, 4);
        handle_metaserver_list_event(&g.lobby_lists, get_metaserver_context(), event, g.pending + at + 8, length);
        at += 8 + length;
    }
}

void set_metaserver_search_list(dialog_data *dialog, int16_t item_id)
{
    auto &lists = metaserver_lists_globals.lobby_lists;
    lists.search_dialog = dialog;
    lists.search_list_item = dialog ? item_id : (int16_t)NONE;
}

void set_metaserver_player_info_target(metaserver_player_stats *stats, int16_t *state)
{
    auto &lists = metaserver_lists_globals.lobby_lists;
    lists.player_stats = stats;
    lists.player_info_state = state;
}

void metaserver_room_name(int16_t room_id, char *buffer, int32_t size)
{
    if (buffer && size > 0) snprintf(buffer, (size_t)size, "Room %d", (int)room_id);
}

static bool has_item(const dialog_data *dialog, int16_t item_id) { return dialog && item_id != NONE; }

// A name from the service as a list shows it: control characters (which
// would break the row) become '?', and an empty name `placeholder` (when
// given).  Names too long were already cut to their field when read.
static void make_name_showable(char *name, size_t size, const char *placeholder)
{
    if (!name || size == 0) return;
    name[size - 1] = 0;
    for (char *at = name; *at; ++at)
        if ((unsigned char)*at < 0x20 || (unsigned char)*at == 0x7F) *at = '?';
    if (!name[0] && placeholder) strlcpy(name, placeholder, size);
}

// ---- player rows ------------------------------------------------------------------

// The row of a list entry; false when its data are malformed.  `*idle` says
// whether the player is idle (not in a game).
static bool build_player_from_entry(const metaserver_player_aux_data *aux, const uint8_t *data, int32_t data_length,
                                    new_player_data *player, bool *idle)
{
    char name[PLAYER_NAME_SIZE], team_name[PLAYER_NAME_SIZE];
    if (!parse_metaserver_player_data(data, data_length, name, sizeof(name), team_name, sizeof(team_name)))
        return false;
    metaserver_player_data look;
    memcpy(&look, data, sizeof(look));
    byte_swap_data("metaserver_player_data", &look, sizeof(look), 1, metaserver_player_data_byte_swapping_data);
    memset(player, 0, sizeof(*player));
    player->team_index = NONE;
    player->type = NONE;
    player->team_captain_identifier = NONE;
    player->unique_identifier = (int32_t)aux->player_id;
    player->metaserver_player_id = (int32_t)aux->player_id;
    player->metaserver_player = 1;
    player->order = aux->order;
    player->version = look.version;
    player->build_number = look.build_number;
    player_appearance_data &appearance = player->appearance;
    appearance.coat_of_arms_bitmap_index = look.coat_of_arms_bitmap_index;
    appearance.caste_bitmap_index = aux->flags & _player_is_draxil_caste_icon_flag ? (int16_t)DRAXIL_CASTE_ICON_INDEX
                                                                                   : aux->caste;
    memcpy(&appearance.primary_color, look.primary_color, sizeof(appearance.primary_color));
    memcpy(&appearance.secondary_color, look.secondary_color, sizeof(appearance.secondary_color));
    memcpy(appearance.name, name, sizeof(name));
    memcpy(appearance.team_name, team_name, sizeof(team_name));
    make_name_showable(appearance.name, sizeof(appearance.name), "(no name)");
    make_name_showable(appearance.team_name, sizeof(appearance.team_name), "(no team)");
    if (aux->flags & _player_is_administrator_flag) player->flags |= _player_is_from_draxil_flag;
    if (idle) *idle = look.state == _player_state_idle;
    return true;
}

static void refresh_room_counts(const metaserver_lobby_lists *lists, const metaserver_context_data *context)
{
    if (!has_item(lists->dialog, lists->room_item) || !context) return;
    // The lobby sends its room table at the login alone: the counts of the
    // room the player is in are those of its lists, which follow every change.
    dialog_data *dialog = lists->dialog;
    room_data room;
    if (get_metaserver_room_data(context->desired_room, &room))
    {
        int16_t players = room.player_count, games = room.game_count;
        if (has_item(dialog, lists->player_list_item))
        {
            players = 0;
            const int16_t rows = bitmap_get_listbox_row_count(dialog, lists->player_list_item);
            for (int16_t row = 0; row < rows; ++row)
                if (!player_list_item_is_team(dialog, lists->player_list_item, row, nullptr)) ++players;
        }
        if (has_item(dialog, lists->game_list_item)) games = bitmap_get_listbox_row_count(dialog, lists->game_list_item);
        if (players != room.player_count || games != room.game_count)
            add_or_change_metaserver_room(context->desired_room, players, games, room.host, room.port, room.room_type,
                                          room.room_flags);
    }
    set_current_room_counts(dialog, lists->room_item, context->desired_room, 0, 0);
}

void handle_metaserver_player_list(const metaserver_lobby_lists *lists, metaserver_context_data *context,
                                   const void *packet, int32_t length)
{
    if (!lists || !has_item(lists->dialog, lists->player_list_item)) return;
    dialog_data *dialog = lists->dialog;
    const int16_t item = lists->player_list_item;
    const uint32_t selected = get_selected_player_user_id(dialog, item);
    metaserver_list_walk walk;
    start_player_list_walk(&walk, packet, length);
    metaserver_player_aux_data aux;
    int32_t data_length;
    begin_player_list_batch(dialog, item);
    while (const uint8_t *data = next_metaserver_list_entry(&walk, nullptr, &aux, &data_length))
    {
        // A deletion names its player by the id alone: the service sends it without data.
        if (aux.verb == _delete_player_verb)
        {
            delete_player_from_list_by_id(dialog, item, aux.player_id);
            continue;
        }
        new_player_data player;
        bool idle = false;
        if (!build_player_from_entry(&aux, data, data_length, &player, &idle))
        {
            LOG_REPEATED("lobby player %u: malformed player data (%d bytes) skipped",
                         (unsigned)aux.player_id, (int)data_length);
            continue;
        }
        switch (aux.verb)
        {
        case _add_player_verb:
        case _change_player_verb: add_player_to_list(dialog, item, &player, 0, aux.player_id, aux.room_id, idle); break;
        default: LOG_REPEATED("what is player_aux_data.verb: %d?;g", (int)aux.verb); continue;
        }
        if (context && aux.player_id == context->local_player_id)
        {
            context->local_player_caste = player.appearance.caste_bitmap_index;
            if (context->player) context->player->appearance.caste_bitmap_index = player.appearance.caste_bitmap_index;
        }
    }
    end_player_list_batch();
    if (selected) select_player_list_item_by_id(dialog, item, selected);
    refresh_room_counts(lists, context);
}

// ---- games -------------------------------------------------------------------------

// The description of a game entry; false when its data are too short.
static bool build_game_from_entry(const metaserver_game_aux_data *aux, const uint8_t *data, int32_t data_length,
                                  net_game_description *game)
{
    if (data_length < METASERVER_GAME_DESCRIPTION_SIZE) return false;
    metaserver_game_description listed;
    memcpy(&listed, data, sizeof(listed));
    byte_swap_data("metaserver_game_description", &listed, sizeof(listed), 1,
                   metaserver_game_description_byte_swapping_data);
    memset(game, 0, sizeof(*game));
    game->parameters = listed.parameters;
    game->public_tags_checksum = (uint32_t)listed.public_tags_checksum;
    game->private_tags_checksum = (uint32_t)listed.private_tags_checksum;
    game->flags = listed.flags;
    game->player_count = listed.player_count;
    const char *end = (const char *)data + data_length;
    const char *at = extract_string(game->name, (const char *)data + METASERVER_GAME_DESCRIPTION_SIZE, sizeof(game->name), end);
    extract_string(game->map_name, at, sizeof(game->map_name), end);
    // An empty name stays empty in the description; its row says so.
    make_name_showable(game->name, sizeof(game->name), nullptr);
    make_name_showable(game->map_name, sizeof(game->map_name), nullptr);
    game->host_or_selector.address.host = (uint32_t)aux->host;
    game->port = (uint16_t)aux->port;
    game->game_id = (uint32_t)aux->game_id;
    const int32_t seconds = aux->seconds_remaining;
    game->game_seconds_remaining = seconds < 0 ? (uint16_t)0xFFFF : (uint16_t)(seconds > 0xFFFE ? 0xFFFE : seconds);
    if (game->flags & _net_game_has_password_flag) memcpy(game->password, password_placeholder, sizeof(password_placeholder));
    if (is_net_game_valid(game, true, nullptr, 0)) game->flags &= (uint16_t)~_net_game_invalid_flag;
    else game->flags |= _net_game_invalid_flag;
    return true;
}

void handle_metaserver_game_list(const metaserver_lobby_lists *lists, const void *packet, int32_t length)
{
    if (!lists || !has_item(lists->dialog, lists->game_list_item)) return;
    dialog_data *dialog = lists->dialog;
    const int16_t item = lists->game_list_item;
    net_game_description selected;
    const bool had_selection = get_game_list_selection(dialog, item, &selected);
    metaserver_list_walk walk;
    start_game_list_walk(&walk, packet, length);
    metaserver_game_aux_data aux;
    int32_t data_length;
    while (const uint8_t *data = next_metaserver_list_entry(&walk, nullptr, &aux, &data_length))
    {
        // A deletion names its game by the id alone: the service sends it without data.
        if (aux.verb == _delete_game_verb)
        {
            delete_game_by_id(dialog, item, (uint32_t)aux.game_id);
            continue;
        }
        net_game_description game;
        if (!build_game_from_entry(&aux, data, data_length, &game))
        {
            LOG_REPEATED("lobby game %d: %d bytes of game data skipped (%d needed)", (int)aux.game_id,
                         (int)data_length, (int)METASERVER_GAME_DESCRIPTION_SIZE);
            continue;
        }
        switch (aux.verb)
        {
        case _add_game_verb:
            // The service may list a game again: its row is replaced.
            delete_game_by_id(dialog, item, game.game_id);
            add_game_to_list(dialog, item, &game);
            break;
        case _change_game_verb: change_game_in_list(dialog, item, &game); break;
        default: LOG_REPEATED("what is game_aux_data.verb: %d?;g", (int)aux.verb); break;
        }
    }
    if (had_selection) select_game_by_id(dialog, item, selected.game_id);
    refresh_room_counts(lists, get_metaserver_context());
}

// ---- the local player ------------------------------------------------------------------

bool handle_metaserver_set_player_data(metaserver_context_data *context, const void *packet, int32_t length)
{
    metaserver_player_aux_data aux;
    int32_t data_length = 0;
    const uint8_t *data = get_player_data_from_metaserver(packet, length, &data_length, &aux);
    new_player_data player;
    if (!data || !build_player_from_entry(&aux, data, data_length, &player, nullptr))
    {
        LOG_REPEATED(
            "lobby: the player data the service sent are malformed (%d bytes); log in again with "
            "the change-appearance option set",
            (int)data_length);
        return false;
    }
    if (!context) return true;
    if (context->player)
    {
        player_appearance_data &look = context->player->appearance;
        look.coat_of_arms_bitmap_index = player.appearance.coat_of_arms_bitmap_index;
        look.caste_bitmap_index = player.appearance.caste_bitmap_index;
        look.primary_color = player.appearance.primary_color;
        look.secondary_color = player.appearance.secondary_color;
        memcpy(look.name, player.appearance.name, sizeof(look.name));
        memcpy(look.team_name, player.appearance.team_name, sizeof(look.team_name));
        context->player->version = player.version;
        context->player->build_number = player.build_number;
        context->player->metaserver_player_id = (int32_t)aux.player_id;
    }
    context->local_player_id = aux.player_id;
    context->local_player_caste = player.appearance.caste_bitmap_index;
    return true;
}

// ---- search, buddies and orders -----------------------------------------------------------

// The list a search, buddy or order list event fills.
struct player_rows
{
    dialog_data *dialog;
    int16_t item_id;
    bool order;
};

typedef void (*player_entry_visitor)(const player_rows *rows, int32_t room_id, const metaserver_player_aux_data *aux,
                                     const new_player_data *player);

// Visits every entry with valid player data of a search, buddy or order list.
static void visit_player_entries(const player_rows *rows, const void *packet, int32_t length,
                                 player_entry_visitor visit)
{
    metaserver_list_walk walk;
    start_search_list_walk(&walk, packet, length);
    metaserver_player_aux_data aux;
    int32_t room_id, data_length;
    while (const uint8_t *data = next_metaserver_list_entry(&walk, &room_id, &aux, &data_length))
    {
        new_player_data player;
        if (build_player_from_entry(&aux, data, data_length, &player, nullptr)) visit(rows, room_id, &aux, &player);
    }
}

static void add_search_row(const player_rows *rows, int32_t room_id, const metaserver_player_aux_data *,
                           const new_player_data *player)
{
    char room[32], row[96];
    metaserver_room_name((int16_t)room_id, room, sizeof(room));
    snprintf(row, sizeof(row), "%s |p(%s)", player->appearance.name, room);
    add_string_to_list(rows->dialog, rows->item_id, row, room_id, true);
}

void handle_metaserver_player_search(dialog_data *dialog, int16_t item_id, const void *packet, int32_t length)
{
    if (!has_item(dialog, item_id)) return;
    const player_rows rows = {dialog, item_id, false};
    visit_player_entries(&rows, packet, length, add_search_row);
}

static const buddy_entry *find_buddy(uint32_t player_id)
{
    const buddy_entry *buddies = get_player_buddy_list();
    for (int32_t i = 0; i < MAXIMUM_BUDDIES; ++i)
        if (buddies[i].player_id == player_id) return &buddies[i];
    return nullptr;
}

static bool order_member_online(uint32_t player_id)
{
    int16_t count = 0;
    const order_member *members = get_order_member_list(&count);
    for (int16_t i = 0; i < count; ++i)
        if (members[i].player_id == player_id && members[i].online) return true;
    return false;
}

// Whether the packet lists the player (entries that fit, valid or not).
static bool packet_lists_player(const void *packet, int32_t length, uint32_t player_id)
{
    metaserver_list_walk walk;
    start_search_list_walk(&walk, packet, length);
    metaserver_player_aux_data aux;
    int32_t data_length;
    while (next_metaserver_list_entry(&walk, nullptr, &aux, &data_length))
        if (aux.player_id == player_id) return true;
    return false;
}

// An order member is shown active when online; a buddy when its entry is
// active, left out when inactive, shown inactive otherwise.
static void add_buddy_or_member_row(const player_rows *rows, int32_t room_id, const metaserver_player_aux_data *aux,
                                    const new_player_data *player)
{
    bool active;
    if (rows->order) active = order_member_online(aux->player_id);
    else
    {
        const buddy_entry *buddy = find_buddy(aux->player_id);
        if (buddy && buddy->active == _buddy_inactive)
        {
            delete_player_from_list_by_id(rows->dialog, rows->item_id, aux->player_id);
            return;
        }
        active = buddy && buddy->active == _buddy_active;
    }
    add_player_to_list(rows->dialog, rows->item_id, player, 0, aux->player_id, room_id, active);
}

void handle_metaserver_buddy_or_order_list(dialog_data *dialog, int16_t item_id, bool order, const void *packet,
                                           int32_t length)
{
    if (!has_item(dialog, item_id)) return;
    const uint32_t selected = get_selected_player_user_id(dialog, item_id);
    for (int16_t row = (int16_t)(bitmap_get_listbox_row_count(dialog, item_id) - 1); row >= 0; --row)
    {
        const uint32_t id = get_player_list_item_id(dialog, item_id, row);
        if (!packet_lists_player(packet, length, id)) delete_player_from_list_by_id(dialog, item_id, id);
    }
    const player_rows rows = {dialog, item_id, order};
    visit_player_entries(&rows, packet, length, add_buddy_or_member_row);
    if (selected) select_player_list_item_by_id(dialog, item_id, selected);
}

bool handle_metaserver_player_info(metaserver_player_stats *stats, const void *packet, int32_t length)
{
    const int32_t needed = METASERVER_PACKET_HEADER_SIZE + (int32_t)sizeof(player_info_packet);
    if (!stats || !packet || length < needed)
    {
        LOG_REPEATED("lobby player information of %d bytes ignored (%d needed)", (int)length,
                     (int)needed);
        return false;
    }
    return build_metaserver_player_stats_from_player_info_packet(
        stats, (const uint8_t *)packet + METASERVER_PACKET_HEADER_SIZE, length - METASERVER_PACKET_HEADER_SIZE);
}

void handle_metaserver_buddy_update(const void *body)
{
    if (!body) return;
    buddy_entry buddies[MAXIMUM_BUDDIES];
    memcpy(buddies, body, sizeof(buddies));
    set_player_buddy_list(buddies);
    send_buddy_query();
}

bool handle_metaserver_order_update(const void *packet, int32_t length)
{
    const int32_t header = METASERVER_PACKET_HEADER_SIZE;
    if (!packet || length < header + 4) return false;
    int32_t count;
    memcpy(&count, (const uint8_t *)packet + header, 4);
    if (count < 0 || count > MAXIMUM_ORDER_MEMBERS || 4 + count * (int32_t)sizeof(order_member) > length - header)
    {
        LOG_REPEATED("lobby order of %d members in %d bytes refused", (int)count, (int)length);
        return false;
    }
    order_member members[MAXIMUM_ORDER_MEMBERS];
    memcpy(members, (const uint8_t *)packet + header + 4, sizeof(order_member) * (size_t)count);
    set_player_order_list(count, members);
    send_order_query();
    return true;
}

// ---- the pump's events ---------------------------------------------------------------------

bool handle_metaserver_list_event(const metaserver_lobby_lists *lists, metaserver_context_data *context,
                                  int32_t event, void *data, int32_t length)
{
    const metaserver_lobby_lists none = empty_metaserver_lobby_lists();
    if (!lists) lists = &none;
    switch (event)
    {
    case _player_list_message: handle_metaserver_player_list(lists, context, data, length); return true;
    case _game_list_message: handle_metaserver_game_list(lists, data, length); return true;
    case _set_player_data_message: handle_metaserver_set_player_data(context, data, length); return true;
    case _player_search_message:
        handle_metaserver_player_search(lists->search_dialog, lists->search_list_item, data, length);
        return true;
    case _buddy_list_message:
    case _order_list_message:
    {
        const bool order = event == _order_list_message;
        handle_metaserver_buddy_or_order_list(lists->dialog, order ? lists->order_list_item : lists->buddy_list_item,
                                              order, data, length);
        return true;
    }
    case _player_info_message:
        if (lists->dialog && lists->player_info_state && *lists->player_info_state == _player_info_requested &&
            handle_metaserver_player_info(lists->player_stats, data, length))
            *lists->player_info_state = _player_info_received;
        return true;
    case _update_player_buddy_list_message:
        handle_metaserver_buddy_update(data);
        if (data) metaserver_lists_globals.buddies_sent = true;
        return true;
    case _update_order_member_list_message:
        if (handle_metaserver_order_update(data, length)) metaserver_lists_globals.orders_sent = true;
        return true;
    default: return false;
    }
}

bool handle_metaserver_list_event_for_lobby(metaserver_context_data *context, int32_t event, void *data,
                                            int32_t length)
{
    const auto &g = metaserver_lists_globals;
    // Without the lobby dialog the lists name no dialog, but a search may be active.
    if (!g.lobby_lists.dialog && (event == _player_list_message || event == _game_list_message ||
                                  event == _buddy_list_message || event == _order_list_message))
    {
        keep_pending_list_event(event, data, length);
        return true;
    }
    return handle_metaserver_list_event(&g.lobby_lists, context, event, data, length);
}
