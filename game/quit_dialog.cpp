// The in-game quit dialog.

#include "quit_dialog.h"

#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/button_control.h"
#include "console/console.h"
#include "cseries/log.h"
#include "front_end_procedures.h"
#include "game_hints_dialog.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "ingame_dialog_network.h"
#include "ingame_dialog_support.h"
#include "saved_games.h"
#include "game_ending.h"
#include "scoring.h"
#include "shapes.h"
#include "statistics.h"
#include "status_bar.h"
#include "vesk/game_statistics.h"
#include "vesk/string_lists.h"

enum
{
    QUIT_DIALOG_BUTTON_FLAGS = 5,
    QUIT_DIALOG_PICTURE_DRAWING_FLAGS = 1,
    LAST_VERSION_WITHOUT_RESTART = 1720,
    STANDINGS_CLEAN_END = 2,
    STANDINGS_ERROR_PENDING = 1,
};

static const uint32_t available_item_flags[NUMBER_OF_GAME_TYPES] = {0x206, 0x206, 0x2BE, 0xFFFFFFFFu};

static struct quit_dialog_globals
{
    dialog_data *dialog;
    bool paused_here; // the dialog paused the game (a game paused before stays paused after)
} quit_dialog_globals;

uint32_t quit_dialog_available_item_flags(int16_t game_type)
{
    if (game_type < 0 || game_type >= NUMBER_OF_GAME_TYPES) return 0xFFFFFFFFu;
    return available_item_flags[game_type];
}

bool can_restart_or_rehost(void)
{
    return ingame_dialog_local_player_is_originator() && game_->type == _game_type_networked &&
           !(game_->flags & _game_is_over_flag) && current_gameplay_version > LAST_VERSION_WITHOUT_RESTART;
}

static void set_button(dialog_data *dialog, int16_t item_id, int32_t collection, int16_t sequence)
{
    if (!dialog_has_item(dialog, item_id) || get_bitmap_item_tag(dialog, item_id) != BUTTON_CONTROL_TAG) return;
    set_button_control_flags(dialog, item_id, QUIT_DIALOG_BUTTON_FLAGS);
    if (collection != NONE) set_button_control_shape(dialog, item_id, (int16_t)collection, sequence);
}

static void rename_button(dialog_data *dialog, int16_t item_id, const char *name)
{
    if (dialog_has_item(dialog, item_id) && get_bitmap_item_tag(dialog, item_id) == BUTTON_CONTROL_TAG)
        set_button_control_name(dialog, item_id, translate_string(name));
}

static void show_network_items(dialog_data *dialog)
{
    if (can_restart_or_rehost())
    {
        const bool lobby_alive = !ingame_dialog_lobby_connection_died();
        show_dialog_item(dialog, _quit_dialog_restore_item, true);
        show_dialog_item(dialog, _quit_dialog_restart_item, true);
        rename_button(dialog, _quit_dialog_restore_item, "Rehost\r\nGame");
        rename_button(dialog, _quit_dialog_restart_item, "Restart\r\nGame");
        enable_dialog_item(dialog, _quit_dialog_restore_item, lobby_alive);
        enable_dialog_item(dialog, _quit_dialog_restart_item, lobby_alive);
        show_dialog_item(dialog, _quit_dialog_save_item, true);
        show_dialog_item(dialog, _quit_dialog_continue_item, true);
        enable_dialog_item(dialog, _quit_dialog_save_item, false);
        enable_dialog_item(dialog, _quit_dialog_continue_item, false);
        return;
    }
    show_dialog_item(dialog, ingame_dialog_local_player_is_originator() ? _quit_dialog_originator_information_item
                                                                        : _quit_dialog_joiner_information_item,
                     true);
}

bool open_quit_dialog(void)
{
    if (quit_dialog_globals.dialog) return true;
    if (!VASSERT(game_->type >= 0 && game_->type < NUMBER_OF_GAME_TYPES,
                 "get_game_type()>=0 && get_game_type()<NUMBER_OF_GAME_TYPES"))
        return false;
    if (!VASSERT(game_->endgame_state >= 0 && game_->endgame_state <= _endgame_resolved,
                 "get_game()->endgame_state>=0 && get_game()->endgame_state<NUMBER_OF_ENDGAME_STATES"))
        return false;
    const uint32_t flags = quit_dialog_available_item_flags(game_->type);
    if (flags == 0xFFFFFFFFu) return false;
    if (game_hints_dialog_is_open() || postgame_carnage_report_dialog_is_open()) return false;
    dialog_data *dialog = new_dialog_if_present(QUIT_DIALOG_TAG, "quit", quit_dialog_handler_proc, _dialog_is_centered_flag);
    if (!dialog) return false;
    set_dialog_background_from(dialog, QUIT_DIALOG_COLLECTION_TAG, 0);
    const int32_t collection = get_collection_index(QUIT_DIALOG_COLLECTION_TAG);
    set_button(dialog, _quit_dialog_restore_item, collection, 6);
    set_button(dialog, _quit_dialog_restart_item, collection, 4);
    set_button(dialog, _quit_dialog_save_item, collection, 3);
    set_button(dialog, _quit_dialog_continue_item, collection, 5);
    if (collection != NONE && dialog_has_item(dialog, _quit_dialog_picture_item) &&
        get_bitmap_item_tag(dialog, _quit_dialog_picture_item) == BITMAP_ITEM_CONTROL_TAG)
    {
        set_dialog_bitmap_art(dialog, _quit_dialog_picture_item, (int16_t)collection,
                              game_->type == _game_type_local ? 1 : 2, 0);
        set_dialog_bitmap_drawing_flags(dialog, _quit_dialog_picture_item, QUIT_DIALOG_PICTURE_DRAWING_FLAGS);
    }
    for (int16_t item = _quit_dialog_quit_item; item <= _quit_dialog_picture_item; ++item)
        show_dialog_item(dialog, item, (flags >> item) & 1);
    enable_dialog_item(dialog, _quit_dialog_continue_item, save_game_exists());
    enable_dialog_item(dialog, _quit_dialog_save_item, can_save_game());
    enable_dialog_item(dialog, _quit_dialog_restore_item, could_revert_to_last_saved_game());
    if (game_->type == _game_type_networked) show_network_items(dialog);
    quit_dialog_globals.dialog = dialog;
    quit_dialog_globals.paused_here = !game_is_paused();
    if (quit_dialog_globals.paused_here) pause_game(true);
    return true;
}

// Forgets the dialog, resumes the game and disposes of it.
static void release_quit_dialog(dialog_data *dialog)
{
    quit_dialog_globals.dialog = nullptr;
    if (quit_dialog_globals.paused_here) pause_game(false);
    quit_dialog_globals.paused_here = false;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

void close_quit_dialog(void)
{
    dialog_data *dialog = quit_dialog_globals.dialog;
    if (!dialog) return;
    quit_dialog_globals.dialog = nullptr;
    // The bar's button opened the dialog and stays pressed until released;
    // its own close (through quit_dialog_verb) then finds nothing open.
    dialog_data *bar = get_status_bar_dialog();
    if (bar && get_button_control_state(bar, _status_bar_quit_button) > 0) push_pause_button();
    release_quit_dialog(dialog);
}

void dispose_quit_dialog(void)
{
    if (quit_dialog_globals.dialog) release_quit_dialog(quit_dialog_globals.dialog);
}

bool quit_dialog_is_open(void) { return quit_dialog_globals.dialog != nullptr; }
dialog_data *get_quit_dialog(void) { return quit_dialog_globals.dialog; }

// Restore (rehost) and restart: outside network games the level goes back to
// its last save or starts again; the network game ends for everybody.
static void restore_or_restart(bool restart)
{
    if (game_->type == _game_type_networked)
    {
        if (can_restart_or_rehost())
            ingame_dialog_force_network_endgame(restart ? _forced_endgame_restart : _forced_endgame_rehost);
        else
            cprintf(false, "%s",
                    translate_string(restart ? "Cannot restart at this time." : "Cannot rehost at this time."));
        return;
    }
    if (restart) reset_last_saved_game();
    revert_game();
}

void quit_dialog_handler_proc(dialog_data *, int16_t item_id, action_data *)
{
    switch (item_id)
    {
    case _quit_dialog_quit_item:
        // The standings may touch the state: the game's end comes before them.
        set_tick_end_state(_tick_end_state_held);
        build_draxil_net_game_standings(get_console_error() ? STANDINGS_ERROR_PENDING : STANDINGS_CLEAN_END);
        close_quit_dialog();
        end_game(_game_end_player_left);
        close_postgame_carnage_report_dialog();
        break;
    case _quit_dialog_resume_item: close_quit_dialog(); break;
    case _quit_dialog_restore_item:
    case _quit_dialog_restart_item:
        close_quit_dialog();
        restore_or_restart(item_id == _quit_dialog_restart_item);
        break;
    case _quit_dialog_save_item:
        close_quit_dialog();
        save_game();
        break;
    case _quit_dialog_continue_item:
        close_quit_dialog();
        handle_continue_game();
        break;
    default: break;
    }
}

bool quit_dialog_verb(int16_t verb, bool)
{
    switch (verb)
    {
    case _ingame_dialog_open: return open_quit_dialog();
    case _ingame_dialog_close:
        // The bar's button was released: the dialog goes without pressing it again.
        dispose_quit_dialog();
        return true;
    case _ingame_dialog_is_open: return quit_dialog_is_open();
    default: return false;
    }
}
