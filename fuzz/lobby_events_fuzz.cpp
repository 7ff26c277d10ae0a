// The lobby's list events on arbitrary packets, handed to a dialog with a
// player list, a game list, buddy and order lists and a search list, as the
// pump passes them (host order, any length): player, game, search, buddy and
// order lists, the local player's data, one player's statistics and the
// buddy and order updates.  Every row must be one the packet's entries could
// give (no more rows than entries), and every text of a game row terminated
// inside its field.  The first byte picks the event; the rest is the
// packet's body.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/errors.h"
#include "dialog_tag_writer.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_lists.h"
#include "register_vesk_controls.h"
#include "fuzz_support.h"
#include "tag_files/tag_files.h"

#define FUZZ_DIALOG_TAG FOUR_CHARACTER_CODE('f', 'u', 'z', 'l')

enum
{
    PLAYERS = 1,
    GAMES,
    BUDDIES,
    ORDER,
    SEARCH,
    MAXIMUM_PACKET = 65536,
};

static dialog_data *make_dialog(void)
{
    register_vesk_controls();
    register_metaserver_controls();
    dialog_description description;
    description.bounds = {0, 0, 500, 300};
    const struct
    {
        file_tag type;
        int16_t id;
    } items[] = {{PLAYER_LIST_CONTROL_TAG, PLAYERS}, {GAME_LIST_CONTROL_TAG, GAMES},
                 {BUDDY_LIST_CONTROL_TAG, BUDDIES}, {ORDER_LIST_CONTROL_TAG, ORDER},
                 {FOUR_CHARACTER_CODE('s', 'l', 's', 't'), SEARCH}};
    for (const auto &i : items)
    {
        dialog_item_description item;
        item.type = i.type;
        item.item_id = i.id;
        item.bounds = {10, (int16_t)(10 + 90 * (i.id - 1)), 290, (int16_t)(90 + 90 * (i.id - 1))};
        description.items.push_back(item);
    }
    const std::vector<uint8_t> bytes = build_dialog_tag_data(description);
    return new_dialog_from_tag_data(FUZZ_DIALOG_TAG, bytes.data(), (int32_t)bytes.size(), NONE, nullptr, nullptr,
                                    NONE, _dialog_has_no_background_flag);
}

static void check_game_rows(dialog_data *dialog)
{
    for (int16_t row = 0; row < bitmap_get_listbox_row_count(dialog, GAMES); ++row)
    {
        net_game_description game;
        int16_t size = (int16_t)sizeof(game);
        bitmap_get_listbox_row_data(dialog, GAMES, row, &game, &size);
        if (size != (int16_t)sizeof(game)) abort();
        if (!memchr(game.name, 0, sizeof(game.name)) || !memchr(game.map_name, 0, sizeof(game.map_name))) abort();
        if ((game.flags & _net_game_has_password_flag) && !game.password[0]) abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static dialog_data *dialog = nullptr;
    static metaserver_lobby_lists lists;
    static metaserver_player_stats stats;
    static int16_t info_state;
    static metaserver_context_data context;
    static new_player_data player;
    if (!dialog)
    {
        quiet_fuzz_errors();
        if (!make_scratch_store() || !(dialog = make_dialog())) abort();
        lists = empty_metaserver_lobby_lists();
        lists.dialog = dialog;
        lists.player_list_item = PLAYERS;
        lists.game_list_item = GAMES;
        lists.buddy_list_item = BUDDIES;
        lists.order_list_item = ORDER;
        lists.search_dialog = dialog;
        lists.search_list_item = SEARCH;
        lists.player_stats = &stats;
        lists.player_info_state = &info_state;
        context.player = &player;
    }
    if (size < 1 || size > MAXIMUM_PACKET) return 0;
    static const int32_t events[] = {_player_list_message,   _game_list_message,  _set_player_data_message,
                                     _player_search_message, _buddy_list_message, _order_list_message,
                                     _player_info_message,   _update_player_buddy_list_message,
                                     _update_order_member_list_message};
    const int32_t event = events[data[0] % (sizeof(events) / sizeof(events[0]))];
    // The packet as the pump passes it: its header, then the body; the
    // buddy update gets the body alone, at least as long as the pump requires.
    std::vector<uint8_t> packet(METASERVER_PACKET_HEADER_SIZE, 0);
    packet.insert(packet.end(), data + 1, data + size);
    const int32_t length = (int32_t)packet.size();
    memcpy(packet.data() + 4, &length, 4);
    if (event == _update_player_buddy_list_message)
    {
        if (size - 1 < MAXIMUM_BUDDIES * sizeof(buddy_entry)) return 0;
        std::vector<uint8_t> body(data + 1, data + size);
        handle_metaserver_list_event(&lists, &context, event, body.data(), 0);
        return 0;
    }
    for (int16_t item : {PLAYERS, BUDDIES, ORDER}) clear_player_list(dialog, item);
    clear_game_list(dialog, GAMES);
    bitmap_empty_list(dialog, SEARCH);
    info_state = _player_info_requested;
    handle_metaserver_list_event(&lists, &context, event, packet.data(), length);
    // An entry takes at least 24 bytes of aux data (32 for a game).
    const int32_t most = length / 24 + 1;
    for (int16_t item : {PLAYERS, GAMES, BUDDIES, ORDER, SEARCH})
        if (bitmap_get_listbox_row_count(dialog, item) > most) abort();
    check_game_rows(dialog);
    if (!memchr(player.appearance.name, 0, sizeof(player.appearance.name))) abort();
    return 0;
}
