// The main menu.
#include "main_menu.h"

#include <cstdio>


#include "cseries/log.h"
#include "tag_files/plugins.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/errors.h"
#include "cseries/registration.h"
#include "front_end_procedures.h"
#include "sound_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "screen.h"
#include "screen_sdl.h"
#include "bitmap_text.h"
#include "interface_definitions.h"
#include "shapes.h"

enum
{
    _interface_title_font = 5, // the interface definition's largest font
};

enum
{
    MAIN_MENU_NOTICE_SIZE = 128,
};

static struct main_menu_globals
{
    dialog_data *dialog;
    // What the notice line says: kept while the menu is closed, since a
    // choice of a state nobody registered leaves the menu and comes back.
    char notice[MAIN_MENU_NOTICE_SIZE];
    // The state the player chose last: the preferences dialog keeps the music.
    int16_t chosen_state;
} main_menu_globals = {nullptr, {}, NONE};

// The state each button asks for; NONE for a choice that is no state of the
// core (a dialog over the menu, from the front end's table).
static const struct
{
    int16_t item;
    int16_t state;
    const char *name;
    const char *title; // as the button shows it
} main_menu_choices[] = {
    {_main_menu_new_game_item, _game_state_new_game, "new game", "New Game"},
    {_main_menu_network_game_item, _game_state_network_setup, "network game", "Network Game"},
    {_main_menu_films_item, NONE, "films", "Films"},
    {_main_menu_load_game_item, NONE, "load game", "Load Game"},
    {_main_menu_preferences_item, _game_state_preferences, "preferences", "Preferences"},
    {_main_menu_quit_item, _game_state_quit, "quit", "Quit"},
};

static bool has_notice_line(const dialog_data *dialog)
{
    static const dialog_item_requirement line[] = {{_main_menu_notice_item, STATIC_TEXT_CONTROL_TAG}};
    return dialog && dialog_has_items(dialog, line, 1);
}

// The notice line shows the menu's notice (nothing for a menu tag without the line).
static void show_notice(void)
{
    if (has_notice_line(main_menu_globals.dialog))
        set_bitmap_dialog_static_item_text(main_menu_globals.dialog, _main_menu_notice_item, main_menu_globals.notice);
}

// The dialog a choice that is no state opens over the menu; null when none is built.
typedef void (*main_menu_dialog_procedure)(void);
static main_menu_dialog_procedure dialog_of_choice(int16_t item)
{
    if (item == _main_menu_films_item) return get_front_end_procedures()->main_menu_films;
    if (item == _main_menu_load_game_item) return get_front_end_procedures()->main_menu_load_game;
    return nullptr;
}

static void main_menu_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    (void)dialog;
    (void)action;
    for (const auto &choice : main_menu_choices)
    {
        if (choice.item != item_id) continue;
        // A choice whose screen no subsystem registered (a program without
        // the front end) says so where the player looks, not only in the log.
        const main_menu_dialog_procedure over_the_menu = choice.state == NONE ? dialog_of_choice(item_id) : nullptr;
        const bool built = choice.state == _game_state_quit || over_the_menu ||
                           (choice.state != NONE && get_game_state_entry_procedure((game_state)choice.state));
        main_menu_globals.notice[0] = 0;
        if (!built)
            snprintf(main_menu_globals.notice, sizeof(main_menu_globals.notice), "%s: not available.",
                     choice.title);
        show_notice();
        if (over_the_menu)
            over_the_menu();
        else if (choice.state == NONE)
            log_message(nullptr, -1, "no %s dialog is registered: the main menu stays", choice.name);
        else
        {
            main_menu_globals.chosen_state = choice.state;
            set_game_state(choice.state);
        }
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
    // The collection, font and interface stores are a map's: between maps
    // the menu sets them up for its pictures, its text and the dialog
    // elements (the next map's start empties them again).
    if (!initialize_interface_without_map())
    {
        log_message(nullptr, -1, "the main menu's look cannot be loaded: quitting");
        set_game_state(_game_state_quit);
        return;
    }
    // new_dialog treats a missing tag as fatal: the menu checks first.
    if (!get_dialog_bounds_from_file(MAIN_MENU_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "the main menu's dialog 'mmnu' cannot be read: quitting");
        set_game_state(_game_state_quit);
        return;
    }
    static const dialog_item_requirement needed_items[] = {
        {_main_menu_title_item, STATIC_TEXT_CONTROL_TAG},     {_main_menu_new_game_item, BUTTON_CONTROL_TAG},
        {_main_menu_network_game_item, BUTTON_CONTROL_TAG},   {_main_menu_films_item, BUTTON_CONTROL_TAG},
        {_main_menu_load_game_item, BUTTON_CONTROL_TAG},      {_main_menu_preferences_item, BUTTON_CONTROL_TAG},
        {_main_menu_quit_item, BUTTON_CONTROL_TAG},
    };
    dialog_data *dialog = new_dialog(MAIN_MENU_DIALOG_TAG, main_menu_handler, nullptr, NONE, _dialog_is_centered_flag);
    if (dialog && !dialog_has_items(dialog, needed_items, (int32_t)(sizeof(needed_items) / sizeof(needed_items[0]))))
    {
        dispose_dialog(dialog);
        dialog = nullptr;
    }
    if (!dialog)
    {
        // Without its menu the player can do nothing: say so in words and
        // quit through the state machine rather than run on without it.
        log_message(nullptr, -1, "the main menu's dialog could not be made: quitting");
        show_message_box("The main menu cannot be shown: its dialog 'mmnu' is damaged or missing items "
                         "(the log names the fault). The game will quit.");
        set_game_state(_game_state_quit);
        return;
    }
    const int32_t background = get_collection_index(MAIN_MENU_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    // The title: the interface's title font, centred in its banner, in gold.
    static const rgb_color title_color = {0xF0F0, 0xD0D0, 0x8080, 0};
    const int32_t title_font = get_interface_font_index(_interface_title_font);
    set_dialog_static_item_text_appearance(dialog, _main_menu_title_item,
                                           (int16_t)(title_font != NONE ? title_font : -1), -1, &title_color,
                                           _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag |
                                               _draw_string_shadow_flag);
    set_dialog_cancel_item(dialog, _main_menu_quit_item);
    main_menu_globals.dialog = dialog;
    if (has_notice_line(dialog))
        set_dialog_static_item_text_appearance(dialog, _main_menu_notice_item, -1, -1, &title_color,
                                               _draw_string_center_horizontal_flag |
                                                   _draw_string_center_vertical_flag | _draw_string_shadow_flag);
    show_notice();
    if (const auto start = get_sound_procedures()->start_main_menu_music) start();
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
    // The music plays on under the preferences dialog, whose box starts and stops it.
    const bool to_preferences = main_menu_globals.chosen_state == _game_state_preferences;
    main_menu_globals.chosen_state = NONE;
    if (to_preferences) return;
    if (const auto stop = get_sound_procedures()->stop_main_menu_music) stop();
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
