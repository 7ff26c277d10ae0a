// The main menu.
#include "main_menu.h"

#include "cseries/log.h"
#include "tag_files/plugins.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/static_text_control.h"
#include "game_hooks.h"
#include "game_states.h"
#include "screen.h"
#include "screen_sdl.h"
#include "shapes.h"
#include "vesk.h"

static struct main_menu_globals
{
    dialog_data *dialog;
    bool opened_collections; // the menu opened the collection store and closes it again
} main_menu_globals;

// The state each button asks for; NONE for a choice that is no state of the
// core (its dialog is not built yet: the menu stays).
static const struct
{
    int16_t item;
    int16_t state;
    const char *name;
} main_menu_choices[] = {
    {_main_menu_new_game_item, _game_state_new_game, "new game"},
    {_main_menu_network_game_item, _game_state_network_setup, "network game"},
    {_main_menu_films_item, NONE, "films"},
    {_main_menu_load_game_item, NONE, "load game"},
    {_main_menu_preferences_item, _game_state_preferences, "preferences"},
    {_main_menu_quit_item, _game_state_quit, "quit"},
};

static void main_menu_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    (void)dialog;
    (void)action;
    for (const auto &choice : main_menu_choices)
    {
        if (choice.item != item_id) continue;
        if (choice.state == NONE)
            log_message(nullptr, -1, "the %s dialog is not built yet: the main menu stays", choice.name);
        else
            set_game_state(choice.state);
        return;
    }
}

void enter_main_menu(void)
{
    if (main_menu_globals.dialog) return;
    rectangle2d bounds;
    if (!active_screen.screen_initialized || !screen_surface_exists())
    {
        log_message(nullptr, -1, "the main menu has no screen to show on: quitting");
        set_game_state(_game_state_quit);
        return;
    }
    // The collection store is a map's; between maps the menu opens it (empty)
    // for its own pictures and the dialog elements.
    if (collections.count == NONE)
    {
        initialize_shapes_for_new_map();
        main_menu_globals.opened_collections = true;
    }
    // new_dialog treats a missing tag as fatal: the menu checks first.
    if (!get_dialog_bounds_from_file(MAIN_MENU_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "the main menu's dialog 'mmnu' cannot be read: quitting");
        set_game_state(_game_state_quit);
        return;
    }
    dialog_data *dialog = new_dialog(MAIN_MENU_DIALOG_TAG, main_menu_handler, nullptr, NONE, _dialog_is_centered_flag);
    if (!dialog)
    {
        log_message(nullptr, -1, "the main menu's dialog could not be made: quitting");
        set_game_state(_game_state_quit);
        return;
    }
    const int32_t background = get_collection_index(MAIN_MENU_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    set_dialog_cancel_item(dialog, _main_menu_quit_item);
    main_menu_globals.dialog = dialog;
}

void close_main_menu_dialog(void)
{
    if (!main_menu_globals.dialog) return;
    dialog_data *dialog = main_menu_globals.dialog;
    main_menu_globals.dialog = nullptr;
    dispose_dialog(dialog);
}

void leave_main_menu(void)
{
    close_main_menu_dialog();
    // Closed only when no map has taken the store over meanwhile.
    if (main_menu_globals.opened_collections && !vesk_map_is_loaded()) dispose_shapes_from_old_map();
    main_menu_globals.opened_collections = false;
}

dialog_data *get_main_menu_dialog(void) { return main_menu_globals.dialog; }

void get_main_menu_dialog_size(int16_t *width, int16_t *height)
{
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(MAIN_MENU_DIALOG_TAG, &bounds)) return;
    if (bounds.right <= bounds.left || bounds.bottom <= bounds.top) return;
    *width = (int16_t)(bounds.right - bounds.left);
    *height = (int16_t)(bounds.bottom - bounds.top);
}

bool ask_plugin_question(const char *title, const char *text)
{
    rectangle2d bounds;
    if (!active_screen.screen_initialized || !screen_surface_exists() ||
        !get_dialog_bounds_from_file(PLUGIN_QUESTION_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "\"%s\" (%s): no dialog to ask it in, answered no", title ? title : "",
                    text ? text : "");
        return false;
    }
    dialog_data *dialog = new_dialog(PLUGIN_QUESTION_DIALOG_TAG, nullptr, nullptr, NONE,
                                     _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return false;
    const int32_t background = get_collection_index(WAIT_DIALOG_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    if (title) set_bitmap_dialog_static_item_text(dialog, _plugin_question_title_item, title);
    if (text) set_bitmap_dialog_static_item_text(dialog, _plugin_question_text_item, text);
    set_default_dialog_item(dialog, _plugin_question_yes_item);
    set_dialog_cancel_item(dialog, _plugin_question_no_item);
    const int16_t answer = modal_dialog(dialog);
    dispose_dialog(dialog);
    return answer == _plugin_question_yes_item;
}

void register_main_menu_hooks(void)
{
    register_game_state_procedures(_game_state_displaying_main_menu, enter_main_menu, leave_main_menu);
    register_main_menu_dialog_size_procedure(get_main_menu_dialog_size);
    register_plugin_question_procedure(ask_plugin_question);
}
