#pragma once
// The network game's set-up as the lobby sees it: the host keeps its listed
// game's description and flags current, and the lobby's events that matter
// while a game is configured (a lobby player asking for a connection, the
// message of the day, the lost connection) reach the session.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

struct new_game_parameter_data;
struct net_game_description;

// The parameters the lobby lists for a game on a map of `team_count` teams
// offering the scorings `map_scoring_flags` (a map whose header cannot be
// read: `team_count` 0, nothing changed): without teams a player is a team,
// so at most `team_count` players; and the scoring the map plays.  A
// cooperative game's own are kept.
void netgame_listed_parameters(new_game_parameter_data *parameters, int16_t team_count, uint32_t map_scoring_flags);
// The same for a description, its map's header read: the game the lobby
// lists, from its first listing on.
void netgame_listed_description(net_game_description *description);

// The description flags the lobby lists: closed when the game takes no more
// connections or is full, in progress while it runs, and open for joining
// mid-game when it runs and is not closed.
uint16_t netgame_lobby_listing_flags(bool accepting_connections, int32_t player_count, int32_t maximum_players,
                                     bool in_progress);

// On the host while connected to the lobby (else an assertion failure and
// nothing sent): sends its description, with the number of listed players and
// the flags above, as a change of the listed game.
void synchronize_netgame_description_with_metaserver(void);

// The lobby's id of this session's game: a joiner's is the listing it
// joined; the host's, unknown while the room had not yet named its listing
// when the game was created, is the listing's once the room names it.  -1
// while unknown or outside the lobby; what tells a lobby game from another.
// The network game asks it through the lobby's table (netgame_lobby_game_id).
int32_t lobby_game_id_of_session(void);

// On the host, when its game starts while connected to the lobby (else
// nothing): the lobby hears who plays and how long the game lasts, and the
// listing shows the game's players and that it runs.
struct new_game_data;
void netgame_lobby_game_started(const new_game_data *data);

// A lobby event while the game is configured, asked before the lobby dialog:
// true when it was taken here.  Event 37 (a lobby player asks to be reached:
// a port, then the host's address text in a field of 48 bytes) opens a
// connection to it while connections are accepted; events 25 (message of the
// day, its text bounded by `length`) and 16 (the connection lost) add their
// notices to the set-up's chat while the game is configured.
bool handle_metaserver_event_in_game_lobby(int32_t event, const void *data, int32_t length);

// The network selection with the lobby's saved login: 0 cancelled, 1 chosen,
// 2 choose again.  The options chosen go back into the lobby's preferences
// (only the "use the lobby" option when the lobby was not chosen).
struct new_player_data;
int16_t choose_protocol_with_lobby_login(new_player_data *player, uint32_t *protocol, bool first_pass,
                                         bool *use_lobby, char *login, size_t login_size, char *password,
                                         size_t password_size);

// A chat line for the lobby room: sent when connected and the lobby dialog
// exists (true), else false and nothing sent.
bool send_chat_command_to_lobby_room(const char *line);
