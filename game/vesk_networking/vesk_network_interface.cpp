// See vesk_network_interface.h.

#include "vesk_networking/vesk_network_interface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/color_picker_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/icon_popup_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/radio_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_states.h"
#include "cseries/tags.h"
#include "input/keyboard.h"
#include "lobby_procedures.h"
#include "game_records.h"
#include "networking/connection_manager.h"
#include "networking/net_config_tokens.h"
#include "plugin_components.h"
#include "networking/tcp_module.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "uber/uber.h"
#include "vesk.h"
#include "vesk/string_lists.h"
#include "vesk_networking/netgame_autohost_dialog.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/web_links.h"

enum
{
    MAXIMUM_FOUND_GAMES = 64,
    MAXIMUM_TEXT_ROW_SIZE = 64, // a protocol's or a found game's name with its terminator
    FAILURE_TEXT_SIZE = 512,
    _networking_string_error_button = 14,
    _networking_string_create_failed = 26,
    _networking_string_configuration_failed = 27,
    _join_title_string = 1, // of 'inni'
};

struct found_game
{
    NMHostID id;
    char name[CREATE_OR_JOIN_NAME_SIZE];
};

static struct
{
    network_dialog_script_procedure script;
    void *script_context;
    int16_t scripted_item;
    bool (*stop_modal_run)(void); // network_modal_dialog's `stop`
    bool autohost_on;
    // The rows of the list of found games, in row order.
    int32_t found_count;
    found_game found[MAXIMUM_FOUND_GAMES];
    // The dialog's pass: the library's game and the enumeration to pump.
    net_game_data *game;
    ProtocolConfig *enumeration;
    uint32_t protocol;
    bool creating;
    char last_join_failure[FAILURE_TEXT_SIZE]; // the last create or join's failure
} network_interface_globals;

const char *last_create_or_join_failure(void) { return network_interface_globals.last_join_failure; }

// ---- text helpers ------------------------------------------------------------------------

bool replace_keyword(char *configuration, size_t size, const char *keyword, const char *value)
{
    if (!configuration || !keyword || !value || size == 0) return false;
    char copy[MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH];
    strlcpy(copy, configuration, sizeof(copy));
    char result[MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH];
    size_t used = 0;
    const size_t keyword_length = strlen(keyword);
    const size_t room = size < sizeof(result) ? size : sizeof(result);
    bool first = true;
    for (char *token = copy, *next; token; token = next)
    {
        next = strchr(token, '\t');
        if (next) *next++ = '\0';
        char piece[MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH];
        if (keyword_length && !strncmp(token, keyword, keyword_length))
            snprintf(piece, sizeof(piece), "%s=%s", keyword, value);
        else
            strlcpy(piece, token, sizeof(piece));
        const size_t length = strlen(piece) + (first ? 0 : 1);
        if (used + length + 1 > room) return false;
        if (!first) result[used++] = '\t';
        memcpy(result + used, piece, strlen(piece));
        used += strlen(piece);
        first = false;
    }
    result[used] = '\0';
    memcpy(configuration, result, used + 1);
    return true;
}

bool parse_host_and_port(const char *text, uint16_t default_port, char *host, size_t host_size, uint16_t *port)
{
    if (!text || !host || host_size == 0 || !port) return false;
    const char *colon = strrchr(text, ':');
    const size_t host_length = colon ? (size_t)(colon - text) : strlen(text);
    if (host_length == 0 || host_length >= host_size) return false;
    uint32_t number = default_port;
    if (colon)
    {
        const char *digits = colon + 1;
        if (!*digits || strlen(digits) > 5) return false;
        number = 0;
        for (const char *p = digits; *p; ++p)
        {
            if (*p < '0' || *p > '9') return false;
            number = number * 10 + (uint32_t)(*p - '0');
        }
        if (number < 1 || number > 65535) return false;
    }
    for (size_t i = 0; i < host_length; ++i)
        if ((unsigned char)text[i] <= ' ') return false;
    memcpy(host, text, host_length);
    host[host_length] = '\0';
    *port = (uint16_t)number;
    return true;
}

bool parse_join_address(const char *text, char *host, size_t host_size, uint16_t *port)
{
    return parse_host_and_port(text, DEFAULT_JOIN_PORT, host, host_size, port);
}

// ---- the scripted player -------------------------------------------------------------------

void set_network_dialog_script(network_dialog_script_procedure procedure, void *context)
{
    network_interface_globals.script = procedure;
    network_interface_globals.script_context = context;
}

int16_t network_dialog_script_item(dialog_data *dialog)
{
    if (!network_interface_globals.script) return NONE;
    return network_interface_globals.script(dialog, network_interface_globals.script_context);
}

uint16_t networking_dialog_flags(void)
{
    return (uint16_t)(_dialog_has_bevel_flag | (active_screen.screen_initialized ? _dialog_is_centered_flag : 0));
}

bool create_or_join_autohost_on(void) { return network_interface_globals.autohost_on; }

// ---- the dialog's pieces ---------------------------------------------------------------------

static const char *create_or_join_string(int16_t index, const char *fallback)
{
    const int32_t list = string_list_tag_to_string_index(CREATE_OR_JOIN_STRING_LIST_TAG);
    if (list == NONE || index >= count_strings_in_list(list)) return fallback;
    const char *text = get_string_from_list(list, index);
    return text && *text ? text : fallback;
}

static bool is_internet_protocol(uint32_t protocol)
{
    return protocol == kModuleID;
}

bool should_enable_create_join_button(dialog_data *dialog, uint32_t protocol)
{
    const bool selected = bitmap_get_listbox_value(dialog, _create_or_join_games_item) >= 0;
    if (!is_internet_protocol(protocol)) return selected;
    if (network_interface_globals.creating)
    {
        char name[CREATE_OR_JOIN_NAME_SIZE] = "";
        get_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, name, sizeof(name));
        return valid_netgame_name(name) && !(get_main_global_flags() & _network_client_only_flag);
    }
    return selected || get_checkbox_state(dialog, _create_or_join_by_address_item);
}

static void refresh_accept_button(dialog_data *dialog)
{
    bitmap_set_item_enabled(dialog, _create_or_join_accept_item,
                            should_enable_create_join_button(dialog, network_interface_globals.protocol));
}

// The length of the well-formed UTF-8 character at `text`, 0 when the bytes
// there are not one.
static int32_t utf8_character_length(const unsigned char *text)
{
    const unsigned char lead = text[0];
    int32_t length = 0;
    uint32_t code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
    else return 0;
    for (int32_t i = 1; i < length; ++i)
    {
        if ((text[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (text[i] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not text.
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

void found_game_display_name(const char *name, char *buffer, int32_t size)
{
    if (!buffer || size <= 0) return;
    int32_t used = 0;
    bool visible = false;
    for (const unsigned char *p = (const unsigned char *)(name ? name : ""); *p;)
    {
        int32_t length = utf8_character_length(p);
        const bool control = length == 1 && (*p < ' ' || *p == 127);
        const unsigned char *piece = p;
        if (length == 0 || control) piece = (const unsigned char *)"?";
        const int32_t piece_length = (length == 0 || control) ? 1 : length;
        // A broken sequence stands as one mark for its first byte.
        if (length == 0) length = 1;
        if (used + piece_length > size - 1) break;
        memcpy(buffer + used, piece, (size_t)piece_length);
        used += piece_length;
        visible = visible || *piece > ' ';
        p += length;
    }
    buffer[used] = '\0';
    if (!visible) strlcpy(buffer, FOUND_GAME_PLACEHOLDER_NAME, (size_t)size);
}

// Draws a row made by bitmap_add_text_to_list: its text, terminated within
// the row whatever the row holds, cut at the row's right edge.
static void text_row_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                               const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !data || length <= 0) return;
    // Drawn as a text list's row, so the two kinds of list look alike.
    string_list_data row = {};
    const int32_t copied = length < MAXIMUM_TEXT_ROW_SIZE ? length : MAXIMUM_TEXT_ROW_SIZE - 1;
    memcpy(row.string, data, (size_t)copied);
    string_list_draw_proc(destination, row_bounds, clip, &row, (int16_t)sizeof(row), font_id,
                          (uint16_t)(flags & ~_row_variable_sized_flag));
}

// A list of text rows drawn a line of the list's font high, on the shaded
// ground and scroll bar track every text list has, so its rows read against
// the list rather than the dialog's art.
static void use_text_rows(dialog_data *dialog, int16_t item_id)
{
    bitmap_set_list_draw_proc(dialog, item_id, text_row_draw_proc);
    bitmap_set_list_flag(dialog, item_id, _list_has_shaded_background_flag | _list_scrollbars_have_background_flag,
                         true);
    const int16_t font_id = bitmap_get_list_font_id(dialog, item_id);
    const int16_t line_height = font_id == NONE ? 0 : (int16_t)get_font_line_height(font_id);
    if (line_height > 0) bitmap_set_list_line_height(dialog, item_id, line_height);
}

static int32_t find_found_game(NMHostID id)
{
    for (int32_t i = 0; i < network_interface_globals.found_count; ++i)
        if (network_interface_globals.found[i].id == id) return i;
    return NONE;
}

void game_callback(void *context, int32_t command, const NMEnumerationItem *item)
{
    dialog_data *dialog = (dialog_data *)context;
    if (!dialog) return;
    auto *g = &network_interface_globals;
    const int16_t selected = bitmap_get_listbox_value(dialog, _create_or_join_games_item);
    const NMHostID selected_id = selected >= 0 && selected < g->found_count ? g->found[selected].id : 0;
    switch (command)
    {
    case kNMEnumAdd:
        if (!item || g->found_count >= MAXIMUM_FOUND_GAMES || find_found_game(item->id) != NONE) return;
        g->found[g->found_count].id = item->id;
        found_game_display_name(item->name, g->found[g->found_count].name, CREATE_OR_JOIN_NAME_SIZE);
        bitmap_add_text_to_list(dialog, _create_or_join_games_item, g->found[g->found_count].name,
                                !get_checkbox_state(dialog, _create_or_join_by_address_item));
        g->found_count++;
        break;
    case kNMEnumDelete:
    {
        const int32_t row = item ? find_found_game(item->id) : NONE;
        if (row == NONE) return;
        bitmap_delete_listbox_row(dialog, _create_or_join_games_item, (int16_t)row);
        memmove(&g->found[row], &g->found[row + 1], sizeof(found_game) * (size_t)(g->found_count - row - 1));
        g->found_count--;
        break;
    }
    case kNMEnumClear:
        bitmap_empty_list(dialog, _create_or_join_games_item);
        g->found_count = 0;
        break;
    default: return;
    }
    if (selected >= 0)
    {
        const int32_t row = find_found_game(selected_id);
        if (row != NONE) bitmap_select_list_item(dialog, _create_or_join_games_item, (int16_t)row);
        refresh_accept_button(dialog);
    }
}

static void show_mode(dialog_data *dialog, bool creating)
{
    network_interface_globals.creating = creating;
    set_radio_button_family(dialog, _create_or_join_join_radio_item,
                            creating ? _create_or_join_create_radio_item : _create_or_join_join_radio_item,
                            _create_or_join_create_radio_item);
    static const int16_t creation_items[] = {_create_or_join_name_item,          _create_or_join_create_label_item,
                                             _create_or_join_password_label_item, _create_or_join_password_item,
                                             _create_or_join_port_item,          _create_or_join_name_label_item,
                                             _create_or_join_port_label_item};
    for (int16_t item : creation_items) bitmap_set_item_visible(dialog, item, creating);
    bitmap_set_item_visible(dialog, _create_or_join_by_address_item, !creating);
    bitmap_set_item_visible(dialog, _create_or_join_join_label_item, !creating);
    // The games list goes with its scroll bar while creating: the name field lies over it.
    bitmap_set_item_visible(dialog, _create_or_join_games_item, !creating);
    bitmap_set_item_enabled(dialog, _create_or_join_games_item, !creating);
    if (creating)
    {
        bitmap_set_item_visible(dialog, _create_or_join_address_item, false);
        set_checkbox_state(dialog, _create_or_join_by_address_item, false);
        set_button_control_name(dialog, _create_or_join_accept_item,
                                key_down(AUTOHOST_KEY_CODE) ? "Autohost" : "Create");
    }
    else
    {
        bitmap_set_item_visible(dialog, _create_or_join_address_item,
                                get_checkbox_state(dialog, _create_or_join_by_address_item));
        set_button_control_name(dialog, _create_or_join_accept_item, create_or_join_string(_join_title_string, "Join"));
    }
}

static void toggle_join_by_address(dialog_data *dialog)
{
    const bool by_address = get_checkbox_state(dialog, _create_or_join_by_address_item);
    const int16_t rows = bitmap_get_listbox_row_count(dialog, _create_or_join_games_item);
    if (by_address) bitmap_clear_selections(dialog, _create_or_join_games_item);
    for (int16_t row = 0; row < rows; ++row) bitmap_set_row_enabled(dialog, _create_or_join_games_item, row, !by_address);
    if (!by_address && rows > 0) bitmap_select_list_item(dialog, _create_or_join_games_item, 0);
    if (by_address)
    {
        char host[NETWORKING_LAST_HOST_SIZE] = "";
        load_last_joined_host(host, sizeof(host));
        set_bitmap_dialog_edit_item_text(dialog, _create_or_join_address_item, host);
    }
    bitmap_set_item_visible(dialog, _create_or_join_address_item, by_address);
}

// The configuration text's value of `key` (empty when missing).
static void configuration_value(const char *configuration, const char *key, char *value, int32_t size)
{
    int32_t length = size;
    if (!get_token(configuration, key, _token_text, value, &length)) value[0] = '\0';
}

// Pumps the network and the enumeration each pass and lets a scripted player press.
static bool create_or_join_pass(void *data, action_data *action)
{
    if (action) return false;
    dialog_data *dialog = (dialog_data *)data;
    auto *g = &network_interface_globals;
    if (g->game) net_process(g->game);
    if (g->enumeration) ProtocolIdleEnumeration(g->enumeration);
    if (g->stop_modal_run && g->stop_modal_run()) return true;
    const int16_t item = network_dialog_script_item(dialog);
    if (item == NONE) return false;
    g->scripted_item = item;
    return true;
}

int16_t network_modal_dialog(dialog_data *dialog, bool (*stop)(void))
{
    network_interface_globals.scripted_item = NONE;
    // A run inside another (a message over the lobby) has a stop of its own.
    bool (*const outer_stop)(void) = network_interface_globals.stop_modal_run;
    network_interface_globals.stop_modal_run = stop;
    const int16_t hit = custom_modal_dialog(dialog, dialog, create_or_join_pass);
    network_interface_globals.stop_modal_run = outer_stop;
    if (hit != NONE) return hit;
    if (network_interface_globals.scripted_item != NONE) return network_interface_globals.scripted_item;
    // The dialog ended without an item (closed from outside): cancelled.
    if (!dialog_is_open(dialog)) return _create_or_join_cancel_item;
    // The window was closed: every networking dialog's loop ends as if its
    // Cancel (or Leave) was pressed, so one close ends the program from any
    // of them, the lobby's included.
    int16_t pending = NONE;
    if (game_state_change_pending(&pending) && pending == _game_state_quit && dialog->cancel_item != NONE)
        return dialog->cancel_item;
    return NONE;
}

static ProtocolConfig *configuration_from_text(uint32_t protocol, const char *name, const char *text)
{
    ProtocolConfig *config = nullptr;
    const NMErr error = ProtocolCreateConfig(protocol, NETWORK_GAME_IDENTIFIER, name, nullptr, 0, text, &config);
    if (error)
    {
        log_message(__FILE__, __LINE__, "Err %d on ProtocolCreateConfig!", (int)error);
        return nullptr;
    }
    return config;
}

// Asks for the password once when the host wants one.
static bool join_with_password_retry(net_game_data *game, ProtocolConfig *config, const char *player_name,
                                     const void *player_data, int32_t player_data_size)
{
    char failure[FAILURE_TEXT_SIZE] = "";
    if (join_game(game, config, player_name, "", player_data, player_data_size, failure, sizeof(failure), false))
        return true;
    if (!strcmp(failure, get_internal_network_message(game, _game_requires_password_index)))
    {
        char password[CREATE_OR_JOIN_NAME_SIZE] = "";
        if (!query_for_game_password(password, sizeof(password))) return false;
        if (join_game(game, config, player_name, password, player_data, player_data_size, failure, sizeof(failure),
                      false))
            return true;
    }
    log_message(__FILE__, __LINE__, "joining failed: %s", failure);
    char *const last = network_interface_globals.last_join_failure;
    strlcpy(last, failure, sizeof(network_interface_globals.last_join_failure));
    show_network_error(failure, get_networking_string(_networking_string_error_button));
    return false;
}

static bool create_from_dialog(dialog_data *dialog, uint32_t protocol, net_game_data *game, char *configuration,
                               const char *player_name, char *default_game_name, char *default_password,
                               const void *player_data, int32_t player_data_size)
{
    auto *g = &network_interface_globals;
    if (!should_enable_create_join_button(dialog, protocol))
    {
        // A pressed button that should have been disabled: the dialog stays.
        log_message(__FILE__, __LINE__, "Created game when shouldn't be able to do so.");
        return false;
    }
    get_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, default_game_name, CREATE_OR_JOIN_NAME_SIZE);
    get_bitmap_dialog_edit_item_text(dialog, _create_or_join_password_item, default_password, CREATE_OR_JOIN_NAME_SIZE);
    replace_keyword(configuration, MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH, "gameName", default_game_name);
    ProtocolConfig *config = configuration_from_text(protocol, default_game_name, configuration);
    if (!config)
    {
        show_network_error(get_networking_string(_networking_string_configuration_failed),
                           get_networking_string(_networking_string_error_button));
        return false;
    }
    g->autohost_on = false;
    if (key_down(AUTOHOST_KEY_CODE))
    {
        g->autohost_on = true;
        net_game_description description = {};
        if (!open_autohost_dialog(&description, 2))
        {
            g->autohost_on = false;
            ProtocolDisposeConfig(config);
            return false;
        }
    }
    char failure[FAILURE_TEXT_SIZE] = "";
    bool done = create_game(game, config, default_password, true, failure, sizeof(failure));
    if (!done)
    {
        char text[FAILURE_TEXT_SIZE + 128];
        format_networking_text(text, sizeof(text), get_networking_string(_networking_string_create_failed), failure);
        log_message(__FILE__, __LINE__, "creating the game failed: %s", failure);
        if (!g->autohost_on) show_network_error(text, get_networking_string(_networking_string_error_button));
    }
    else
    {
        done = join_game(game, nullptr, player_name, default_password, player_data, player_data_size, failure,
                         sizeof(failure), true);
        if (!done)
        {
            log_message(__FILE__, __LINE__, "joining the created game failed: %s", failure);
            if (!g->autohost_on) show_network_error(failure, get_networking_string(_networking_string_error_button));
        }
    }
    if (!done) g->autohost_on = false;
    ProtocolDisposeConfig(config);
    return done;
}

static bool join_from_dialog(dialog_data *dialog, uint32_t protocol, net_game_data *game, char *configuration,
                             const char *player_name, const void *player_data, int32_t player_data_size)
{
    auto *g = &network_interface_globals;
    if (get_checkbox_state(dialog, _create_or_join_by_address_item))
    {
        char typed[NETWORKING_LAST_HOST_SIZE] = "";
        get_bitmap_dialog_edit_item_text(dialog, _create_or_join_address_item, typed, sizeof(typed));
        char host[NETWORKING_LAST_HOST_SIZE];
        uint16_t port = DEFAULT_JOIN_PORT;
        if (!parse_join_address(typed, host, sizeof(host), &port))
        {
            char text[NETWORKING_LAST_HOST_SIZE + 64];
            slprintf(text, sizeof(text), "\"%s\" is not an address to join (HOST or HOST:PORT).", typed);
            log_message(__FILE__, __LINE__, "%s", text);
            show_network_error(text, get_networking_string(_networking_string_error_button));
            return false;
        }
        save_last_joined_host(typed);
        char port_text[8];
        slprintf(port_text, sizeof(port_text), "%u", (unsigned)port);
        // The host part alone: the module resolves it as a name or a dotted address.
        replace_keyword(configuration, MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH, "IPaddr", host);
        replace_keyword(configuration, MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH, "IPport", port_text);
        replace_keyword(configuration, MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH, "gameName", "");
        ProtocolConfig *config = configuration_from_text(protocol, "", configuration);
        if (!config)
        {
            show_network_error(get_networking_string(_networking_string_configuration_failed),
                               get_networking_string(_networking_string_error_button));
            return false;
        }
        const bool joined = join_with_password_retry(game, config, player_name, player_data, player_data_size);
        ProtocolDisposeConfig(config);
        return joined;
    }
    const int16_t row = bitmap_get_listbox_value(dialog, _create_or_join_games_item);
    if (row < 0 || row >= g->found_count)
    {
        log_message(__FILE__, __LINE__, "nothing selected and join game was hit!");
        return false;
    }
    // The row's own text, as the player saw it.
    char shown[CREATE_OR_JOIN_NAME_SIZE] = "";
    int16_t size = (int16_t)sizeof(shown);
    bitmap_get_listbox_row_data(dialog, _create_or_join_games_item, row, shown, &size);
    shown[sizeof(shown) - 1] = '\0';
    log_message(nullptr, -1, "joining '%s', found on the local network", shown);
    const NMErr error = ProtocolBindEnumerationToConfig(g->enumeration, g->found[row].id);
    if (error)
    {
        log_message(__FILE__, __LINE__, "Err: %d", (int)error);
        return false;
    }
    return join_with_password_retry(game, g->enumeration, player_name, player_data, player_data_size);
}

// ---- the dialog -------------------------------------------------------------------------------

// The items the dialog's code works; a data set without them is refused.
static const dialog_item_requirement create_or_join_items[] = {
    {_create_or_join_accept_item, BUTTON_CONTROL_TAG},        {_create_or_join_cancel_item, BUTTON_CONTROL_TAG},
    {_create_or_join_name_item, EDITTEXT_CONTROL_TAG},        {_create_or_join_games_item, LIST_CONTROL_TAG},
    {_create_or_join_password_item, EDITTEXT_CONTROL_TAG},    {_create_or_join_address_item, EDITTEXT_CONTROL_TAG},
    {_create_or_join_port_item, EDITTEXT_CONTROL_TAG},        {_create_or_join_by_address_item, CHECKBOX_CONTROL_TAG},
    {_create_or_join_join_radio_item, RADIO_BUTTON_CONTROL_TAG}, {_create_or_join_create_radio_item, RADIO_BUTTON_CONTROL_TAG},
};

bool create_or_join_game(uint32_t protocol, net_game_data *game, const char *player_name, char *default_game_name,
                         char *default_password, const void *player_data, int32_t player_data_size)
{
    auto *g = &network_interface_globals;
    g->last_join_failure[0] = 0;
    if (!game || !default_game_name || !default_password || !player_data) return false;
    dialog_data *dialog = open_dialog_with_items(
        CREATE_OR_JOIN_DIALOG_TAG, networking_dialog_flags(), create_or_join_items,
        (int32_t)(sizeof(create_or_join_items) / sizeof(create_or_join_items[0])),
        CREATE_OR_JOIN_BACKGROUND_COLLECTION_TAG);
    if (!dialog) return false;
    set_dialog_cancel_item(dialog, _create_or_join_cancel_item);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _create_or_join_games_item, _create_or_join_accept_item);
    use_text_rows(dialog, _create_or_join_games_item);
    set_bitmap_dialog_edit_item_maximum_length(dialog, _create_or_join_name_item, CREATE_OR_JOIN_NAME_SIZE - 1);
    set_bitmap_dialog_edit_item_maximum_length(dialog, _create_or_join_password_item, CREATE_OR_JOIN_NAME_SIZE - 1);
    set_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, default_game_name);
    set_bitmap_dialog_edit_item_text(dialog, _create_or_join_password_item, default_password);
    set_radio_button_family(dialog, _create_or_join_join_radio_item, _create_or_join_join_radio_item,
                            _create_or_join_create_radio_item);

    // The local network's own configuration: the module's defaults (stream
    // and datagram), which lets a created game answer the searchers.
    char configuration[MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH] = "";
    {
        ProtocolConfig *defaults = configuration_from_text(protocol, default_game_name, nullptr);
        int32_t length = (int32_t)sizeof(configuration);
        NMErr error = defaults ? ProtocolGetConfigString(defaults, configuration, &length) : 0;
        if (error) log_message(__FILE__, __LINE__, "Err %d on ProtocolGetConfigString!", (int)error);
        if (defaults && (error = ProtocolDisposeConfig(defaults)) != 0)
            log_message(__FILE__, __LINE__, "Err %d on Disposeconfig!", (int)error);
    }
    char port_text[8];
    slprintf(port_text, sizeof(port_text), "%d", DEFAULT_JOIN_PORT);
    replace_keyword(configuration, sizeof(configuration), "IPport", port_text);

    g->game = game;
    g->protocol = protocol;
    g->autohost_on = false;
    bool entered = false, done = false;
    for (bool first_pass = true; !done; first_pass = false)
    {
        g->found_count = 0;
        bitmap_empty_list(dialog, _create_or_join_games_item);
        g->enumeration = configuration_from_text(protocol, default_game_name, configuration);
        if (g->enumeration)
        {
            const NMErr error = ProtocolStartEnumeration(g->enumeration, game_callback, dialog, true);
            if (error) log_message(__FILE__, __LINE__, "Err %d on ProtocolStartEnumeration", (int)error);
        }
        if (first_pass)
        {
            char value[NETWORKING_LAST_HOST_SIZE];
            configuration_value(configuration, "IPaddr", value, sizeof(value));
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_address_item, value);
            configuration_value(configuration, "IPport", value, sizeof(value));
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_port_item, value);
            set_edit_text_flag(dialog, _create_or_join_port_item, _edittext_is_number_only_flag, true);
            set_checkbox_state(dialog, _create_or_join_by_address_item, false);
            show_mode(dialog, false);
        }
        refresh_accept_button(dialog);
        for (bool pass_over = false; !pass_over;)
        {
            const int16_t hit = network_modal_dialog(dialog);
            switch (hit)
            {
            case _create_or_join_join_radio_item: show_mode(dialog, false); break;
            case _create_or_join_create_radio_item: show_mode(dialog, true); break;
            case _create_or_join_password_item:
                set_default_dialog_item(dialog, _create_or_join_accept_item);
                break;
            case _create_or_join_address_item:
            {
                char typed[NETWORKING_LAST_HOST_SIZE] = "";
                get_bitmap_dialog_edit_item_text(dialog, _create_or_join_address_item, typed, sizeof(typed));
                char host[NETWORKING_LAST_HOST_SIZE];
                uint16_t port = DEFAULT_JOIN_PORT;
                replace_keyword(configuration, sizeof(configuration), "IPaddr", typed);
                if (strchr(typed, ':') && parse_join_address(typed, host, sizeof(host), &port))
                {
                    slprintf(port_text, sizeof(port_text), "%u", (unsigned)port);
                    replace_keyword(configuration, sizeof(configuration), "IPport", port_text);
                }
                break;
            }
            case _create_or_join_port_item:
            {
                char typed[8] = "";
                get_bitmap_dialog_edit_item_text(dialog, _create_or_join_port_item, typed, sizeof(typed));
                const long port = strtol(typed, nullptr, 10);
                if (port >= 1 && port <= 65535) replace_keyword(configuration, sizeof(configuration), "IPport", typed);
                set_default_dialog_item(dialog, _create_or_join_accept_item);
                break;
            }
            case _create_or_join_by_address_item: toggle_join_by_address(dialog); break;
            case _create_or_join_cancel_item:
                pass_over = done = true;
                break;
            case _create_or_join_accept_item:
                pass_over = true;
                entered = g->creating ? create_from_dialog(dialog, protocol, game, configuration, player_name,
                                                           default_game_name, default_password, player_data,
                                                           player_data_size)
                                      : join_from_dialog(dialog, protocol, game, configuration, player_name,
                                                         player_data, player_data_size);
                done = entered;
                break;
            default: break;
            }
            if (g->creating && hit != _create_or_join_accept_item)
                set_button_control_name(dialog, _create_or_join_accept_item,
                                        key_down(AUTOHOST_KEY_CODE) ? "Autohost" : "Create");
            if (dialog_is_open(dialog)) refresh_accept_button(dialog);
            else pass_over = done = true;
        }
        if (g->enumeration)
        {
            NMErr error = ProtocolEndEnumeration(g->enumeration);
            if (error) log_message(__FILE__, __LINE__, "Err %d on ProtocolEndEnumeration", (int)error);
            if ((error = ProtocolDisposeConfig(g->enumeration)) != 0)
                log_message(__FILE__, __LINE__, "Err %d on Disposeconfig!", (int)error);
            g->enumeration = nullptr;
        }
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    g->game = nullptr;
    g->found_count = 0;
    return entered;
}

// ---- choosing the network ---------------------------------------------------------------------

enum
{
    MAXIMUM_LISTED_PROTOCOLS = 8,
    _networking_string_no_protocol = 9,
    _networking_string_protocol_chosen = 10,
    _networking_string_choose_protocol = 11,
    _networking_string_log_in_as_guest = 12,
    _networking_string_log_in = 13,
    _networking_string_lobby = 17,
    SERVER_BUTTON_GAP = 12,
    COAT_OF_ARMS_COLUMNS = 9,
    COAT_OF_ARMS_ROWS = 7,
    // The labels' draw-string flags.
    SMALL_LABEL_TEXT_FLAGS = 36,
    NAME_LABEL_TEXT_FLAGS = 33,
};

static struct
{
    int32_t protocol_count;
    NMType protocols[MAXIMUM_LISTED_PROTOCOLS];
    int16_t mode;
} network_selection_globals;

static bool is_internet_code(NMType type)
{
    return type == FOUR_CHARACTER_CODE('I', 'n', 'e', 't') || type == FOUR_CHARACTER_CODE('i', 'n', 'e', 't') ||
           type == FOUR_CHARACTER_CODE('I', 'N', 'E', 'T');
}

static void show_items(dialog_data *dialog, const int16_t *items, size_t count, bool visible)
{
    for (size_t i = 0; i < count; ++i) bitmap_set_item_visible(dialog, items[i], visible);
}

void sync_dialog(dialog_data *dialog, uint16_t *flags, int16_t mode)
{
    if (!dialog || !flags) return;
    char password[NETWORK_PASSWORD_SIZE] = "";
    get_bitmap_dialog_edit_item_text(dialog, _network_selection_password_item, password, sizeof(password));
    const bool lobby = mode == _network_selection_lobby && (*flags & _use_metaserver_flag);
    const bool protocols = mode == _network_selection_protocols;
    if (lobby)
    {
        set_checkbox_state(dialog, _network_selection_save_password_item, (*flags & _save_password_flag) != 0);
        set_checkbox_state(dialog, _network_selection_reset_client_data_item, (*flags & _reset_client_data_flag) != 0);
        set_bitmap_dialog_static_item_text(dialog, _network_selection_status_item,
                                           get_networking_string(_networking_string_lobby));
        bitmap_set_item_enabled(dialog, _network_selection_save_password_item, password[0] != 0);
        set_button_control_name(dialog, _network_selection_accept_item,
                                get_networking_string(password[0] ? _networking_string_log_in
                                                                  : _networking_string_log_in_as_guest));
        if (password[0]) *flags = (uint16_t)(*flags & ~_login_anonymous_flag);
        else *flags = (uint16_t)(*flags | _login_anonymous_flag);
        bitmap_set_item_enabled(dialog, _network_selection_accept_item, true);
        set_radio_button_family(dialog, _network_selection_lobby_radio_item, _network_selection_lobby_radio_item,
                                _network_selection_third_radio_item);
    }
    else if (protocols)
    {
        const int16_t rows = bitmap_get_listbox_row_count(dialog, _network_selection_protocol_list_item);
        const int16_t row = bitmap_get_listbox_value(dialog, _network_selection_protocol_list_item);
        if (rows > 0)
        {
            char text[256];
            if (row >= 0 && row < network_selection_globals.protocol_count)
            {
                char name[64] = "";
                NMType type = 0;
                net_get_indexed_protocol_name(row, name, sizeof(name), &type);
                format_networking_text(text, sizeof(text), get_networking_string(_networking_string_protocol_chosen),
                                       name);
            }
            else
                strlcpy(text, get_networking_string(_networking_string_choose_protocol), sizeof(text));
            set_bitmap_dialog_static_item_text(dialog, _network_selection_status_item, text);
        }
        set_button_control_name(dialog, _network_selection_accept_item,
                                get_networking_string(_networking_string_error_button));
        bitmap_set_item_enabled(dialog, _network_selection_accept_item, rows > 0);
        set_radio_button_family(dialog, _network_selection_lobby_radio_item, _network_selection_protocols_radio_item,
                                _network_selection_third_radio_item);
    }
    else
        set_radio_button_family(dialog, _network_selection_lobby_radio_item,
                                mode == _network_selection_none ? (int16_t)_network_selection_lobby_radio_item : (int16_t)0,
                                _network_selection_third_radio_item);
    static const int16_t lobby_items[] = {_network_selection_login_label_item, _network_selection_login_item,
                                          _network_selection_password_label_item, _network_selection_password_item,
                                          _network_selection_reset_client_data_item,
                                          _network_selection_save_password_item};
    static const int16_t protocol_items[] = {_network_selection_protocol_list_item,
                                             _network_selection_protocol_label_item};
    show_items(dialog, lobby_items, sizeof(lobby_items) / sizeof(lobby_items[0]), lobby);
    show_items(dialog, protocol_items, sizeof(protocol_items) / sizeof(protocol_items[0]), protocols);
}

// The appearance as the items show it.
static void read_appearance(dialog_data *dialog, player_appearance_data *appearance)
{
    get_bitmap_dialog_edit_item_text(dialog, _network_selection_name_item, appearance->name, sizeof(appearance->name));
    get_bitmap_dialog_edit_item_text(dialog, _network_selection_team_item, appearance->team_name,
                                     sizeof(appearance->team_name));
    appearance->coat_of_arms_bitmap_index = get_icon_popup_value(dialog, _network_selection_coat_of_arms_item);
    get_color_picker_color(dialog, _network_selection_primary_color_item, &appearance->primary_color);
    get_color_picker_color(dialog, _network_selection_secondary_color_item, &appearance->secondary_color);
}

static void color_coat_of_arms(dialog_data *dialog, const player_appearance_data *appearance)
{
    const rgb_color colors[2] = {appearance->primary_color, appearance->secondary_color};
    set_icon_popup_replacement_colors(dialog, _network_selection_coat_of_arms_item, colors, 2);
}

// The lobby service plug-in chosen anew: saved, handed to the store, the
// tag files opened again.  True when the player picked one.
static bool switch_lobby_server(void)
{
    if (!select_plugin_component(_metaserver_plugin_component)) return false;
    const plugin_component *component = get_plugin_component(_metaserver_plugin_component);
    save_plugin_component_prefs(_metaserver_plugin_component);
    log_message(nullptr, -1, "Switching to %s...", component ? component->chosen_plugin : "");
    initialize_plugin_component_preferences();
    tag_files_open(-1, nullptr, -1, -1, 0);
    log_message(nullptr, -1, "Server switch complete.");
    return true;
}

static const dialog_item_requirement network_selection_items[] = {
    {_network_selection_accept_item, BUTTON_CONTROL_TAG},
    {_network_selection_cancel_item, BUTTON_CONTROL_TAG},
    {_network_selection_name_item, EDITTEXT_CONTROL_TAG},
    {_network_selection_team_item, EDITTEXT_CONTROL_TAG},
    {_network_selection_coat_of_arms_item, ICON_POPUP_CONTROL_TAG},
    {_network_selection_primary_color_item, COLOR_PICKER_CONTROL_TAG},
    {_network_selection_secondary_color_item, COLOR_PICKER_CONTROL_TAG},
    {_network_selection_lobby_radio_item, RADIO_BUTTON_CONTROL_TAG},
    {_network_selection_protocols_radio_item, RADIO_BUTTON_CONTROL_TAG},
    {_network_selection_third_radio_item, RADIO_BUTTON_CONTROL_TAG},
    {_network_selection_save_password_item, CHECKBOX_CONTROL_TAG},
    {_network_selection_protocol_list_item, LIST_CONTROL_TAG},
    {_network_selection_login_item, EDITTEXT_CONTROL_TAG},
    {_network_selection_password_item, EDITTEXT_CONTROL_TAG},
    {_network_selection_status_item, STATIC_TEXT_CONTROL_TAG},
    {_network_selection_reset_client_data_item, CHECKBOX_CONTROL_TAG},
};

// Makes the dialog and fills its items from the caller's values; null when it cannot be made.
static dialog_data *new_network_selection_dialog(const player_appearance_data *appearance, uint32_t protocol,
                                                 uint16_t *flags, const char *login, const char *password)
{
    auto *g = &network_selection_globals;
    // A lobby plug-in chosen since the last opening may bring its own texts
    // and pictures: they are read afresh.
    static const tag lists[] = {FOUR_CHARACTER_CODE('i', 'n', 'm', 'n'), FOUR_CHARACTER_CODE('i', 'n', 'm', 's')};
    for (tag list : lists) delete_string_list_definition_tag(list);
    delete_string_list_definition(dialog_string_list_tag_to_string_index(NETWORK_SELECTION_DIALOG_TAG));
    static const tag collections[] = {FOUR_CHARACTER_CODE('i', 'n', 'r', 'g'), FOUR_CHARACTER_CODE('m', 'e', 'g', 'r'),
                                      NETWORK_SELECTION_PLUGIN_COLLECTION_TAG, NETWORK_SELECTION_COLLECTION_TAG};
    for (tag collection : collections)
    {
        const int32_t loaded = find_loaded_collection_index(collection);
        if (loaded != NONE) delete_collection(loaded);
    }
    dialog_data *dialog = open_dialog_with_items(
        NETWORK_SELECTION_DIALOG_TAG, networking_dialog_flags(), network_selection_items,
        (int32_t)(sizeof(network_selection_items) / sizeof(network_selection_items[0])), (file_tag)NONE);
    if (!dialog) return nullptr;
    set_dialog_cancel_item(dialog, _network_selection_cancel_item);
    // The background and the radio art: a lobby plug-in's own collection when it brings one.
    int32_t background = get_collection_index_if_present(NETWORK_SELECTION_PLUGIN_COLLECTION_TAG);
    const int32_t own = get_collection_index(NETWORK_SELECTION_COLLECTION_TAG);
    if (background == NONE) background = own;
    if (background != NONE)
    {
        set_dialog_background(dialog, (int16_t)background, 0);
        set_button_control_shape(dialog, _network_selection_protocols_radio_item, (int16_t)background, 2);
        set_button_control_shape(dialog, _network_selection_third_radio_item, (int16_t)background, 3);
    }
    if (own != NONE) set_button_control_shape(dialog, _network_selection_lobby_radio_item, (int16_t)own, 1);
    // The choices keep the names of the dialog's data, written over their
    // plates: art that carried the words would leave a player guessing which
    // plate is which if the names went.
    bitmap_set_item_visible(dialog, _network_selection_third_radio_item, false);
    static const int16_t small_labels[] = {18, 19, 23, 24, 25}, name_labels[] = {20, 21};
    for (int16_t label : small_labels)
        if (get_bitmap_item_tag(dialog, label) == STATIC_TEXT_CONTROL_TAG)
            set_dialog_static_item_text_appearance(dialog, label, -1, NONE, nullptr, SMALL_LABEL_TEXT_FLAGS);
    for (int16_t label : name_labels)
        if (get_bitmap_item_tag(dialog, label) == STATIC_TEXT_CONTROL_TAG)
            set_dialog_static_item_text_appearance(dialog, label, -1, NONE, nullptr, NAME_LABEL_TEXT_FLAGS);

    // "Server", Cancel's size, beside Cancel on the side with room for it
    // (Cancel stands near the dialog's left edge), enabled in lobby mode.
    rectangle2d cancel;
    get_dialog_item_bounds(dialog, _network_selection_cancel_item, &cancel);
    const int16_t width = (int16_t)(cancel.right - cancel.left);
    rectangle2d server = {cancel.top, (int16_t)(cancel.left - width - SERVER_BUTTON_GAP), cancel.bottom,
                          (int16_t)(cancel.left - SERVER_BUTTON_GAP)};
    if (server.left < 0)
    {
        server.left = (int16_t)(cancel.right + SERVER_BUTTON_GAP);
        server.right = (int16_t)(server.left + width);
    }
    if (new_unpressed_control(dialog, BUTTON_CONTROL_TAG, _network_selection_server_item, &server, "Server"))
        bitmap_set_item_enabled(dialog, _network_selection_server_item, false);

    set_bitmap_dialog_edit_item_maximum_length(dialog, _network_selection_name_item, PLAYER_NAME_SIZE - 1);
    set_bitmap_dialog_edit_item_maximum_length(dialog, _network_selection_team_item, PLAYER_NAME_SIZE - 1);
    set_bitmap_dialog_edit_item_text(dialog, _network_selection_name_item, appearance->name);
    set_bitmap_dialog_edit_item_text(dialog, _network_selection_team_item, appearance->team_name);
    const int32_t icons = get_collection_index(NETWORK_SELECTION_ICON_COLLECTION_TAG);
    if (icons != NONE)
    {
        set_icon_popup_control_information(dialog, _network_selection_coat_of_arms_item, (int16_t)icons, 0, NONE, NONE,
                                           appearance->coat_of_arms_bitmap_index, 0);
        set_icon_popup_column_count(dialog, _network_selection_coat_of_arms_item, COAT_OF_ARMS_COLUMNS);
        set_icon_popup_row_count(dialog, _network_selection_coat_of_arms_item, COAT_OF_ARMS_ROWS);
    }
    color_coat_of_arms(dialog, appearance);
    set_color_picker_color(dialog, _network_selection_primary_color_item, &appearance->primary_color);
    set_color_picker_color(dialog, _network_selection_secondary_color_item, &appearance->secondary_color);

    // Every protocol by name; TCP/IP makes the lobby possible.
    g->protocol_count = 0;
    bool internet = false;
    int16_t selected = NONE, first_enabled = NONE;
    bitmap_set_list_flag(dialog, _network_selection_protocol_list_item, 8, true);
    use_text_rows(dialog, _network_selection_protocol_list_item);
    for (int32_t index = 0; g->protocol_count < MAXIMUM_LISTED_PROTOCOLS; ++index)
    {
        char name[64];
        NMType type = 0;
        if (!net_get_indexed_protocol_name(index, name, sizeof(name), &type)) break;
        const int16_t row = bitmap_add_text_to_list(dialog, _network_selection_protocol_list_item, name, true);
        g->protocols[g->protocol_count++] = type;
        internet = internet || is_internet_code(type);
        if (type == protocol) selected = row;
        if (first_enabled == NONE) first_enabled = row;
    }
    if (selected == NONE) selected = first_enabled;
    if (selected != NONE) bitmap_select_list_item(dialog, _network_selection_protocol_list_item, selected);

    const uint32_t main_flags = get_main_global_flags();
    if (main_flags & _metaserver_only_flag)
    {
        bitmap_set_item_enabled(dialog, _network_selection_protocols_radio_item, false);
        bitmap_set_item_enabled(dialog, _network_selection_third_radio_item, false);
    }
    if (main_flags & _local_network_only_flag)
    {
        bitmap_set_item_enabled(dialog, _network_selection_third_radio_item, false);
        *flags = (uint16_t)(*flags & ~_use_metaserver_flag);
        internet = false;
    }
    if (!internet) *flags = (uint16_t)(*flags & ~_use_metaserver_flag);
    bitmap_set_item_enabled(dialog, _network_selection_lobby_radio_item, internet);

    set_bitmap_dialog_edit_item_maximum_length(dialog, _network_selection_login_item, NETWORK_LOGIN_SIZE - 1);
    set_bitmap_dialog_edit_item_maximum_length(dialog, _network_selection_password_item, NETWORK_PASSWORD_SIZE - 1);
    set_edit_text_flag(dialog, _network_selection_password_item, _edittext_is_password_flag, true);
    static const char placeholder[] = "\xDC guest \xDD";
    set_edit_text_placeholder_string(dialog, _network_selection_password_item, placeholder);
    set_bitmap_dialog_edit_item_text(dialog, _network_selection_login_item, login);
    if (*flags & _save_password_flag) set_bitmap_dialog_edit_item_text(dialog, _network_selection_password_item, password);

    if (g->protocol_count == 0)
    {
        set_bitmap_dialog_static_item_text(dialog, _network_selection_status_item,
                                           get_networking_string(_networking_string_no_protocol));
        bitmap_set_item_enabled(dialog, _network_selection_accept_item, false);
        g->mode = _network_selection_none;
    }
    else if (*flags & _use_metaserver_flag)
    {
        g->mode = _network_selection_lobby;
        set_dialog_focus(dialog, _network_selection_password_item);
        bitmap_set_item_enabled(dialog, _network_selection_server_item, true);
    }
    else
        g->mode = _network_selection_protocols;
    return dialog;
}

int16_t net_select_protocol(player_appearance_data *appearance, uint32_t *protocol, uint16_t *flags, char *login,
                            char *password)
{
    auto *g = &network_selection_globals;
    if (!appearance || !protocol || !flags || !login || !password) return 0;
    dialog_data *dialog = new_network_selection_dialog(appearance, *protocol, flags, login, password);
    if (!dialog) return 0;
    const player_appearance_data on_entry = *appearance;
    player_appearance_data edited = *appearance;
    bool appearance_changed = false;
    int16_t result = 0;
    sync_dialog(dialog, flags, g->mode);
    for (bool done = false; !done;)
    {
        const int16_t hit = network_modal_dialog(dialog);
        switch (hit)
        {
        case _network_selection_name_item:
        case _network_selection_team_item:
        case _network_selection_coat_of_arms_item:
        case _network_selection_primary_color_item:
        case _network_selection_secondary_color_item:
        {
            const player_appearance_data before = edited;
            read_appearance(dialog, &edited);
            // Renamed, the player keeps a team of his own name unless he named it.
            if (hit == _network_selection_name_item &&
                team_name_follows_player_name(edited.team_name, sizeof(edited.team_name), before.name, edited.name))
                set_bitmap_dialog_edit_item_text(dialog, _network_selection_team_item, edited.team_name);
            if (!appearance_changed && memcmp(&edited, &on_entry, sizeof(edited)) != 0)
            {
                appearance_changed = true;
                set_checkbox_state(dialog, _network_selection_reset_client_data_item, true);
                *flags = (uint16_t)(*flags | _reset_client_data_flag);
            }
            color_coat_of_arms(dialog, &edited);
            break;
        }
        case _network_selection_lobby_radio_item:
            bitmap_set_item_enabled(dialog, _network_selection_server_item, true);
            *flags = (uint16_t)(*flags | _use_metaserver_flag);
            g->mode = _network_selection_lobby;
            break;
        case _network_selection_protocols_radio_item:
        case _network_selection_third_radio_item:
            bitmap_set_item_enabled(dialog, _network_selection_server_item, false);
            *flags = (uint16_t)(*flags & ~_use_metaserver_flag);
            g->mode = _network_selection_protocols;
            break;
        case _network_selection_save_password_item:
            if (get_checkbox_state(dialog, _network_selection_save_password_item))
                *flags = (uint16_t)(*flags | _save_password_flag);
            else
                *flags = (uint16_t)(*flags & ~_save_password_flag);
            break;
        case _network_selection_login_item:
            if (*flags & _save_password_flag)
            {
                *flags = (uint16_t)(*flags & ~_save_password_flag);
                set_bitmap_dialog_edit_item_text(dialog, _network_selection_password_item, "");
            }
            break;
        case _network_selection_reset_client_data_item:
            if (get_checkbox_state(dialog, _network_selection_reset_client_data_item))
                *flags = (uint16_t)(*flags | _reset_client_data_flag);
            else
                *flags = (uint16_t)(*flags & ~_reset_client_data_flag);
            break;
        case _network_selection_server_item:
            if (switch_lobby_server())
            {
                result = NETWORK_SELECTION_SERVER_SWITCHED;
                done = true;
            }
            break;
        case _network_selection_accept_item: result = 1; done = true; break;
        case _network_selection_cancel_item: done = true; break;
        default: break;
        }
        if (!dialog_is_open(dialog)) break;
        if (!done) sync_dialog(dialog, flags, g->mode);
    }
    if (result == 1 && dialog_is_open(dialog))
    {
        read_appearance(dialog, appearance);
        // The edit line need not report each key: the rename is settled here too.
        team_name_follows_player_name(appearance->team_name, sizeof(appearance->team_name), on_entry.name,
                                      appearance->name);
        get_bitmap_dialog_edit_item_text(dialog, _network_selection_login_item, login, NETWORK_LOGIN_SIZE);
        get_bitmap_dialog_edit_item_text(dialog, _network_selection_password_item, password, NETWORK_PASSWORD_SIZE);
        if (!login[0])
        {
            strlcpy(login, GUEST_LOGIN, NETWORK_LOGIN_SIZE);
            strlcpy(password, GUEST_PASSWORD, NETWORK_PASSWORD_SIZE);
        }
        if (get_checkbox_state(dialog, _network_selection_reset_client_data_item))
            *flags = (uint16_t)(*flags | _reset_client_data_flag);
        else
            *flags = (uint16_t)(*flags & ~_reset_client_data_flag);
        NMType chosen = kModuleID;
        if (g->mode != _network_selection_lobby)
        {
            const int16_t row = bitmap_get_listbox_value(dialog, _network_selection_protocol_list_item);
            chosen = row >= 0 && row < g->protocol_count ? g->protocols[row] : 0;
        }
        *protocol = chosen;
        if (chosen) ProtocolInit(chosen);
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return result;
}

// ---- the game password question ---------------------------------------------------------

enum
{
    _game_password_ok_item = 1,
    _game_password_cancel_item = 2,
    _game_password_field_item = 3,
    MAXIMUM_GAME_PASSWORD_LENGTH = 31,
};

bool query_for_game_password(char *password, size_t size)
{
    if (!password || !size) return false;
    password[0] = 0;
    static const dialog_item_requirement items[] = {{_game_password_ok_item, BUTTON_CONTROL_TAG},
                                                    {_game_password_cancel_item, BUTTON_CONTROL_TAG},
                                                    {_game_password_field_item, EDITTEXT_CONTROL_TAG}};
    dialog_data *dialog = open_dialog_with_items(GAME_PASSWORD_DIALOG_TAG, networking_dialog_flags(), items, 3,
                                                 (file_tag)NONE);
    if (!dialog) return false;
    set_bitmap_dialog_edit_item_maximum_length(dialog, _game_password_field_item, MAXIMUM_GAME_PASSWORD_LENGTH);
    set_default_dialog_item(dialog, _game_password_ok_item);
    set_dialog_cancel_item(dialog, _game_password_cancel_item);
    int16_t hit = NONE;
    while (dialog_is_open(dialog) && hit != _game_password_ok_item && hit != _game_password_cancel_item)
        if ((hit = network_modal_dialog(dialog)) == NONE && !dialog_is_open(dialog)) break;
    const bool accepted = hit == _game_password_ok_item && dialog_is_open(dialog);
    if (accepted)
    {
        char typed[MAXIMUM_GAME_PASSWORD_LENGTH + 1] = "";
        get_bitmap_dialog_edit_item_text(dialog, _game_password_field_item, typed, sizeof(typed));
        strlcpy(password, typed, size);
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return accepted;
}
