#pragma once
// The main menu: the game's first screen and the state it returns to.  The
// main-menu state (2) opens the menu's dialog ('bina' tag 'mmnu' of the
// interface file: a title in static text and one button per choice, over the
// 640 x 480 picture of the collection 'mmnu') and closes it when the state
// is left.  Each button asks the core for the state it names; a state not
// built yet comes straight back to the menu (the core logs it), and Quit ends
// the program.  docs/architecture.md ("The main menu") has the design.
//
// The plug-in resolver's yes/no question is asked here too, as a modal
// dialog ('bina' tag 'plgq').
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;

#define MAIN_MENU_DIALOG_TAG FOUR_CHARACTER_CODE('m', 'm', 'n', 'u')
#define MAIN_MENU_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('m', 'm', 'n', 'u')
#define PLUGIN_QUESTION_DIALOG_TAG FOUR_CHARACTER_CODE('p', 'l', 'g', 'q')

// The items of the main-menu dialog.
enum main_menu_item
{
    _main_menu_title_item = 1,
    _main_menu_new_game_item,
    _main_menu_network_game_item,
    _main_menu_films_item,
    _main_menu_load_game_item,
    _main_menu_preferences_item,
    _main_menu_quit_item,
    _main_menu_notice_item, // a line under the buttons: a choice that leads nowhere yet says so
    NUMBER_OF_MAIN_MENU_ITEMS = _main_menu_notice_item
};

// The items of the plug-in question.
enum plugin_question_item
{
    _plugin_question_title_item = 1,
    _plugin_question_text_item,
    _plugin_question_yes_item,
    _plugin_question_no_item,
};

// The main-menu state's entry: opens the menu (nothing when it is open).
// Without a screen to show it on, or without its dialog tag, the program
// quits with a log line (there is nothing to choose from).
void enter_main_menu(void);
// The state's exit: closes the menu.
void leave_main_menu(void);
// Disposes the menu's dialog; nothing when it is not open.
void close_main_menu_dialog(void);
// The open menu's dialog, null when it is closed.
dialog_data *get_main_menu_dialog(void);

// The size of the menu's dialog from its tag's bounds; unchanged (the
// caller's defaults) when the tag cannot be read.
void get_main_menu_dialog_size(int16_t *width, int16_t *height);

// The resolver's question as a modal dialog: true when the player answers
// yes.  No (logged) without a screen or without the dialog's tag.
bool ask_plugin_question(const char *title, const char *text);

// The menu's music comes from the sound table (sound_procedures.h); until the
// sound subsystem registers, the menu is silent.

// The dialogs the menu opens over itself (Films, Load Game) are the front
// end's (front_end_procedures.h); in a program without it, the press only says
// that the dialog is not available.

// Registers the main-menu state, the menu's size for the screen and the
// plug-in question.
void register_main_menu_hooks(void);
