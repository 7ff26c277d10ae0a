// Chat, dot commands and the chat back log.  See vesk_chat.h.

#include "vesk_networking/vesk_chat.h"

#include <cctype>
#include <cstring>

#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/player_list_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "lobby_procedures.h"
#include "gameplay_versions.h"
#include "monster_initializers.h"
#include "networking/network_constants.h"
#include "players.h"
#include "tag_files/plugins.h"
#include "vesk/string_lists.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"
#include "version.h"

enum
{
    CHAT_NOTICE_SIZE = 256, // a formatted notice: 255 characters and the terminator
    CHAT_EDIT_LINE_SIZE = 256,
    VERSION_NAME_GAMEPLAY_VERSION = CURRENT_VERSION_IDENTIFIER,
    CHAT_PLUGIN_TYPE = 1,
    MAXIMUM_LISTED_PLUGINS = 16,
};

static struct
{
    chat_back_log ingame_chat_log;
} vesk_chat_globals;

// ---- appearances --------------------------------------------------------------------

// The players as every machine's player list shows them: sorted, their
// appearances arbitrated.  Every machine computes the same from the same
// list, so the host can stamp a relayed line with what receivers look for.
static int16_t shown_players(new_player_data *players)
{
    const int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i) players[i] = *get_net_player(i);
    sort_new_player_data(players, count, false);
    arbitrate_player_appearances(players, count);
    return count;
}

static chat_appearance appearance_of(const player_appearance_data &shown)
{
    chat_appearance appearance;
    memset(&appearance, 0, sizeof(appearance));
    strlcpy_field(appearance.player_name, sizeof(appearance.player_name), shown.name, sizeof(shown.name));
    appearance.red = shown.primary_color.red;
    appearance.green = shown.primary_color.green;
    appearance.blue = shown.primary_color.blue;
    return appearance;
}

// The appearance the player list shows for `player_id`; false when not listed.
static bool shown_appearance_of(int32_t player_id, chat_appearance *appearance)
{
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    const int16_t count = shown_players(players);
    for (int16_t i = 0; i < count; ++i)
    {
        if (players[i].unique_identifier != player_id) continue;
        *appearance = appearance_of(players[i].appearance);
        return true;
    }
    return false;
}

// The listed player the appearance belongs to; NONE when nobody matches.
static int32_t player_with_appearance(const chat_appearance *appearance)
{
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    const int16_t count = shown_players(players);
    for (int16_t i = 0; i < count; ++i)
    {
        const chat_appearance shown = appearance_of(players[i].appearance);
        if (strncmp(shown.player_name, appearance->player_name, sizeof(shown.player_name)) == 0 &&
            shown.red == appearance->red && shown.green == appearance->green && shown.blue == appearance->blue)
            return players[i].unique_identifier;
    }
    return NONE;
}

// ---- sending ----------------------------------------------------------------------------

void send_chat_text(const chat_appearance *appearance, const char *text, int32_t to, uint16_t flags, int16_t type,
                    int16_t identifier)
{
    net_game_data *game = get_vesk_net_globals()->game;
    if (!game || !appearance || !text) return;
    if (!VASSERT(to >= 0 && to <= kSendToAllPlayers, "a chat line to a player id above 255")) return;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    if (!build_chat_packet(packet, sizeof(packet), appearance, (uint8_t)to, flags, type, identifier, text)) return;
    net_send(game, packet, 0);
}

void autohost_send_chat_text(const char *text)
{
    chat_appearance appearance;
    memset(&appearance, 0, sizeof(appearance));
    strlcpy(appearance.player_name, "Autohost", sizeof(appearance.player_name));
    send_chat_text(&appearance, text, NET_HOST_PLAYER_ID, _chat_packet_relay_request_flag, _broadcast_chat_message,
                   NONE);
}

void send_local_chat_text(const char *text, int16_t type, int16_t identifier)
{
    chat_appearance appearance;
    if (!shown_appearance_of(get_local_player_id(), &appearance))
    {
        log_message(__FILE__, __LINE__, "a chat line is not sent: the local player is not listed");
        return;
    }
    send_chat_text(&appearance, text, NET_HOST_PLAYER_ID, _chat_packet_relay_request_flag, type, identifier);
}

static void add_notice(dialog_data *dialog, const char *text)
{
    add_chat_text_full(dialog, CHAT_DIALOG_CHAT_LIST_ITEM, _motd_chat_message_type, nullptr, nullptr, text, false);
}

static void notice_to_dialog(void *context, const char *text) { add_notice((dialog_data *)context, text); }

enum
{
    REMOVAL_NOTICE_PASSES = 4,
};

static struct
{
    int32_t removed_player_id; // the host's last removal; NONE: none
    char line_from_host[CHAT_ENTRY_TEXT_SIZE];
} departure_globals = {NONE, ""};

static void show_network_notice(const char *text);

void announce_player_departure(const new_player_data *departed)
{
    if (!departed || departed->unique_identifier == get_local_player_id()) return;
    char name[PLAYER_NAME_SIZE];
    strlcpy_field(name, sizeof(name), departed->appearance.name, sizeof(departed->appearance.name));
    const bool removed = departed->unique_identifier == departure_globals.removed_player_id;
    if (removed) departure_globals.removed_player_id = NONE;
    char text[CHAT_ENTRY_TEXT_SIZE];
    slprintf(text, sizeof(text), removed ? "%s was removed from the game." : "%s has left the game.",
             name[0] ? name : "A player");
    // A peer joining and leaving in a loop would write a line each time:
    // each named player's once, then counted; the unnamed share one record.
    const int32_t subject = name[0] ? (int32_t)departed->unique_identifier : REPEATED_LOG_SUBJECTS;
    LOG_REPEATED_OF_KIND(subject, REPEATED_LOG_SUBJECTS + 1, "notice: %s", text);
    show_network_notice(text);
}

void tell_player_removed_by_host(int32_t player_id)
{
    departure_globals.removed_player_id = player_id;
    chat_appearance appearance;
    if (player_id < 0 || player_id > MAXIMUM_PLAYER_ID || !shown_appearance_of(get_local_player_id(), &appearance))
        return;
    // Straight to the player, not relayed: the relay would find it gone.
    send_chat_text(&appearance, "The host removed you from the game.", player_id, 0, _directed_chat_message,
                   (int16_t)player_id);
    // Its removal empties its queues: the line is sent on its way first (a
    // few passes carry it from the host's own player to the player's stream).
    if (net_game_data *game = get_vesk_net_globals()->game)
        for (int32_t pass = 0; pass < REMOVAL_NOTICE_PASSES; ++pass) net_process(game);
}

const char *last_line_from_host_to_me(bool forget)
{
    if (forget) departure_globals.line_from_host[0] = 0;
    return departure_globals.line_from_host;
}

// The notice in the set-up's chat, or on the console of a running game, and
// in the back log; not in the log.
static void show_network_notice(const char *text)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->configure_dialog && dialog_has_item(net->configure_dialog, CHAT_DIALOG_CHAT_LIST_ITEM))
        add_notice(net->configure_dialog, text);
    else if (net->state == _net_game_in_progress)
    {
        if (const print_to_console_procedure print = get_print_to_console_procedure()) print(text);
    }
    add_chat_to_back_log(_motd_chat_message_type, nullptr, nullptr, text);
}

void add_network_notice(const char *text)
{
    if (!text || !text[0]) return;
    log_message(__FILE__, __LINE__, "notice: %s", text);
    show_network_notice(text);
}

bool send_chat_or_dot_command(dialog_data *dialog)
{
    if (!dialog) return false;
    char line[CHAT_EDIT_LINE_SIZE];
    get_bitmap_dialog_edit_item_text(dialog, CHAT_DIALOG_EDIT_ITEM, line, (int32_t)sizeof(line));
    if (!line[0]) return false;
    if (!run_chat_dot_command(line, dialog, notice_to_dialog, dialog))
    {
        const int16_t list = CHAT_DIALOG_PLAYER_LIST_ITEM;
        const int16_t row = bitmap_get_listbox_value(dialog, list);
        int32_t captain = NONE;
        // A dot and a letter with nothing selected go to the lobby room,
        // which knows the lobby's commands; without the lobby they are chat.
        if (row < 0 && line[0] == '.' && isalpha((unsigned char)line[1]) && lobby_send_room_chat_command(line))
        {
            // the lobby room took it
        }
        else if (row < 0)
            send_local_chat_text(line, _broadcast_chat_message, NONE);
        else if (player_list_item_is_team(dialog, list, row, &captain))
            send_local_chat_text(line, _team_chat_message, (int16_t)captain);
        else
        {
            send_local_chat_text(line, _directed_chat_message, (int16_t)get_player_list_item_id(dialog, list, row));
            if (!player_list_selection_is_locked(dialog, list))
            {
                bitmap_clear_selections(dialog, list);
                if (dialog == get_vesk_net_globals()->configure_dialog)
                {
                    bitmap_set_item_enabled(dialog, _netgame_setup_boot_item, false);
                    bitmap_set_item_enabled(dialog, _netgame_setup_remove_from_team_item, false);
                }
            }
        }
    }
    set_bitmap_dialog_edit_item_text(dialog, CHAT_DIALOG_EDIT_ITEM, "");
    return true;
}

// ---- receiving ----------------------------------------------------------------------------

static void relay_chat(const chat_packet *request, const char *text)
{
    const int32_t sender = request->header.from;
    chat_appearance appearance = request->player;
    // The host's own player is trusted; anybody else speaks with the
    // appearance the player list shows for it.
    if (sender != get_local_player_id() && !shown_appearance_of(sender, &appearance))
    {
        log_game_packet_refusal(sender, _game_refusal_unknown_player, "a chat line from a player not listed");
        return;
    }
    // The copies are the sender's to pay for: each receiver gets at most one.
    if (sender != get_local_player_id() && !player_share_takes_relayed_packet(sender, request->header.messageLen))
        return;
    const int16_t type = request->type, identifier = request->identifier;
    // A line never stands before what a receiver's link still has to carry:
    // a receiver that is behind is skipped, that receiver alone, the
    // sender's share paid once.
    net_game_data *const game = get_vesk_net_globals()->game;
    const auto relay = [&](int32_t to) {
        if (sender != get_local_player_id() && net_player_link_is_behind(game, to))
        {
            LOG_REPEATED_OF_SUBJECT(to, "a chat line of player %d to %d skipped: the receiver's link is behind",
                                    (int)sender, (int)to);
            return;
        }
        send_chat_text(&appearance, text, to, 0, type, identifier);
    };
    switch (type)
    {
    case _broadcast_chat_message:
        // One copy to everybody while every link keeps up; else one to each
        // listed player whose link does.
        if (sender == get_local_player_id() || !net_player_link_is_behind(game, kSendToAllPlayers))
            relay(kSendToAllPlayers);
        else
            for (int16_t i = 0; i < get_net_player_count(); ++i) relay(get_net_player(i)->unique_identifier);
        break;
    case _directed_chat_message:
        if (find_net_player_index(identifier) >= 0) relay(identifier);
        if (identifier != sender) relay(sender);
        break;
    case _team_chat_message:
    {
        bool sender_reached = false;
        for (int16_t i = 0; i < get_net_player_count(); ++i)
        {
            const new_player_data *player = get_net_player(i);
            if (player->team_captain_identifier != identifier) continue;
            relay(player->unique_identifier);
            sender_reached = sender_reached || player->unique_identifier == sender;
        }
        if (!sender_reached) relay(sender);
        break;
    }
    default:
        LOG_REPEATED_OF_SUBJECT(sender, "halt: a chat line of unknown type %d from player %d", type, (int)sender);
        relay(sender);
        break;
    }
}

static void deliver_chat(const chat_packet *delivered, const char *text)
{
    const int32_t sender = player_with_appearance(&delivered->player);
    const bool local = sender != NONE && sender == get_local_player_id();
    const int16_t style = delivered->type == _team_chat_message        ? _team_chat_message_type
                          : delivered->type == _broadcast_chat_message ? _normal_chat_message_type
                                                                       : _directed_chat_message_type;
    char name[CHAT_ENTRY_NAME_SIZE];
    strlcpy_field(name, sizeof(name), delivered->player.player_name, sizeof(delivered->player.player_name));
    const rgb_color color = {delivered->player.red, delivered->player.green, delivered->player.blue, 0};
    if (dialog_data *dialog = get_vesk_net_globals()->configure_dialog)
        add_chat_text_full(dialog, CHAT_DIALOG_CHAT_LIST_ITEM, style, name, &color, text, local);
    add_chat_to_back_log(style, name, &color, text);
    // What the host said to this player alone is what a player removed from
    // the game is shown as it lands back in the menus.
    if (delivered->type == _directed_chat_message && sender == NET_HOST_PLAYER_ID && !local)
        strlcpy(departure_globals.line_from_host, text, sizeof(departure_globals.line_from_host));
}

bool chat_relay_is_heeded(uint16_t what)
{
    return what != _chat_packet || get_vesk_net_globals()->state == _net_configuring_game;
}

void handle_chat_packet(void *packet)
{
    if (!packet) return;
    const chat_packet *chat = (const chat_packet *)packet;
    const int32_t from = chat->header.from;
    const char *shifted = extract_text_from_chat_packet(packet);
    if (!shifted)
    {
        log_game_packet_refusal(from, _game_refusal_malformed, "a chat packet without a terminated text");
        return;
    }
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->state != _net_configuring_game)
    {
        // In a running game chat travels as chat commands.
        if (net->state != _net_game_in_progress)
            LOG_REPEATED("Got a chat packet in an unacceptable state! %d", net->state);
        return;
    }
    if (chat->flags & _chat_packet_relay_request_flag)
    {
        if (!local_player_is_network_originator()) return; // requests are the host's
        char text[MAXIMUM_SINGLE_PACKET_SIZE];
        decode_chat_text(shifted, text, (int32_t)sizeof(text));
        relay_chat(chat, text);
        return;
    }
    // A delivered line comes from the host alone: a player that sends one
    // directly would choose its own appearance.
    if (from != NET_HOST_PLAYER_ID)
    {
        log_game_packet_refusal(from, _game_refusal_not_allowed, "a delivered chat line not from the host");
        return;
    }
    char text[MAXIMUM_SHOWN_CHAT_TEXT_LENGTH + 1];
    decode_chat_text(shifted, text, (int32_t)sizeof(text));
    deliver_chat(chat, text);
}

// ---- dot commands -----------------------------------------------------------------------

namespace {

struct dot_context
{
    chat_dot_place place;
    chat_notice_procedure notice;
    void *context;

    void say(const char *text) const { notice(context, text); }
};

const net_game_description *current_description(void)
{
    return &get_vesk_net_globals()->current_game_description;
}

const char *tr(const char *text) { return translate_string(text); }

void dot_version(const dot_context &dot)
{
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s |i%s|p (%s).", tr("You are using"),
             get_version_string(VERSION_NAME_GAMEPLAY_VERSION, true), VESK_VERSION_STRING);
    dot.say(text);
}

void dot_count(const dot_context &dot)
{
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s: %d / %d", tr("Players in game"), (int)get_net_player_count(),
             (int)current_description()->parameters.maximum_players);
    dot.say(text);
}

void dot_host(const dot_context &dot)
{
    const int16_t index = find_net_player_index(NET_HOST_PLAYER_ID);
    if (index < 0) return;
    char name[PLAYER_NAME_SIZE + 1];
    strlcpy_field(name, sizeof(name), get_net_player(index)->appearance.name, PLAYER_NAME_SIZE);
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s: %s", tr("Game host"), name);
    dot.say(text);
}

void dot_plugins(const dot_context &dot)
{
    int16_t indexes[MAXIMUM_LISTED_PLUGINS];
    int32_t count = 0;
    tag_file_plugins_decode(indexes, &count, current_description()->parameters.plugin_data, nullptr, nullptr, 0);
    bool listed = false;
    for (int32_t i = 0; i < count && i < MAXIMUM_LISTED_PLUGINS; ++i)
    {
        const plugin_datum *plugin = get_plugin_data(indexes[i]);
        if (!plugin || plugin->type != CHAT_PLUGIN_TYPE) continue;
        if (!listed) dot.say(tr("Active Plugins:"));
        listed = true;
        // A plug-in that offers no maps is marked.
        const bool offers_maps = plugin->solo_entry_point_count || plugin->multiplayer_entry_point_count;
        char name[TAG_NAME_SIZE + 1];
        strlcpy_field(name, sizeof(name), plugin->name, sizeof(plugin->name));
        char text[CHAT_NOTICE_SIZE];
        slprintf(text, sizeof(text), "  %s%s\r", offers_maps ? "" : "\xC6 ", name);
        dot.say(text);
    }
    if (!listed) dot.say(tr("No plugins are currently active."));
}

void dot_info(const dot_context &dot)
{
    const net_game_description *description = current_description();
    char name[NET_GAME_NAME_SIZE + 1];
    strlcpy_field(name, sizeof(name), description->name, sizeof(description->name));
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s: %s", tr("Game name"), name);
    dot.say(text);
    dot_host(dot);
    if (description->flags & _net_game_has_password_flag) dot.say(tr("Game password has been set."));
    dot_count(dot);
    dot_plugins(dot);
    dot_version(dot);
}

void say_user_id(const dot_context &dot, const new_player_data &player, uint32_t id)
{
    char name[PLAYER_NAME_SIZE + 1];
    strlcpy_field(name, sizeof(name), player.appearance.name, PLAYER_NAME_SIZE);
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s|p %s %d (0x%x)", name, tr("is user ID"), (int)id, (unsigned)id);
    dot.say(text);
}

// In the lobby every row is a user: the row's identifier is the user ID.
void lobby_userid(const dot_context &dot)
{
    dialog_data *dialog = dot.place.dialog;
    const int16_t list = dot.place.player_list_item;
    const uint32_t id = dialog ? get_selected_player_user_id(dialog, list) : 0;
    new_player_data player;
    if (id == 0 || !get_player_from_list_by_id(dialog, list, id, &player))
    {
        dot.say(tr("Get whose userid?"));
        return;
    }
    say_user_id(dot, player, id);
    if (!player_list_selection_is_locked(dialog, list)) bitmap_clear_selections(dialog, list);
}

void dot_userid(const dot_context &dot)
{
    if (dot.place.lobby)
    {
        lobby_userid(dot);
        return;
    }
    if (netgame_lobby_game_id() < 0)
    {
        dot.say(tr("The .userid command can only be used in metaserver hosted games."));
        return;
    }
    dialog_data *dialog = dot.place.dialog;
    const int16_t list = dot.place.player_list_item;
    const int16_t row = dialog ? bitmap_get_listbox_value(dialog, list) : (int16_t)NONE;
    new_player_data player;
    if (row < 0 || player_list_item_is_team(dialog, list, row, nullptr) ||
        !get_player_from_list_by_id(dialog, list, get_player_list_item_id(dialog, list, row), &player))
    {
        dot.say(tr("The .userid command can only be used on a selected player."));
        return;
    }
    say_user_id(dot, player, player.metaserver_player_id);
}

void dot_clear(const dot_context &dot)
{
    if (dot.place.dialog) reset_chat_text(dot.place.dialog, dot.place.chat_list_item);
}

void dot_vets(const dot_context &dot)
{
    if (!local_player_is_network_originator())
    {
        dot.say(tr("You must be the game host to use the .vets command."));
        return;
    }
    const net_game_description *description = get_net_edited_game_description();
    const uint32_t options = description->parameters.option_flags;
    if (!(options & _game_option_allow_veterans_flag))
    {
        dot.say(tr("Veterans disabled."));
        return;
    }
    int32_t veterans = 0;
    get_monster_initializers(&veterans);
    dot.say(veterans > 0 && (options & _game_option_continuation_flag) ? tr("Veterans enabled and present.")
                                                                        : tr("Veterans enabled; no veterans present."));
}

void dot_ping(const dot_context &dot)
{
    get_game_preferences()->flags ^= _game_pref_show_player_latencies_flag;
    if (dot.place.dialog) set_dialog_item_dirty(dot.place.dialog, dot.place.player_list_item);
}

void dot_seeds(const dot_context &dot)
{
    const new_game_parameter_data &parameters = current_description()->parameters;
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s: %d, Team: %d", tr("Random"), (int)parameters.random_seed,
             (int)parameters.initial_team_random_seed);
    dot.say(text);
}

void dot_help(const dot_context &dot)
{
    char text[CHAT_NOTICE_SIZE];
    slprintf(text, sizeof(text), "%s: .count, .help, .host, .info, .ping, .plugins, .userid, .version, .vets",
             tr("Available commands"));
    dot.say(text);
}

enum : uint8_t
{
    IN_GAME = 1,  // the network game's set-up and endgame chat
    IN_LOBBY = 2, // the lobby's room chat
};

struct dot_command
{
    const char *word;
    uint8_t where;
    void (*run)(const dot_context &dot);
};

// Every dot command, once, with the chats that know it.
const dot_command dot_commands[] = {
    {".version", IN_GAME | IN_LOBBY, dot_version},
    {".userid", IN_GAME | IN_LOBBY, dot_userid},
    {".clear", IN_LOBBY, dot_clear},
    {".count", IN_GAME, dot_count},
    {".host", IN_GAME, dot_host},
    {".plugins", IN_GAME, dot_plugins},
    {".info", IN_GAME, dot_info},
    {".vets", IN_GAME, dot_vets},
    {".ping", IN_GAME, dot_ping},
    {".seeds", IN_GAME, dot_seeds},
    {".help", IN_GAME, dot_help},
};

const dot_command *find_dot_command(const char *line, bool lobby)
{
    if (!line) return nullptr;
    for (const dot_command &command : dot_commands)
        if ((command.where & (lobby ? IN_LOBBY : IN_GAME)) && strcmp(line, command.word) == 0) return &command;
    return nullptr;
}

} // namespace

bool is_chat_dot_command(const char *line, bool lobby) { return find_dot_command(line, lobby) != nullptr; }

bool run_chat_dot_command(const char *line, const chat_dot_place &place, chat_notice_procedure notice,
                          void *context)
{
    const dot_command *command = notice ? find_dot_command(line, place.lobby) : nullptr;
    if (!command) return false;
    command->run(dot_context{place, notice, context});
    return true;
}

chat_dot_place game_chat_dot_place(dialog_data *dialog)
{
    return chat_dot_place{dialog, CHAT_DIALOG_CHAT_LIST_ITEM, CHAT_DIALOG_PLAYER_LIST_ITEM, false};
}

bool run_chat_dot_command(const char *line, dialog_data *dialog, chat_notice_procedure notice, void *context)
{
    return run_chat_dot_command(line, game_chat_dot_place(dialog), notice, context);
}

void display_game_plugins(dialog_data *dialog)
{
    if (dialog) dot_plugins(dot_context{game_chat_dot_place(dialog), notice_to_dialog, dialog});
}

// ---- the back log -------------------------------------------------------------------------

void add_chat_to_back_log(int16_t type, const char *name, const rgb_color *color, const char *text)
{
    chat_back_log *log = &vesk_chat_globals.ingame_chat_log;
    if (log->index < 0 || log->index >= CHAT_BACK_LOG_SIZE) log->index = 0;
    chat_entry_record *entry = &log->chat_list[log->index];
    entry->type = (uint8_t)type;
    if (color)
    {
        entry->player_color.red = color->red;
        entry->player_color.green = color->green;
        entry->player_color.blue = color->blue;
    }
    entry->player_color.flags = 0;
    entry->used = true;
    strlcpy(entry->name, name ? name : "", sizeof(entry->name));
    strlcpy(entry->text, text ? text : "", sizeof(entry->text));
    log->index = (log->index + 1) % CHAT_BACK_LOG_SIZE;
}

void add_console_chat_to_back_log(int32_t chat_mode, const char *player_name, const rgb_color *player_color,
                                  const char *text)
{
    const bool style_known = chat_mode >= _normal_chat_message_type && chat_mode <= _team_chat_message_type &&
                             chat_mode != _chat_message_continuation_type;
    add_chat_to_back_log(style_known ? (int16_t)chat_mode : (int16_t)_normal_chat_message_type, player_name,
                         player_color, text);
}

void visit_chat_back_log(chat_entry_visitor visit, void *context)
{
    if (!visit) return;
    const chat_back_log *log = &vesk_chat_globals.ingame_chat_log;
    // From the slot after `index` round to the one before it: the slot at
    // `index` is the oldest line of a full ring and is not replayed.
    for (int32_t step = 1; step < CHAT_BACK_LOG_SIZE; ++step)
    {
        const chat_entry_record *entry = &log->chat_list[(log->index + step) % CHAT_BACK_LOG_SIZE];
        if (entry->used) visit(context, entry);
    }
}

namespace {
struct replay_target
{
    dialog_data *dialog;
    int16_t item;
};
} // namespace

void add_chat_text_from_back_log(dialog_data *dialog, int16_t item)
{
    if (!dialog) return;
    replay_target target{dialog, item};
    visit_chat_back_log(
        [](void *context, const chat_entry_record *entry) {
            const replay_target *target = (const replay_target *)context;
            add_chat_text_full(target->dialog, target->item, entry->type, entry->name, &entry->player_color,
                               entry->text, false);
        },
        &target);
}

void empty_chat_text_log(void)
{
    chat_back_log *log = &vesk_chat_globals.ingame_chat_log;
    for (chat_entry_record &entry : log->chat_list) entry.used = false;
    log->index = 0;
    log->text_field[0] = 0;
}

void store_text_field_string(dialog_data *dialog, int16_t item)
{
    if (!dialog) return;
    chat_back_log *log = &vesk_chat_globals.ingame_chat_log;
    get_bitmap_dialog_edit_item_text(dialog, item, log->text_field, (int32_t)sizeof(log->text_field));
}

void load_text_field_string(dialog_data *dialog, int16_t item, bool caret_at_end)
{
    if (!dialog) return;
    const chat_back_log *log = &vesk_chat_globals.ingame_chat_log;
    set_bitmap_dialog_edit_item_text(dialog, item, log->text_field);
    if (caret_at_end)
    {
        const int32_t end = (int32_t)strnlen(log->text_field, sizeof(log->text_field));
        select_bitmap_dialog_edit_item_text(dialog, item, end, end);
    }
}

const chat_back_log *get_chat_back_log(void) { return &vesk_chat_globals.ingame_chat_log; }
