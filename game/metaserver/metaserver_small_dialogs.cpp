// The lobby's small dialogs.  See metaserver_small_dialogs.h.

#include "metaserver/metaserver_small_dialogs.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/status_bar_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/log.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver/metaserver_strings.h"
#include "shapes.h"

static struct metaserver_small_dialogs_globals
{
    metaserver_player_stats player_stats; // the answer the information dialog shows
    int16_t player_info_state; // player_info_request_state
} metaserver_small_dialogs_globals;

// The score slot each entry of the information dialog's score list ('inas')
// shows; -1 is the overall ranked record.
static const int16_t game_scoring_types[NUMBER_OF_INFO_SCORE_TYPES] = {-1, 1, 2,  4, 5,  0,  7,  8, 9,
                                                                       10, 11, 12, 6, 3, 14, 15, 13};

// ---- room chooser ----------------------------------------------------------------

int16_t metaserver_change_room(void)
{
    static const dialog_item_requirement items[] = {
        {_room_dialog_ok_item, BUTTON_CONTROL_TAG},
        {_room_dialog_cancel_item, BUTTON_CONTROL_TAG},
        {_room_dialog_list_item, LIST_CONTROL_TAG},
    };
    dialog_data *dialog = open_dialog_with_items(ROOM_DIALOG_TAG, _dialog_is_centered_flag, items,
                                                 (int32_t)(sizeof(items) / sizeof(items[0])), SMALL_DIALOG_BACKGROUND_TAG);
    if (!dialog) return -1;
    // The plain list of the tag becomes the room list, which no tag can name.
    control_data *list = find_control(dialog, _room_dialog_list_item);
    list->handler = room_list_control_def_proc;
    list->flags |= _control_requires_idle_time_flag;
    room_list_control_def_proc(_control_new_completion_verb, dialog, _room_dialog_list_item, nullptr);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _room_dialog_list_item, _room_dialog_ok_item);
    select_room_by_identifier(dialog, _room_dialog_list_item, get_metaserver_context()->desired_room);
    set_default_dialog_item(dialog, _room_dialog_ok_item);
    set_dialog_cancel_item(dialog, _room_dialog_cancel_item);

    int16_t room = -1;
    for (;;)
    {
        bitmap_set_item_enabled(dialog, _room_dialog_ok_item,
                                get_selected_room_identifier(dialog, _room_dialog_list_item) != NONE);
        const int16_t item = modal_dialog(dialog);
        if (item == NONE || item == _room_dialog_cancel_item || !dialog_is_open(dialog)) break;
        if (item != _room_dialog_ok_item) continue;
        const int16_t selected = get_selected_room_identifier(dialog, _room_dialog_list_item);
        if (selected == NONE) continue;
        room = selected;
        break;
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return room;
}

// ---- questions -------------------------------------------------------------------

static bool ask_yes_or_no(const char *text)
{
    static const dialog_item_requirement items[] = {
        {_question_dialog_text_item, STATIC_TEXT_CONTROL_TAG},
        {_question_dialog_no_item, BUTTON_CONTROL_TAG},
        {_question_dialog_yes_item, BUTTON_CONTROL_TAG},
    };
    dialog_data *dialog = open_dialog_with_items(QUESTION_DIALOG_TAG, _dialog_is_centered_flag, items,
                                                 (int32_t)(sizeof(items) / sizeof(items[0])), SMALL_DIALOG_BACKGROUND_TAG);
    if (!dialog)
    {
        log_message(__FILE__, __LINE__, "lobby question not asked (taken as no): %s", text ? text : "");
        return false;
    }
    set_bitmap_dialog_static_item_text(dialog, _question_dialog_text_item, text ? text : "");
    set_default_dialog_item(dialog, _question_dialog_yes_item);
    set_dialog_cancel_item(dialog, _question_dialog_no_item);
    bool yes = false;
    for (;;)
    {
        const int16_t item = modal_dialog(dialog);
        if (item == NONE || item == _question_dialog_no_item || !dialog_is_open(dialog)) break;
        if (item == _question_dialog_yes_item)
        {
            yes = true;
            break;
        }
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return yes;
}

bool query_metaserver_url(const char *text) { return ask_yes_or_no(text); }
bool metaserver_query_dialog(const char *text) { return ask_yes_or_no(text); }

// ---- player search ---------------------------------------------------------------

// Whether the text holds something other than spaces and tabs.
static bool has_text(const char *text)
{
    for (; *text; ++text)
        if (*text != ' ' && *text != '\t') return true;
    return false;
}

static void enable_search_buttons(dialog_data *dialog)
{
    char text[PLAYER_SEARCH_TEXT_SIZE];
    get_bitmap_dialog_edit_item_text(dialog, _search_dialog_text_item, text, sizeof(text));
    bitmap_set_item_enabled(dialog, _search_dialog_find_item, has_text(text));
    bitmap_set_item_enabled(dialog, _search_dialog_go_to_item,
                            bitmap_get_listbox_value(dialog, _search_dialog_list_item) != NONE);
}

// Every pass: the buttons follow the text and the selection (results may
// come at any time), and a room that dies while the search is up ends it.
static bool search_pass(void *dialog, action_data *)
{
    enable_search_buttons((dialog_data *)dialog);
    return get_metaserver_context()->state == _metaserver_room_died;
}

int16_t do_player_search_dialog(void)
{
    static const dialog_item_requirement items[] = {
        {_search_dialog_go_to_item, BUTTON_CONTROL_TAG},
        {_search_dialog_cancel_item, BUTTON_CONTROL_TAG},
        {_search_dialog_list_item, STRING_LIST_CONTROL_TAG},
        {_search_dialog_text_item, EDITTEXT_CONTROL_TAG},
        {_search_dialog_find_item, BUTTON_CONTROL_TAG},
    };
    dialog_data *dialog = open_dialog_with_items(PLAYER_SEARCH_DIALOG_TAG, _dialog_is_centered_flag, items,
                                                 (int32_t)(sizeof(items) / sizeof(items[0])),
                                                 PLAYER_SEARCH_BACKGROUND_TAG);
    if (!dialog)
    {
        log_message(__FILE__, __LINE__, "could not create player search dialog");
        return PLAYER_SEARCH_CANCELLED;
    }
    set_bitmap_dialog_edit_item_maximum_length(dialog, _search_dialog_text_item, PLAYER_SEARCH_TEXT_SIZE - 1);
    set_dialog_focus(dialog, _search_dialog_text_item);
    set_default_dialog_item(dialog, _search_dialog_find_item);
    set_dialog_cancel_item(dialog, _search_dialog_cancel_item);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _search_dialog_list_item, _search_dialog_go_to_item);
    set_metaserver_search_list(dialog, _search_dialog_list_item);

    int16_t result = PLAYER_SEARCH_CANCELLED;
    for (;;)
    {
        enable_search_buttons(dialog);
        const int16_t item = custom_modal_dialog(dialog, dialog, search_pass);
        if (item == NONE || item == _search_dialog_cancel_item || !dialog_is_open(dialog)) break;
        if (item == _search_dialog_find_item)
        {
            char text[PLAYER_SEARCH_TEXT_SIZE];
            get_bitmap_dialog_edit_item_text(dialog, _search_dialog_text_item, text, sizeof(text));
            if (!has_text(text)) continue;
            bitmap_empty_list(dialog, _search_dialog_list_item);
            send_player_search_query(text);
        }
        else if (item == _search_dialog_go_to_item)
        {
            if (bitmap_get_listbox_value(dialog, _search_dialog_list_item) == NONE) continue;
            result = (int16_t)get_string_list_selected_identifier(dialog, _search_dialog_list_item);
            break;
        }
    }
    set_metaserver_search_list(nullptr, NONE);
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return result;
}

// ---- player information ----------------------------------------------------------

int16_t info_score_slot(int16_t entry, bool order)
{
    if (entry < 0 || entry >= NUMBER_OF_INFO_SCORE_TYPES) entry = 0;
    const int16_t type = game_scoring_types[entry];
    // Each half holds the unranked, the ranked and the 16 ranked-by-type records.
    const int16_t base = order ? (int16_t)(NUMBER_OF_SCORE_DATUMS / 2) : (int16_t)0;
    return (int16_t)(base + (type == -1 ? 1 : 2 + type));
}

int32_t info_bar_fraction(uint32_t value, uint32_t best)
{
    // Nobody has scored yet: an empty bar rather than a division by zero.
    if (best == 0) return 0;
    const uint64_t fraction = (uint64_t)value * STATUS_BAR_FULL / best;
    return fraction > STATUS_BAR_FULL ? STATUS_BAR_FULL : (int32_t)fraction;
}

// The four description texts of the answer, each cut at its terminator and
// at the end of the record.
static void description_texts(const metaserver_player_stats *stats, char texts[4][PLAYER_DESCRIPTION_TEXT_SIZE])
{
    const char *at = stats->description, *end = stats->description + sizeof(stats->description);
    for (int32_t i = 0; i < 4; ++i) at = extract_string(texts[i], at, PLAYER_DESCRIPTION_TEXT_SIZE, end);
}

static void set_text(dialog_data *dialog, int16_t item, const char *format, ...) __attribute__((format(printf, 3, 4)));
static void set_text(dialog_data *dialog, int16_t item, const char *format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    set_bitmap_dialog_static_item_text(dialog, item, text);
}

// The statistics of the chosen score type, of the player or of his order.
static void show_player_scores(dialog_data *dialog, const metaserver_player_stats *stats)
{
    const int16_t entry = (int16_t)get_string_list_selected_identifier(dialog, _info_dialog_score_type_item);
    const bool order = stats->order_name[0] && get_checkbox_state(dialog, _info_dialog_order_item);
    const int16_t slot = info_score_slot(entry, order);
    const draxil_net_player_score_datum &datum = stats->fixed.scores[slot];
    const game_rank_data &rank = stats->fixed.overall_rank_data.ranks[slot];
    const uint32_t total = order ? stats->fixed.overall_rank_data.total_orders : stats->fixed.overall_rank_data.total_users;
    set_text(dialog, _info_dialog_rank_item, "%s: %u / %u", get_metaserver_string(_rank_string),
             (unsigned)datum.numerical_ranking, (unsigned)total);

    const struct
    {
        int16_t text_item, bar_item, label;
        int32_t value;
        const ranking_data *ranking;
    } bars[] = {
        {_info_dialog_points_item, _info_dialog_points_bar_item, _points_string, datum.points, &rank.points},
        {_info_dialog_wins_item, _info_dialog_wins_bar_item, _wins_string, datum.wins, &rank.wins},
        {_info_dialog_damage_inflicted_item, _info_dialog_damage_inflicted_bar_item, _damage_inflicted_string,
         datum.damage_inflicted, &rank.damage_inflicted},
        {_info_dialog_damage_received_item, _info_dialog_damage_received_bar_item, _damage_received_string,
         datum.damage_received, &rank.damage_received},
    };
    for (const auto &bar : bars)
    {
        set_text(dialog, bar.text_item, "%s: %d", get_metaserver_string(bar.label), (int)bar.value);
        // A negative score draws as none.
        const uint32_t value = bar.value < 0 ? 0u : (uint32_t)bar.value;
        set_status_bar_fraction(dialog, bar.bar_item, info_bar_fraction(value, bar.ranking->best));
        set_status_bar_average_point(dialog, bar.bar_item, info_bar_fraction(bar.ranking->average, bar.ranking->best));
    }
    set_text(dialog, _info_dialog_games_played_item, "%s: %d", get_metaserver_string(_games_played_string),
             (int)datum.games_played);
    char best[sizeof(rank.top_ranked_player) + 1];
    memcpy(best, rank.top_ranked_player, sizeof(rank.top_ranked_player));
    best[sizeof(rank.top_ranked_player)] = 0;
    set_text(dialog, _info_dialog_best_player_item, "%s: %s", get_metaserver_string(_highest_ranked_player_string),
             best);
}

// The answer arrived: names, icon, description and scores.
static void show_player_info(dialog_data *dialog, metaserver_player_stats *stats, bool local_user,
                             const char *shown_name)
{
    stats->login[sizeof(stats->login) - 1] = 0;
    stats->name[sizeof(stats->name) - 1] = 0;
    stats->order_name[sizeof(stats->order_name) - 1] = 0;
    set_text(dialog, _info_dialog_login_item, "%s: %s", get_metaserver_string(_login_string), stats->login);
    // The name every list shows for the player, where one does: the lobby's
    // record may spell it otherwise.
    set_text(dialog, _info_dialog_name_item, "%s: %s", get_metaserver_string(_name_string),
             shown_name && shown_name[0] ? shown_name : stats->name);
    const bool has_order = stats->order_name[0] != 0;
    if (has_order)
        set_text(dialog, _info_dialog_order_name_item, "%s: %s", get_metaserver_string(_order_name_string),
                 stats->order_name);
    bitmap_set_item_visible(dialog, _info_dialog_order_name_item, has_order);
    bitmap_set_item_visible(dialog, _info_dialog_order_item, has_order);

    const int32_t icons = get_collection_index(PLAYER_ICON_COLLECTION_TAG);
    if (icons != NONE)
    {
        // An icon the collection lacks shows the first coat of arms.
        const int16_t icon =
            get_sequence_instance_index(icons, _player_icon_coats_of_arms_sequence, 0, stats->fixed.icon_index) != NONE
                ? stats->fixed.icon_index
                : (int16_t)0;
        set_dialog_bitmap_art(dialog, _info_dialog_icon_item, (int16_t)icons, _player_icon_coats_of_arms_sequence, icon);
        const rgb_color colors[2] = {
            {stats->fixed.primary_color.red, stats->fixed.primary_color.green, stats->fixed.primary_color.blue, 0},
            {stats->fixed.secondary_color.red, stats->fixed.secondary_color.green, stats->fixed.secondary_color.blue,
             0}};
        set_bitmap_item_replacement_colors(dialog, _info_dialog_icon_item, colors);
    }

    char texts[4][PLAYER_DESCRIPTION_TEXT_SIZE];
    description_texts(stats, texts);
    for (int32_t i = 0; i < 4; ++i)
    {
        const int16_t item = (int16_t)(_info_dialog_city_item + 2 * i);
        set_bitmap_dialog_edit_item_text(dialog, item, texts[i]);
        bitmap_set_item_enabled(dialog, item, local_user);
    }
    show_player_scores(dialog, stats);
}

struct player_info_dialog
{
    dialog_data *dialog;
    bool local_user;
    char shown_name[PLAYER_NAME_SIZE]; // as the lobby dialog's list shows it; empty: none
};

// Shows the answer once it arrives (every pass of the modal loop).
static bool take_player_info_answer(void *data, action_data *)
{
    auto &g = metaserver_small_dialogs_globals;
    if (g.player_info_state != _player_info_received) return false;
    const player_info_dialog *info = (const player_info_dialog *)data;
    show_player_info(info->dialog, &g.player_stats, info->local_user, info->shown_name);
    g.player_info_state = _player_info_processed;
    return false;
}

// Opens the user's page (the lobby's address format with his identifier)
// when the format is set and takes exactly one number.
static void open_user_page(int32_t user_id)
{
    const char *format = get_metaserver_string(_user_url_format_string);
    if (!*format) return;
    int32_t conversions = 0;
    bool sound = true;
    for (const char *at = strchr(format, '%'); at; at = strchr(at + 2, '%'))
    {
        if (at[1] == '%') continue;
        sound = sound && at[1] == 'd';
        ++conversions;
        if (!at[1]) break;
    }
    if (!sound || conversions != 1)
    {
        LOG_REPEATED("the lobby's user address format \"%s\" is refused (one %%d expected)", format);
        return;
    }
    char url[MAXIMUM_LINK_URL_LENGTH];
    const int written = snprintf(url, sizeof(url), format, (int)user_id);
    if (written < 0 || written >= (int)sizeof(url))
    {
        LOG_REPEATED("the lobby's user address is too long: not opened");
        return;
    }
    go_to_url(url); // which checks the scheme
}

void do_player_info_dialog(dialog_data *lobby_dialog, int16_t list_item, uint32_t player_id)
{
    auto &g = metaserver_small_dialogs_globals;
    static const dialog_item_requirement items[] = {
        {_info_dialog_ok_item, BUTTON_CONTROL_TAG},
        {_info_dialog_name_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_login_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_order_name_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_city_item, EDITTEXT_CONTROL_TAG},
        {_info_dialog_state_item, EDITTEXT_CONTROL_TAG},
        {_info_dialog_country_item, EDITTEXT_CONTROL_TAG},
        {_info_dialog_personal_item, EDITTEXT_CONTROL_TAG},
        {_info_dialog_order_item, CHECKBOX_CONTROL_TAG},
        {_info_dialog_score_type_item, STRING_LIST_CONTROL_TAG},
        {_info_dialog_rank_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_points_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_points_bar_item, STATUS_BAR_CONTROL_TAG},
        {_info_dialog_wins_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_wins_bar_item, STATUS_BAR_CONTROL_TAG},
        {_info_dialog_damage_inflicted_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_damage_inflicted_bar_item, STATUS_BAR_CONTROL_TAG},
        {_info_dialog_damage_received_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_damage_received_bar_item, STATUS_BAR_CONTROL_TAG},
        {_info_dialog_icon_item, BITMAP_ITEM_CONTROL_TAG},
        {_info_dialog_games_played_item, STATIC_TEXT_CONTROL_TAG},
        {_info_dialog_best_player_item, STATIC_TEXT_CONTROL_TAG},
    };
    dialog_data *dialog = open_dialog_with_items(PLAYER_INFO_DIALOG_TAG, _dialog_is_centered_flag, items,
                                                 (int32_t)(sizeof(items) / sizeof(items[0])),
                                                 PLAYER_INFO_BACKGROUND_TAG);
    if (!dialog) return;
    player_info_dialog info = {dialog, player_id == get_metaserver_context()->local_player_id, ""};
    new_player_data listed;
    const file_tag list_type = lobby_dialog ? get_bitmap_item_tag(lobby_dialog, list_item) : (file_tag)NONE;
    if ((list_type == PLAYER_LIST_CONTROL_TAG || list_type == BUDDY_LIST_CONTROL_TAG ||
         list_type == ORDER_LIST_CONTROL_TAG) &&
        get_player_from_list_by_id(lobby_dialog, list_item, player_id, &listed))
        strlcpy(info.shown_name, listed.appearance.name, sizeof(info.shown_name));
    const bool local_user = info.local_user;
    // In the order of the score slots, the overall scores first.
    set_string_list_sorted(dialog, _info_dialog_score_type_item, false);
    append_strings_to_list_with_mask(dialog, _info_dialog_score_type_item, PLAYER_INFO_SCORE_TYPES_TAG, 0xFFFFFFFFu,
                                     false);
    select_string_list_by_identifier(dialog, _info_dialog_score_type_item, 0);
    bitmap_set_list_flag(dialog, _info_dialog_score_type_item, _list_cant_lose_selection_flag, true);
    for (int32_t i = 0; i < 4; ++i)
    {
        const int16_t item = (int16_t)(_info_dialog_city_item + 2 * i);
        set_bitmap_dialog_edit_item_maximum_length(dialog, item, PLAYER_DESCRIPTION_TEXT_SIZE - 1);
        bitmap_set_item_enabled(dialog, item, false);
    }
    bitmap_set_item_visible(dialog, _info_dialog_order_item, false);
    bitmap_set_item_visible(dialog, _info_dialog_order_name_item, false);
    set_default_dialog_item(dialog, _info_dialog_ok_item);
    if (find_control(dialog, _info_dialog_cancel_item)) set_dialog_cancel_item(dialog, _info_dialog_cancel_item);

    memset(&g.player_stats, 0, sizeof(g.player_stats));
    g.player_info_state = _player_info_requested;
    set_metaserver_player_info_target(&g.player_stats, &g.player_info_state);
    send_player_info_query((int32_t)player_id);

    for (;;)
    {
        const int16_t item = custom_modal_dialog(dialog, &info, take_player_info_answer);
        if (item == NONE || item == _info_dialog_cancel_item || !dialog_is_open(dialog)) break;
        const bool shown = g.player_info_state == _player_info_processed;
        if (item == _info_dialog_ok_item)
        {
            // Only an answer that filled the fields may replace what the service keeps.
            if (local_user && shown)
            {
                char texts[4][PLAYER_DESCRIPTION_TEXT_SIZE];
                for (int32_t i = 0; i < 4; ++i)
                    get_bitmap_dialog_edit_item_text(dialog, (int16_t)(_info_dialog_city_item + 2 * i), texts[i],
                                                     sizeof(texts[i]));
                send_player_info_update(texts[0], texts[1], texts[2], texts[3]);
            }
            break;
        }
        if (!shown) continue;
        switch (item)
        {
        case _info_dialog_score_type_item:
        case _info_dialog_order_item: show_player_scores(dialog, &g.player_stats); break;
        case _info_dialog_name_item:
        case _info_dialog_login_item:
        case _info_dialog_icon_item: open_user_page((int32_t)player_id); break;
        default: break;
        }
    }
    set_metaserver_player_info_target(nullptr, nullptr);
    g.player_info_state = _player_info_not_requested;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}
