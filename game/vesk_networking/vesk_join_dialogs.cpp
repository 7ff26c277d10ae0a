// See vesk_join_dialogs.h.

#include "vesk_networking/vesk_join_dialogs.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/missing_plugins_list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "tag_files/plugins.h"
#include "vesk.h"
#include "vesk_networking/vesk_network_interface.h"
#include "vesk_networking/vesk_teams.h"

enum
{
    _join_failed_first_hidden_item = 3,
    _join_failed_last_hidden_item = 6,
    _missing_plugins_cancel_item = 2,
    _missing_plugins_replaced_item = 3,
    _missing_plugins_title_item = 4,
    MISSING_PLUGINS_TITLE_DROP = 8,
};

static struct
{
    dialog_data *missing_plugins_dialog; // null when none is open
    bool closed_from_outside;
} join_dialogs_globals;

// A headless run has no screen to show a dialog on.
static bool dialog_available(const char *what)
{
    if (!vesk_is_headless()) return true;
    log_message(__FILE__, __LINE__, "%s not shown: no screen", what);
    return false;
}

static void fill_missing_plugins(dialog_data *dialog, const missing_plugin_info *missing, int32_t count)
{
    clear_missing_plugins_list(dialog, _missing_plugins_list_item);
    for (int32_t i = 0; i < count && i < MAXIMUM_MISSING_PLUGINS; ++i)
        add_missing_plugin_to_list(dialog, _missing_plugins_list_item, &missing[i]);
}

bool open_missing_plugins_dialog(const missing_plugin_info *missing, int32_t count)
{
    if (!missing || count <= 0) return false;
    if (join_dialogs_globals.missing_plugins_dialog)
    {
        fill_missing_plugins(join_dialogs_globals.missing_plugins_dialog, missing, count);
        return true;
    }
    for (int32_t i = 0; i < count && i < 4; ++i)
        log_message(__FILE__, __LINE__, "missing plug-in '%.*s' (%.*s)", (int)sizeof(missing[i].name), missing[i].name,
                    (int)sizeof(missing[i].url), missing[i].url);
    if (!dialog_available("the missing plug-ins")) return false;
    static const dialog_item_requirement items[] = {{_missing_plugins_ok_item, BUTTON_CONTROL_TAG},
                                                    {_missing_plugins_title_item, STATIC_TEXT_CONTROL_TAG}};
    dialog_data *dialog = open_dialog_with_items(MISSING_PLUGINS_DIALOG_TAG,
                                                 networking_dialog_flags(), items, 2,
                                                 (file_tag)NONE);
    if (!dialog) return false;
    if (!dialog_has_item(dialog, _missing_plugins_replaced_item))
    {
        log_message(__FILE__, __LINE__, "the missing plug-ins dialog '%s' has no list to replace",
                    tag_to_string(MISSING_PLUGINS_DIALOG_TAG));
        dispose_dialog(dialog);
        return false;
    }
    set_default_dialog_item(dialog, _missing_plugins_ok_item);
    set_dialog_cancel_item(dialog, _missing_plugins_ok_item);
    if (dialog_has_item(dialog, _missing_plugins_cancel_item)) bitmap_set_item_visible(dialog, _missing_plugins_cancel_item, false);
    rectangle2d replaced, ok;
    get_dialog_item_bounds(dialog, _missing_plugins_replaced_item, &replaced);
    get_dialog_item_bounds(dialog, _missing_plugins_ok_item, &ok);
    bitmap_set_item_visible(dialog, _missing_plugins_replaced_item, false);
    const rectangle2d bounds = {replaced.top, replaced.left, (int16_t)(replaced.top + MISSING_PLUGINS_LIST_HEIGHT),
                                ok.right};
    if (!new_unpressed_control(dialog, MISSING_PLUGINS_LIST_CONTROL_TAG, _missing_plugins_list_item, &bounds, "Plugins"))
    {
        dispose_dialog(dialog);
        return false;
    }
    set_bitmap_dialog_static_item_text(dialog, _missing_plugins_title_item, "Missing Plugins:");
    offset_dialog_item(dialog, _missing_plugins_title_item, 0, MISSING_PLUGINS_TITLE_DROP);
    fill_missing_plugins(dialog, missing, count);

    join_dialogs_globals.missing_plugins_dialog = dialog;
    join_dialogs_globals.closed_from_outside = false;
    for (int16_t hit = NONE; dialog_is_open(dialog) && !join_dialogs_globals.closed_from_outside &&
                             hit != _missing_plugins_ok_item;)
        hit = network_modal_dialog(dialog);
    const bool closed = join_dialogs_globals.closed_from_outside;
    join_dialogs_globals.missing_plugins_dialog = nullptr;
    join_dialogs_globals.closed_from_outside = false;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return closed;
}

bool missing_plugins_dialog_is_open(void) { return join_dialogs_globals.missing_plugins_dialog != nullptr; }

void close_missing_plugins_dialog(void)
{
    dialog_data *dialog = join_dialogs_globals.missing_plugins_dialog;
    if (!dialog) return;
    join_dialogs_globals.closed_from_outside = true;
    // The modal run ends at its next pass and finds the flag.
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

void offer_missing_plugins(const missing_plugin_info *missing, int32_t count, int16_t mode)
{
    (void)mode;
    open_missing_plugins_dialog(missing, count);
}

bool do_join_game_failed_dialog(const char *message, const net_game_description *description)
{
    if (description)
    {
        static missing_plugin_info missing[MAXIMUM_MISSING_PLUGINS];
        const int32_t count = tag_file_plugins_decode_missing(description->parameters.plugin_data,
                                                              ENCODED_PLUGIN_DATA_SIZE, missing, MAXIMUM_MISSING_PLUGINS);
        if (count > 0) return open_missing_plugins_dialog(missing, count);
    }
    char text[JOIN_FAILED_MESSAGE_SIZE];
    strlcpy(text, message ? message : "", sizeof(text));
    char reason[JOIN_FAILED_MESSAGE_SIZE] = "";
    if (description && !is_net_game_valid(description, false, reason, sizeof(reason)) && reason[0])
        strlcpy(text, reason, sizeof(text));
    log_message(__FILE__, __LINE__, "cannot join the game: %s", text);
    if (!dialog_available("the join-failed message")) return false;
    static const dialog_item_requirement items[] = {{_join_failed_ok_item, BUTTON_CONTROL_TAG},
                                                    {_join_failed_message_item, STATIC_TEXT_CONTROL_TAG}};
    dialog_data *dialog = open_dialog_with_items(JOIN_GAME_FAILED_DIALOG_TAG,
                                                 networking_dialog_flags(), items, 2,
                                                 JOIN_GAME_FAILED_BACKGROUND_COLLECTION_TAG);
    if (!dialog)
    {
        log_message(__FILE__, __LINE__, "could not create join game failed dialog");
        return false;
    }
    set_bitmap_dialog_static_item_text(dialog, _join_failed_message_item, text);
    for (int16_t item = _join_failed_first_hidden_item; item <= _join_failed_last_hidden_item; ++item)
        if (dialog_has_item(dialog, item)) bitmap_set_item_visible(dialog, item, false);
    set_default_dialog_item(dialog, _join_failed_ok_item);
    set_dialog_cancel_item(dialog, _join_failed_ok_item);
    for (int16_t hit = NONE; dialog_is_open(dialog) && hit != _join_failed_ok_item;)
        hit = network_modal_dialog(dialog);
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return false;
}
