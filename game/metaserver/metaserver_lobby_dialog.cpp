// The lobby dialog and its session loop.  See metaserver_lobby_dialog.h.

#include "metaserver/metaserver_lobby_dialog.h"
#include "vesk_networking/vesk_network_interface.h"

#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_preferences.h"
#include "input/keyboard.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/metaserver_small_dialogs.h"
#include "metaserver/metaserver_strings.h"
#include "metaserver/vesk_metaserver_packets.h"
#include "progress_dialog.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk_networking/netgame_parameters_dialog.h"
#include "vesk_networking/netgame_autohost_dialog.h"
#include "vesk_networking/netgame_lobby.h"
#include "vesk_networking/network_game_entry.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_join_dialogs.h"
#include "vesk_networking/web_links.h"
#include "console/console.h"

enum
{
    SHIFT_KEY = 57, // held with New: the automatic host's playlist
    NEW_GAME_KEY = 'N',
    JOIN_GAME_KEY = 'J',
    // The action flag held with N and J (as with the set-up dialog's keys),
    // so that typing in the chat never presses them.
    SHORTCUT_MODIFIERS = 40,
    CHAT_ENTRY_EDIT_FLAGS_ON = 16, // no shaded background
    CHAT_ENTRY_EDIT_FLAGS_OFF = 32, // no focus box
    CHAT_ENTRY_TEXT_FORMAT = 64, // colour codes
    BUTTON_SHAPES_SEQUENCE = 20,
    TAB_SHAPES_SEQUENCE = 16,
    CALLED_FROM_LOBBY = 2,
    // The tabs of item 14.
    _room_tab = 0,
    _buddy_tab,
    _order_tab,
    // ... and of item 15.
    _local_games_tab = 0,
    _preferred_games_tab,
    URL_SIZE = 256,
    CHAT_PLAYER_SEND_SECOND_WORD = 1,
    CONNECTION_LOST_WARNING_TICKS = 600,
};

static struct metaserver_lobby_dialog_globals
{
    dialog_data *dialog;
    bool visible;
    bool allow_join_game;
    bool back_to_login;
    char url_at_exit[URL_SIZE]; // at most 255 characters
    metaserver_session_starter starter;
    bool small_dialog_open; // the search, the information or the join's failure
} metaserver_lobby_dialog_globals = {nullptr, false, false, false, "", nullptr, false};

bool allow_join_game_raised(void) { return metaserver_lobby_dialog_globals.allow_join_game; }
dialog_data *get_metaserver_client_dialog(void) { return metaserver_lobby_dialog_globals.dialog; }
bool metaserver_session_returns_to_login(void) { return metaserver_lobby_dialog_globals.back_to_login; }
void set_metaserver_session_starter(metaserver_session_starter starter)
{
    metaserver_lobby_dialog_globals.starter = starter;
}

static bool lobby_has_item(dialog_data *dialog, int16_t item) { return dialog && find_control(dialog, item) != nullptr; }

// ---- the dialog ------------------------------------------------------------------

static void publish_lists(dialog_data *dialog)
{
    metaserver_lobby_lists lists = empty_metaserver_lobby_lists();
    lists.dialog = dialog;
    lists.player_list_item = iPLAYER_LIST;
    lists.game_list_item = iGAME_LIST;
    lists.buddy_list_item = lobby_has_item(dialog, iBUDDY_LIST) ? (int16_t)iBUDDY_LIST : (int16_t)NONE;
    lists.order_list_item = lobby_has_item(dialog, iORDER_LIST) ? (int16_t)iORDER_LIST : (int16_t)NONE;
    lists.room_item = iROOM_GRAPHIC;
    set_metaserver_lobby_lists(&lists);
}

static void disable_player_buttons(dialog_data *dialog)
{
    for (int16_t item : {iGAG_BUTTON, iPLAYER_STATS_BUTTON, iBUDDY_BUTTON})
        if (lobby_has_item(dialog, item)) bitmap_set_item_enabled(dialog, item, false);
}

// The tab strip shows once the service sent the buddies or the order's
// members, each enabling its tab; the buddy button shows with the buddies.
static void show_sent_list_tabs(dialog_data *dialog)
{
    const bool buddies = metaserver_buddies_sent(), orders = metaserver_orders_sent();
    if ((buddies || orders) && lobby_has_item(dialog, iPLAYER_LIST_TAB))
    {
        bitmap_set_item_visible(dialog, iPLAYER_LIST_TAB, true);
        if (buddies) set_tab_enabled(dialog, iPLAYER_LIST_TAB, _buddy_tab, true);
        if (orders) set_tab_enabled(dialog, iPLAYER_LIST_TAB, _order_tab, true);
    }
    if (buddies && lobby_has_item(dialog, iBUDDY_BUTTON)) bitmap_set_item_visible(dialog, iBUDDY_BUTTON, true);
}

void set_metaserver_client_dialog_tabs(dialog_data *dialog)
{
    if (lobby_has_item(dialog, iPLAYER_LIST_TAB))
    {
        set_number_of_tabs(dialog, iPLAYER_LIST_TAB, 3);
        set_tab_name(dialog, iPLAYER_LIST_TAB, _room_tab, get_metaserver_string(_room_string));
        set_tab_name(dialog, iPLAYER_LIST_TAB, _buddy_tab, get_metaserver_string(_buddy_string));
        set_tab_name(dialog, iPLAYER_LIST_TAB, _order_tab, get_metaserver_string(_order_string));
    }
    if (lobby_has_item(dialog, iGAME_LIST_TAB))
    {
        set_number_of_tabs(dialog, iGAME_LIST_TAB, 2);
        set_tab_name(dialog, iGAME_LIST_TAB, _local_games_tab, get_metaserver_string(_games_local_string));
        set_tab_name(dialog, iGAME_LIST_TAB, _preferred_games_tab, get_metaserver_string(_games_preferred_string));
    }
}

void set_metaserver_client_dialog_shapes(dialog_data *dialog)
{
    const int16_t elements = (int16_t)try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (elements != NONE)
    {
        for (int16_t item : {iGAG_BUTTON, iPLAYER_STATS_BUTTON, iFIND_PLAYER_BUTTON, iBUDDY_BUTTON})
            if (lobby_has_item(dialog, item)) set_button_control_shape(dialog, item, elements, BUTTON_SHAPES_SEQUENCE);
        for (int16_t item : {iPLAYER_LIST_TAB, iGAME_LIST_TAB})
            if (lobby_has_item(dialog, item)) set_tabbed_button_control_shape(dialog, item, elements, TAB_SHAPES_SEQUENCE);
    }
    for (int16_t item : {iSTART_NEW_GAME, iJOIN_GAME, iLEAVE_METASERVER})
        build_default_button_control_data(dialog, item);
    // The banner's own collection, the lobby's advertisements, each a picture
    // of the banner's size: 'inmg' is the network selection's background,
    // whose first tile would stand alone in the middle of the banner.
    const int16_t banner = (int16_t)try_and_get_collection_index(BANNER_COLLECTION_TAG);
    if (banner != NONE && lobby_has_item(dialog, iTITLE_GRAPHIC)) set_banner_shape(dialog, iTITLE_GRAPHIC, banner, 0);
}

bool create_metaserver_client_dialog(void)
{
    auto &m = metaserver_lobby_dialog_globals;
    if (m.dialog) return true;
    static const dialog_item_requirement items[] = {
        {iPLAYER_LIST, PLAYER_LIST_CONTROL_TAG}, {iGAME_LIST, GAME_LIST_CONTROL_TAG},
        {iCHAT_LIST, DIALOG_CHAT_LIST_TAG},    {iLEAVE_METASERVER, BUTTON_CONTROL_TAG},
        {iSTART_NEW_GAME, BUTTON_CONTROL_TAG}, {iJOIN_GAME, BUTTON_CONTROL_TAG},
        {iCHAT_TEXT_ENTRY, EDITTEXT_CONTROL_TAG}, {iSEND_BUTTON, BUTTON_CONTROL_TAG},
    };
    const int32_t count = (int32_t)(sizeof(items) / sizeof(items[0]));
    tag dialog_tag = METASERVER_CLIENT_TAG;
    tag background = METASERVER_BACKGROUND_TAG;
    if ((get_game_preferences()->flags & _game_pref_alternate_metaserver_ui_flag) &&
        tag_file_open(DIALOG_GROUP_TAG, METASERVER_CLIENT_ALTERNATE_TAG) != NONE)
    {
        dialog_tag = METASERVER_CLIENT_ALTERNATE_TAG;
        background = METASERVER_ALTERNATE_BACKGROUND_TAG;
    }
    dialog_data *dialog = open_dialog_with_items(dialog_tag, _dialog_is_centered_flag, items, count, background);
    if (!dialog)
    {
        log_message(__FILE__, __LINE__, "could not create the lobby dialog");
        return false;
    }
    set_dialog_visible(dialog, false);
    m.dialog = dialog;

    find_control(dialog, iSEND_BUTTON)->flags |= _control_has_no_delay_flag;
    set_default_dialog_item(dialog, iSEND_BUTTON);
    set_dialog_cancel_item(dialog, iLEAVE_METASERVER);
    set_edit_text_flag(dialog, iCHAT_TEXT_ENTRY, CHAT_ENTRY_EDIT_FLAGS_ON, true);
    set_edit_text_flag(dialog, iCHAT_TEXT_ENTRY, CHAT_ENTRY_EDIT_FLAGS_OFF, false);
    set_edit_text_text_format(dialog, iCHAT_TEXT_ENTRY, CHAT_ENTRY_TEXT_FORMAT, true);
    set_bitmap_dialog_edit_item_maximum_length(dialog, iCHAT_TEXT_ENTRY, METASERVER_CHAT_ENTRY_SIZE - 1);
    set_bitmap_dialog_edit_item_text(dialog, iCHAT_TEXT_ENTRY, "");
    set_dialog_focus(dialog, iCHAT_TEXT_ENTRY);
    bitmap_set_item_enabled(dialog, iSEND_BUTTON, false);
    set_dialog_item_keyboard_equivalent(dialog, iSTART_NEW_GAME, NEW_GAME_KEY, SHORTCUT_MODIFIERS);
    set_dialog_item_keyboard_equivalent(dialog, iJOIN_GAME, JOIN_GAME_KEY, SHORTCUT_MODIFIERS);

    set_metaserver_client_dialog_tabs(dialog);
    if (lobby_has_item(dialog, iPLAYER_LIST_TAB))
    {
        set_tab_enabled(dialog, iPLAYER_LIST_TAB, _buddy_tab, false);
        set_tab_enabled(dialog, iPLAYER_LIST_TAB, _order_tab, false);
        set_selected_tab(dialog, iPLAYER_LIST_TAB, _room_tab);
        // Until the service sends the buddy or order list.
        bitmap_set_item_visible(dialog, iPLAYER_LIST_TAB, false);
    }
    if (lobby_has_item(dialog, iGAME_LIST_TAB)) set_selected_tab(dialog, iGAME_LIST_TAB, _local_games_tab);
    // The buddy and order lists lie over the player list.
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, iPLAYER_LIST, &bounds);
    for (int16_t item : {iBUDDY_LIST, iORDER_LIST})
        if (lobby_has_item(dialog, item))
        {
            set_dialog_item_bounds(dialog, item, &bounds);
            bitmap_set_item_visible(dialog, item, false);
            bitmap_set_listbox_doubleclick_itemhit(dialog, item, iPLAYER_STATS_BUTTON);
        }
    bitmap_set_listbox_doubleclick_itemhit(dialog, iPLAYER_LIST, iPLAYER_STATS_BUTTON);
    bitmap_set_listbox_doubleclick_itemhit(dialog, iGAME_LIST, iJOIN_GAME);
    disable_player_buttons(dialog);
    // Until the service sends the buddy list.
    if (lobby_has_item(dialog, iBUDDY_BUTTON)) bitmap_set_item_visible(dialog, iBUDDY_BUTTON, false);
    // The login's room may already have sent its lists and the buddies.
    publish_lists(dialog);
    show_sent_list_tabs(dialog);
    return true;
}

void dispose_metaserver_client_dialog(void)
{
    auto &m = metaserver_lobby_dialog_globals;
    set_metaserver_lobby_lists(nullptr);
    if (m.dialog && dialog_is_open(m.dialog)) dispose_dialog(m.dialog);
    m.dialog = nullptr;
    // The service's confirmation of the player's data is the login's: it may
    // come before the dialog, and is kept until the dialog goes.
    m.allow_join_game = false;
}

void show_metaserver_client_dialog(bool visible)
{
    dialog_data *dialog = metaserver_lobby_dialog_globals.dialog;
    if (!dialog) return;
    if (visible)
    {
        // A game between showings unloads the collections the dialog drew
        // with: its background and its buttons' shapes are taken again.
        const int16_t background = (int16_t)try_and_get_collection_index(
            dialog->tag == METASERVER_CLIENT_ALTERNATE_TAG ? METASERVER_ALTERNATE_BACKGROUND_TAG : METASERVER_BACKGROUND_TAG);
        if (background != NONE) set_dialog_background(dialog, background, 0);
        set_metaserver_client_dialog_shapes(dialog);
        if (lobby_has_item(dialog, iROOM_GRAPHIC)) reset_room_graphic(dialog, iROOM_GRAPHIC);
        publish_lists(dialog);
    }
    set_dialog_visible(dialog, visible);
    metaserver_lobby_dialog_globals.visible = visible;
}

// ---- chat ------------------------------------------------------------------------

static bool only_blanks(const char *text)
{
    for (; *text; ++text)
        if (*text != ' ' && *text != '\t') return false;
    return true;
}

bool metaserver_chat_command(const char *text) { return is_chat_dot_command(text, true); }

static void add_local_line(dialog_data *dialog, const char *text)
{
    add_chat_text_full(dialog, iCHAT_LIST, _motd_chat_message_type, nullptr, nullptr, text, true);
}

static void local_line_notice(void *context, const char *text) { add_local_line((dialog_data *)context, text); }

static void clear_selection_unless_locked(dialog_data *dialog)
{
    if (!player_list_selection_is_locked(dialog, iPLAYER_LIST)) bitmap_clear_selections(dialog, iPLAYER_LIST);
}

bool send_metaserver_chat_text(dialog_data *dialog, const char *text)
{
    if (!dialog || !text || only_blanks(text)) return false;
    char copy[METASERVER_CHAT_ENTRY_SIZE];
    strlcpy(copy, text, sizeof(copy));
    const chat_dot_place place = {dialog, iCHAT_LIST, iPLAYER_LIST, true};
    if (run_chat_dot_command(copy, place, local_line_notice, dialog)) return true;
    const metaserver_context_data *context = get_metaserver_context();
    const player_appearance_data *appearance = context->player ? &context->player->appearance : nullptr;
    uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
    const uint32_t target = get_selected_player_user_id(dialog, iPLAYER_LIST);
    const uint16_t flags = target ? (uint16_t)_chat_message_directed_flag : (uint16_t)0;
    const int32_t length = build_vesk_metaserver_chat_packet(
        payload, appearance ? &appearance->primary_color : nullptr, flags, context->local_player_id,
        target ? target : 0xFFFFFFFFu, appearance ? appearance->name : nullptr, copy);
    byteswap_metaserver_packet(payload, length, true);
    if (target)
    {
        send_message_to_player(target, CHAT_PLAYER_SEND_SECOND_WORD, payload, length);
        clear_selection_unless_locked(dialog);
    }
    else
        room_broadcast_data(payload, length);
    return true;
}

static void send_chat_entry(dialog_data *dialog)
{
    char text[METASERVER_CHAT_ENTRY_SIZE];
    get_bitmap_dialog_edit_item_text(dialog, iCHAT_TEXT_ENTRY, text, sizeof(text));
    if (only_blanks(text)) return;
    set_bitmap_dialog_edit_item_text(dialog, iCHAT_TEXT_ENTRY, "");
    bitmap_set_item_enabled(dialog, iSEND_BUTTON, false);
    send_metaserver_chat_text(dialog, text);
}

// Whether a line that claimed another sender's name was logged for
// `sender` already: one line per impostor, however many it sends.
static bool impostor_logged_before(uint32_t sender)
{
    static uint32_t logged[64];
    static size_t count;
    for (size_t i = 0; i < count; ++i)
        if (logged[i] == sender) return true;
    // Past the table's end nobody is logged again: a flood gives no flood of lines.
    if (count == sizeof(logged) / sizeof(logged[0])) return true;
    logged[count++] = sender;
    return false;
}

// A chat payload from the room or from one player: shown only when its
// sender is listed in the room and not gagged.  Directed data carries the
// sender the service names; a payload claiming another is dropped.
static void receive_chat(dialog_data *dialog, void *data, int32_t length, bool directed)
{
    if (!dialog) return;
    // Chat is the only payload players send each other through the room.
    if (!byteswap_metaserver_packet(data, length, false))
    {
        LOG_REPEATED("a lobby payload of %d bytes is no chat: ignored", (int)length);
        return;
    }
    vesk_metaserver_chat_data header;
    memcpy(&header, data, sizeof(header));
    char text[CHAT_STRING_LENGTH];
    if (!extract_message_from_vesk_metaserver_chat_packet(data, length, text, sizeof(text)))
    {
        LOG_REPEATED("a lobby chat payload of %d bytes is malformed: ignored", (int)length);
        return;
    }
    if (directed && header.player_id != get_metaserver_directed_data_sender())
    {
        const uint32_t stamped = get_metaserver_directed_data_sender();
        if (!impostor_logged_before(stamped))
            LOG_REPEATED("lobby chat from player %u claiming to be player %u: dropped",
                         (unsigned)stamped, (unsigned)header.player_id);
        return;
    }
    new_player_data sender;
    if (!get_player_from_list_by_id(dialog, iPLAYER_LIST, header.player_id, &sender) ||
        player_is_gagged(dialog, iPLAYER_LIST, header.player_id))
        return;
    const rgb_color color = {header.color[0], header.color[1], header.color[2], header.color[3]};
    const bool local = header.player_id == get_metaserver_context()->local_player_id;
    const bool directed_flag = directed || (header.flags & _chat_message_directed_flag);
    add_chat_text_full(dialog, iCHAT_LIST, directed_flag ? _directed_chat_message_type : _normal_chat_message_type,
                       sender.appearance.name, &color, text, local);
}

// ---- events ----------------------------------------------------------------------

static void handle_url_event(int32_t event, void *data, int32_t length)
{
    auto &m = metaserver_lobby_dialog_globals;
    metaserver_context_data *context = get_metaserver_context();
    // The address first, then the message to show, each terminated.
    char url[URL_SIZE], message[CHAT_STRING_LENGTH] = "";
    const size_t url_length = data && length > 0 ? strnlen((const char *)data, (size_t)length) : 0;
    // An address cut to fit would lead somewhere else: it is refused whole.
    const bool fits = url_length < sizeof(url);
    extract_event_text(url, data, length, sizeof(url));
    const int32_t used = (int32_t)url_length + 1;
    if (used < length) extract_event_text(message, (const uint8_t *)data + used, length - used, sizeof(message));
    const bool yes = query_metaserver_url(message[0] ? message : url);
    if (yes)
    {
        if (fits && web_link_is_acceptable(url))
            strlcpy(m.url_at_exit, url, sizeof(m.url_at_exit));
        else
            LOG_REPEATED("the lobby sent an address that is not opened");
    }
    if (event == _metaserver_requires_url)
        context->state = yes ? _metaserver_sent_player_to_a_url : _metaserver_connection_user_cancelled;
}

bool handle_metaserver_event_in_client_dialog(int32_t event, void *data, int32_t length)
{
    auto &m = metaserver_lobby_dialog_globals;
    dialog_data *dialog = m.dialog;
    metaserver_context_data *context = get_metaserver_context();
    switch (event)
    {
    case _metaserver_requires_url:
    case _metaserver_requests_url:
    case _metaserver_requests_url_at_exit: handle_url_event(event, data, length); return true;
    case _metaserver_room_went_down:
        context->state = _metaserver_room_died;
        // While a game runs the dialog is hidden: the player is told on the console.
        if (!m.visible) set_console_warning("Metaserver connection lost", CONNECTION_LOST_WARNING_TICKS);
        return true;
    case _broadcast_message:
    case _directed_message: receive_chat(dialog, data, length, event == _directed_message); return true;
    case _unknown_text_message:
    {
        char text[CHAT_STRING_LENGTH];
        extract_event_text(text, data, length, sizeof(text));
        LOG_REPEATED("Unknown Msg: **%s**;g", text);
        return true;
    }
    case _message_of_the_day_message:
    {
        char text[CHAT_STRING_LENGTH];
        extract_event_text(text, data, length, sizeof(text));
        if (dialog) add_chat_text_full(dialog, iCHAT_LIST, _motd_chat_message_type, nullptr, nullptr, text, false);
        return true;
    }
    case _update_info_message:
        // A newer client is offered; the next login says so (not while a small dialog is up).
        if (!m.small_dialog_open) note_metaserver_client_update(data, length);
        return true;
    case _data_chunk_message:
    case _game_list_pref_message: return true;
    case _set_player_data_message:
        if (handle_metaserver_set_player_data(context, data, length)) m.allow_join_game = true;
        return true;
    case _update_player_buddy_list_message:
    case _update_order_member_list_message:
        handle_metaserver_list_event_for_lobby(context, event, data, length);
        show_sent_list_tabs(dialog);
        return true;
    default: return false;
    }
}

// ---- items -----------------------------------------------------------------------

static int16_t shown_player_list(dialog_data *dialog)
{
    if (!lobby_has_item(dialog, iPLAYER_LIST_TAB)) return iPLAYER_LIST;
    switch (get_selected_tab(dialog, iPLAYER_LIST_TAB))
    {
    case _buddy_tab: return lobby_has_item(dialog, iBUDDY_LIST) ? (int16_t)iBUDDY_LIST : (int16_t)iPLAYER_LIST;
    case _order_tab: return lobby_has_item(dialog, iORDER_LIST) ? (int16_t)iORDER_LIST : (int16_t)iPLAYER_LIST;
    default: return iPLAYER_LIST;
    }
}

static void show_player_tab(dialog_data *dialog, int16_t tab)
{
    if (lobby_has_item(dialog, iPLAYER_LIST_TAB)) set_selected_tab(dialog, iPLAYER_LIST_TAB, tab);
    bitmap_set_item_visible(dialog, iPLAYER_LIST, tab == _room_tab);
    if (lobby_has_item(dialog, iBUDDY_LIST)) bitmap_set_item_visible(dialog, iBUDDY_LIST, tab == _buddy_tab);
    if (lobby_has_item(dialog, iORDER_LIST)) bitmap_set_item_visible(dialog, iORDER_LIST, tab == _order_tab);
}

void empty_metaserver_client_dialog_lists(void)
{
    dialog_data *dialog = metaserver_lobby_dialog_globals.dialog;
    if (!dialog) return;
    reset_chat_text(dialog, iCHAT_LIST);
    clear_game_list(dialog, iGAME_LIST);
    clear_player_list(dialog, iPLAYER_LIST);
}

// Moves to `room` (the next one that takes us, going `forward`), emptying the
// lists of the room left.  The room reached, or -1.
static int16_t move_to_room(dialog_data *dialog, int16_t room, bool forward)
{
    const int16_t reached = change_metaserver_room(room, forward);
    if (lobby_has_item(dialog, iROOM_GRAPHIC) && reached != -1) set_room_graphic_bitmap(dialog, iROOM_GRAPHIC, reached);
    return reached;
}

static void refresh_room_graphic(dialog_data *dialog)
{
    if (!lobby_has_item(dialog, iROOM_GRAPHIC)) return;
    const int16_t room = get_current_room_graphic_id(dialog, iROOM_GRAPHIC);
    room_data data;
    if (room != NONE && get_metaserver_room_data(room, &data))
        set_current_room_counts(dialog, iROOM_GRAPHIC, room, data.player_count, data.game_count);
}

static void selection_changed(dialog_data *dialog, int16_t list)
{
    const uint32_t id = get_selected_player_user_id(dialog, list);
    const bool self = id == get_metaserver_context()->local_player_id;
    if (list == iPLAYER_LIST && lobby_has_item(dialog, iGAG_BUTTON))
    {
        set_button_control_name(dialog, iGAG_BUTTON,
                                get_metaserver_string(player_is_gagged(dialog, list, id) ? _remove_gag_msg : _gag_msg));
        bitmap_set_item_enabled(dialog, iGAG_BUTTON, id != 0 && !self);
    }
    else if (lobby_has_item(dialog, iGAG_BUTTON))
        bitmap_set_item_enabled(dialog, iGAG_BUTTON, id != 0);
    if (lobby_has_item(dialog, iBUDDY_BUTTON))
    {
        set_button_control_name(dialog, iBUDDY_BUTTON,
                                get_metaserver_string(metaserver_player_buddy_status((int32_t)id) ? _unbuddy_string
                                                                                                   : _buddy_string));
        bitmap_set_item_enabled(dialog, iBUDDY_BUTTON, id != 0 && !self);
    }
    if (lobby_has_item(dialog, iPLAYER_STATS_BUTTON)) bitmap_set_item_enabled(dialog, iPLAYER_STATS_BUTTON, id != 0);
}

static void clear_player_selection(dialog_data *dialog)
{
    bitmap_clear_selections(dialog, shown_player_list(dialog));
    disable_player_buttons(dialog);
}

// The room the selected buddy or order member is in (NONE when none).
static int16_t selected_players_room(dialog_data *dialog, int16_t list)
{
    const int16_t row = bitmap_get_listbox_value(dialog, list);
    if (row < 0) return NONE;
    player_list_data data;
    int16_t size = (int16_t)sizeof(data);
    bitmap_get_listbox_row_data(dialog, list, row, &data, &size);
    return size == (int16_t)sizeof(data) ? (int16_t)data.room_id : (int16_t)NONE;
}

// Waits for the player data the room sends after a move; false on time-out
// or cancel.
static bool wait_for_player_data(void)
{
    const uint32_t start = machine_tick_count();
    progress_function(_progress_open_without_bar, get_metaserver_string(_waiting_for_player_data_msg), 0);
    bool cancelled = false;
    while (!allow_join_game_raised() && machine_tick_count() - start < METASERVER_JOIN_WAIT_MILLISECONDS)
    {
        if (progress_function(_progress_modal_pass, nullptr, 0))
        {
            cancelled = true;
            break;
        }
        if (!get_progress_dialog()) update_everything();
        update_metaserver();
        if (!metaserver_connected()) break;
    }
    progress_function(_progress_close, nullptr, 0);
    return !cancelled && allow_join_game_raised();
}

// The join-failed dialog, with `message` of the lobby's strings.
static void show_join_failure(int16_t message, const net_game_description *game)
{
    auto &m = metaserver_lobby_dialog_globals;
    m.small_dialog_open = true;
    do_join_game_failed_dialog(get_metaserver_string(message), game);
    m.small_dialog_open = false;
}

// Join (8): true when the selected game is to be joined (its description
// then in the context's).
static bool join_selected_game(dialog_data *dialog)
{
    auto &m = metaserver_lobby_dialog_globals;
    metaserver_context_data *context = get_metaserver_context();
    net_game_description game;
    if (!get_game_list_selection(dialog, iGAME_LIST, &game)) return false;
    if (game.flags & _net_game_invalid_flag)
    {
        show_join_failure(_incompatible_tags_string, &game);
        return false;
    }
    if ((game.flags & _net_game_in_progress_flag) && !(game.flags & _net_game_supports_midgame_joining_flag))
    {
        show_join_failure(_game_in_progress_string, &game);
        return false;
    }
    if (game.public_tags_checksum != tag_files_get_foundation_checksum())
    {
        show_join_failure(_incompatible_tags_string, &game);
        return false;
    }
    if (game.flags & _net_game_has_password_flag)
    {
        char password[NET_GAME_PASSWORD_SIZE] = "";
        if (!query_for_game_password(password, sizeof(password))) return false;
        strlcpy(game.password, password, sizeof(game.password));
    }
    const int16_t room = game.parameters.room_id;
    if (room != context->desired_room)
    {
        m.allow_join_game = false;
        const int16_t reached = move_to_room(dialog, room, true);
        if (reached != room) return false;
        if (!wait_for_player_data()) return false;
    }
    if (context->game_description) *context->game_description = game;
    return true;
}

// New (7): the host's parameters (or, with Shift, the automatic host's
// playlist), then the game is listed.
static bool create_new_game(void)
{
    metaserver_context_data *context = get_metaserver_context();
    if (!context->game_description) return false;
    const bool accepted = key_down(SHIFT_KEY) ? open_autohost_dialog(context->game_description, CALLED_FROM_LOBBY) &&
                                                    take_installed_autohosted_map(context->game_description)
                                              : netgame_parameters_dialog(context->game_description,
                                                                          CALLED_FROM_LOBBY, false, true);
    if (!accepted) return false;
    context->game_description->player_count = 1;
    // Listed as every later change lists it: the players its map takes.
    net_game_description listed = *context->game_description;
    netgame_listed_description(&listed);
    synchronize_game_with_metaserver(_synchronize_with_metaserver_create_game_verb, &listed, 0);
    return true;
}

static void go_to_selected_players_room(dialog_data *dialog, int16_t list)
{
    const int16_t room = selected_players_room(dialog, list);
    if (room == NONE) return;
    if (move_to_room(dialog, room, true) != -1) show_player_tab(dialog, _room_tab);
}

// One item; a choice other than NONE ends the loop.
static int16_t handle_item(dialog_data *dialog, int16_t item)
{
    auto &m = metaserver_lobby_dialog_globals;
    metaserver_context_data *context = get_metaserver_context();
    const int16_t list = shown_player_list(dialog);
    switch (item)
    {
    case iROOM_GRAPHIC:
    {
        // The graphic has moved to the room chosen in it.
        const int16_t room = get_current_room_graphic_id(dialog, iROOM_GRAPHIC);
        if (room != NONE) context->desired_room = room;
        refresh_room_graphic(dialog);
        clear_player_selection(dialog);
        show_player_tab(dialog, _room_tab);
        break;
    }
    case iPLAYER_LIST:
    case iORDER_LIST:
    case iBUDDY_LIST: selection_changed(dialog, item); break;
    case iLEAVE_METASERVER: return _lobby_left;
    case iSTART_NEW_GAME:
        if (create_new_game()) return _lobby_created_game;
        break;
    case iJOIN_GAME:
        if (join_selected_game(dialog)) return _lobby_joined_game;
        refresh_room_graphic(dialog);
        break;
    case iCHAT_TEXT_ENTRY:
    {
        char text[METASERVER_CHAT_ENTRY_SIZE];
        get_bitmap_dialog_edit_item_text(dialog, iCHAT_TEXT_ENTRY, text, sizeof(text));
        bitmap_set_item_enabled(dialog, iSEND_BUTTON, !only_blanks(text));
        break;
    }
    case iGAG_BUTTON:
        if (list == iPLAYER_LIST)
        {
            const uint32_t id = get_selected_player_user_id(dialog, list);
            if (id && id != context->local_player_id)
            {
                gag_player(dialog, list, id, !player_is_gagged(dialog, list, id));
                selection_changed(dialog, list);
            }
        }
        else
            go_to_selected_players_room(dialog, list);
        break;
    case iPLAYER_STATS_BUTTON:
    {
        const uint32_t id = get_selected_player_user_id(dialog, list);
        if (id)
        {
            m.small_dialog_open = true;
            do_player_info_dialog(dialog, list, id);
            m.small_dialog_open = false;
        }
        clear_player_selection(dialog);
        break;
    }
    case iFIND_PLAYER_BUTTON:
        if (list != iPLAYER_LIST && selected_players_room(dialog, list) != NONE)
            go_to_selected_players_room(dialog, list);
        else
        {
            m.small_dialog_open = true;
            const int16_t room = do_player_search_dialog();
            m.small_dialog_open = false;
            if (room >= 0 && move_to_room(dialog, room, true) != -1) show_player_tab(dialog, _room_tab);
        }
        break;
    case iBUDDY_BUTTON:
    {
        const uint32_t id = get_selected_player_user_id(dialog, list);
        if (id) send_update_buddy((int32_t)id, metaserver_player_buddy_status((int32_t)id) == _buddy_inactive);
        clear_player_selection(dialog);
        break;
    }
    case iPLAYER_LIST_TAB: show_player_tab(dialog, get_selected_tab(dialog, iPLAYER_LIST_TAB)); break;
    case iGAME_LIST_TAB:
        bitmap_set_item_visible(dialog, iGAME_LIST,
                                get_selected_tab(dialog, iGAME_LIST_TAB) == _local_games_tab);
        break;
    case iSEND_BUTTON: send_chat_entry(dialog); break;
    default: break;
    }
    return NONE;
}

static bool lobby_no_longer_connected(void) { return get_metaserver_context()->state != _metaserver_connected; }

int16_t run_metaserver_client_dialog_items(void)
{
    auto &m = metaserver_lobby_dialog_globals;
    dialog_data *dialog = m.dialog;
    metaserver_context_data *context = get_metaserver_context();
    if (!dialog) return _lobby_left;
    int16_t choice = _lobby_left;
    for (;;)
    {
        net_game_description selected;
        bitmap_set_item_enabled(dialog, iJOIN_GAME, get_game_list_selection(dialog, iGAME_LIST, &selected));
        // The networking dialogs' modal run: a tool's script may press too.
        // It ends when the lobby leaves the connected state, so that the loop
        // sees a room that died while the player did nothing.
        const int16_t item = network_modal_dialog(dialog, lobby_no_longer_connected);
        if (!dialog_is_open(dialog)) break;
        if (context->state == _metaserver_sent_player_to_a_url)
        {
            // The address is opened once the lobby is left; the player logs in again.
            LOG_REPEATED("Metaserver sent player to unknown url!");
            choice = _lobby_back_to_login;
            break;
        }
        if (context->state == _metaserver_room_died)
        {
            show_metaserver_error_message(get_metaserver_string(_metaserver_room_died_msg),
                                          get_metaserver_string(_ok_msg));
            context->state = _metaserver_connected;
            break;
        }
        if (context->state == _metaserver_connection_user_cancelled)
        {
            refresh_room_graphic(dialog);
            break;
        }
        const int16_t result = handle_item(dialog, item);
        if (result != NONE)
        {
            choice = result;
            break;
        }
        if (context->state != _metaserver_connected) break;
    }
    save_metaserver_preferences(context->desired_room, nullptr);
    return choice;
}

// ---- the session -----------------------------------------------------------------

static void open_kept_url(void)
{
    auto &m = metaserver_lobby_dialog_globals;
    if (!m.url_at_exit[0]) return;
    go_to_url(m.url_at_exit);
    m.url_at_exit[0] = 0;
}

static void back_to_idle(dialog_data *dialog, new_player_data *player)
{
    uint8_t data[MAXIMUM_METASERVER_PLAYER_DATA_SIZE];
    change_player_data(data, build_metaserver_player_data_from_appearance(data, &player->appearance,
                                                                          _player_state_idle));
    clear_game_list(dialog, iGAME_LIST);
    clear_player_list(dialog, iPLAYER_LIST);
    request_full_update_from_metaserver();
}

int16_t handle_metaserver_dialog_for_session(new_game_data *data, net_game_description *description,
                                             new_player_data *player, uint32_t passed_value, bool first_entry)
{
    auto &m = metaserver_lobby_dialog_globals;
    metaserver_context_data *context = get_metaserver_context();
    m.back_to_login = false;
    if (!data || !description || !player || !create_metaserver_client_dialog()) return 0;
    dialog_data *dialog = m.dialog;
    show_metaserver_client_dialog(true);
    if (!metaserver_connected())
    {
        show_metaserver_client_dialog(false);
        return 0;
    }
    context->game_description = description;
    context->player = player;
    if (!first_entry)
    {
        remove_game_from_room_list();
        back_to_idle(dialog, player);
    }
    save_metaserver_preferences(context->desired_room, nullptr);
    player->metaserver_player_id = (int32_t)context->local_player_id;
    player->order = get_metaserver_order_id();

    for (;;)
    {
        const net_game_description saved = *description;
        const int16_t choice = run_metaserver_client_dialog_items();
        if (choice == _lobby_left || choice == _lobby_back_to_login)
        {
            m.back_to_login = choice == _lobby_back_to_login;
            show_metaserver_client_dialog(false);
            if (m.back_to_login)
                show_metaserver_error_message(get_metaserver_string(_metaserver_sent_player_elsewhere_msg),
                                              get_metaserver_string(_ok_msg));
            open_kept_url();
            return 0;
        }
        uint8_t look[MAXIMUM_METASERVER_PLAYER_DATA_SIZE];
        change_player_data(look, build_metaserver_player_data_from_appearance(look, &player->appearance,
                                                                              _player_state_in_game));
        // A joiner's scores go to the game joined; the host's to its listing,
        // once the room has named it.
        const int32_t game_id =
            choice == _lobby_joined_game ? (int32_t)description->game_id : get_listed_metaserver_game_id();
        const metaserver_session_starter start = m.starter ? m.starter : setup_network_game_for_new_netgame_session;
        bool failed = false;
        const int16_t result = start(data, description, player, choice, passed_value, game_id,
                                     (int32_t)context->local_player_id, context->local_player_caste, &failed);
        if (result)
        {
            show_metaserver_client_dialog(false);
            return result;
        }
        *description = saved;
        if (choice == _lobby_created_game) remove_game_from_room_list();
        back_to_idle(dialog, player);
    }
}
