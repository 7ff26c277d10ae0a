#pragma once
// Entering a direct network game: the create-or-join dialog ('Inet') lists
// the games the local-network enumeration finds, joins one of them or a game
// at a typed address (with an optional ":port"), or creates a game (an
// automatically hosted one while the Autohost key is held), asking for a
// game's password when the host wants one.  Also the small text helpers it
// rests on: the configuration text's keyword rewrite and the address parser.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

struct dialog_data;
struct net_game_data;
struct NMEnumerationItem;

#define CREATE_OR_JOIN_DIALOG_TAG FOUR_CHARACTER_CODE('I', 'n', 'e', 't')
#define CREATE_OR_JOIN_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 't', 'c')
#define CREATE_OR_JOIN_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'i')
#define NETWORK_GAME_IDENTIFIER FOUR_CHARACTER_CODE('v', 'e', 's', 'k')

enum
{
    DEFAULT_JOIN_PORT = 3453,
    MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH = 1024, // the configuration text, terminator included
    CREATE_OR_JOIN_NAME_SIZE = 32,                // the game name and password buffers
    AUTOHOST_KEY_CODE = 57,                       // held while Create is pressed: Autohost
};

// The create-or-join dialog's items.
enum create_or_join_item
{
    _create_or_join_accept_item = 1,
    _create_or_join_cancel_item = 2,
    _create_or_join_name_item = 3,
    _create_or_join_games_item = 4,
    _create_or_join_create_label_item = 5,
    _create_or_join_password_label_item = 6,
    _create_or_join_password_item = 7,
    _create_or_join_address_item = 8,
    _create_or_join_join_label_item = 9,
    _create_or_join_port_item = 11,
    _create_or_join_name_label_item = 12,
    _create_or_join_port_label_item = 13,
    _create_or_join_by_address_item = 16,
    _create_or_join_join_radio_item = 17,
    _create_or_join_create_radio_item = 18,
};

// Rewrites the TAB-separated configuration text in place (at most
// `size` bytes with the terminator, never more than 1024): every token that
// begins with `keyword` becomes "keyword=value"; the others stay.  Tokens are
// joined by single TABs.  False, with the text unchanged, when the result
// would not fit.
bool replace_keyword(char *configuration, size_t size, const char *keyword, const char *value);

// A typed address: the host part (before the last colon, or all of it) into
// `host` (`host_size` bytes with the terminator) and the port after the
// colon.  Without a colon the port is 3453.  False (nothing usable) for an
// empty host, a host that does not fit, or a port that is not 1 to 65535 in
// decimal digits.
bool parse_join_address(const char *text, char *host, size_t host_size, uint16_t *port);
// The same with another port when none is typed (the lobby's address box).
bool parse_host_and_port(const char *text, uint16_t default_port, char *host, size_t host_size, uint16_t *port);

// Whether the accept button of the dialog may be pressed for `protocol`.
bool should_enable_create_join_button(dialog_data *dialog, uint32_t protocol);

// The name a found game's row shows for the `name` its reply carried:
// cut between characters to `size` - 1 bytes, a control character or a byte
// that is no UTF-8 character shown as '?', and FOUND_GAME_PLACEHOLDER_NAME
// for a name with nothing visible in it.
#define FOUND_GAME_PLACEHOLDER_NAME "Unnamed game"
void found_game_display_name(const char *name, char *buffer, int32_t size);

// The enumeration's callback (context: the dialog): 1 adds a found game (its
// row showing found_game_display_name), 2 deletes its row, 3 empties the
// list; a selected row stays selected.
void game_callback(void *context, int32_t command, const NMEnumerationItem *item);

// Runs the dialog for `protocol` on the library's `game`: true when this
// machine created and joined a game (as its host) or joined one; false when
// the player cancelled.  `default_game_name` and `default_password` (each
// CREATE_OR_JOIN_NAME_SIZE bytes) offer a created game's name and password
// and take back what the player typed.  `player_data` (`player_data_size`
// bytes, wire order) is the local player's record.  A failure to create or
// join is shown and the dialog stays.
// Why the last join of the dialog failed ("" when none did); a run without a
// screen, where the error box is not shown, reports it from here.
const char *last_create_or_join_failure(void);
bool create_or_join_game(uint32_t protocol, net_game_data *game, const char *player_name, char *default_game_name,
                         char *default_password, const void *player_data, int32_t player_data_size);

// Whether the last successful create_or_join_game made this machine a host
// that the program plays automatically.
bool create_or_join_autohost_on(void);

// A scripted player for programs without one (the simulator): asked once per
// pass of the dialog, it may work the dialog's items and returns the item to
// press, or NONE.  Null: none.
typedef int16_t (*network_dialog_script_procedure)(dialog_data *dialog, void *context);
void set_network_dialog_script(network_dialog_script_procedure procedure, void *context);
// One modal run of a networking dialog: the network and the enumeration are
// pumped every pass and the script may press.  The item hit; the cancel item
// when the dialog was closed from outside; NONE when it ended otherwise, as
// on the first pass at which `stop` (may be null) answers true.
int16_t network_modal_dialog(dialog_data *dialog, bool (*stop)(void) = nullptr);

// The game password question ('gapd'), for a direct or a lobby game: true
// with the typed password (at most `size` - 1 characters, never more than 31)
// when the player accepted; false when he cancelled or the dialog cannot be made.
#define GAME_PASSWORD_DIALOG_TAG FOUR_CHARACTER_CODE('g', 'a', 'p', 'd')
bool query_for_game_password(char *password, size_t size);
// The flags a networking dialog opens with: bevelled, and centred on the
// screen when there is one (a headless run has none).
uint16_t networking_dialog_flags(void);
// The item the script presses on `dialog` this pass (NONE without a script).
int16_t network_dialog_script_item(dialog_data *dialog);

// ---- choosing the network ------------------------------------------------------------------

#define NETWORK_SELECTION_DIALOG_TAG FOUR_CHARACTER_CODE('n', 'e', 's', 'p')
#define NETWORK_SELECTION_ICON_COLLECTION_TAG FOUR_CHARACTER_CODE('n', 'e', 'p', 'i')
#define NETWORK_SELECTION_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'm', 'g')
#define NETWORK_SELECTION_PLUGIN_COLLECTION_TAG FOUR_CHARACTER_CODE('}', ':', '-', ')')

// The caller's flags word (metaserver_preferences_flags), kept between runs.
enum network_selection_mode : int16_t
{
    _network_selection_lobby = 0,
    _network_selection_protocols = 1,
    _network_selection_none = 2,
};

enum network_selection_item
{
    _network_selection_accept_item = 1,
    _network_selection_cancel_item = 2,
    _network_selection_name_item = 3,
    _network_selection_team_item = 4,
    _network_selection_coat_of_arms_item = 5,
    _network_selection_primary_color_item = 6,
    _network_selection_secondary_color_item = 7,
    _network_selection_lobby_radio_item = 8,
    _network_selection_protocols_radio_item = 9,
    _network_selection_third_radio_item = 10,
    _network_selection_save_password_item = 11,
    _network_selection_protocol_list_item = 12,
    _network_selection_login_item = 13,
    _network_selection_password_item = 14,
    _network_selection_status_item = 15,
    _network_selection_reset_client_data_item = 16,
    _network_selection_protocol_label_item = 17,
    _network_selection_login_label_item = 18,
    _network_selection_password_label_item = 19,
    _network_selection_server_item = 50,
};

enum
{
    NETWORK_LOGIN_SIZE = 32,    // 31 characters
    NETWORK_PASSWORD_SIZE = 16, // 15 characters: the lobby's password answers take no more
    NETWORK_SELECTION_SERVER_SWITCHED = 2,
};
#define GUEST_LOGIN "Guest"
#define GUEST_PASSWORD "guest"

struct player_appearance_data;

// The network selection: the player's appearance, the lobby or a protocol,
// the lobby login.  1 when accepted (appearance, protocol (initialized),
// flags, login and password updated; an empty login becomes the guest's),
// 2 when the player switched the lobby service plug-in (the caller opens the
// dialog again), 0 on cancel or when the dialog cannot be made.  The flags
// are written back on every return.
int16_t net_select_protocol(player_appearance_data *appearance, uint32_t *protocol, uint16_t *flags, char *login,
                            char *password);
// Shows the items of `mode` (network_selection_mode) and brings the flags
// and the accept button in line with the typed password and the protocol list.
void sync_dialog(dialog_data *dialog, uint16_t *flags, int16_t mode);
