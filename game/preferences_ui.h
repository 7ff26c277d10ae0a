#pragma once
// The preferences dialog ('!prf'): the game, sound, screen, controls and
// interface panels in one dialog, the entry of the preferences state.  Each
// panel is a handler called with a verb (screen_preferences_page.h's
// preferences_panel_verb): 0 set up, 1 nothing, 2 an item was hit, 3 OK,
// 4 Cancel.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;

#define PREFERENCES_DIALOG_TAG FOUR_CHARACTER_CODE('!', 'p', 'r', 'f')
#define BLOOD_BUTTON_NAMES_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')
#define PREFERENCES_HELP_FILE_NAME "Vesk II Help.pdf"

enum preferences_dialog_item
{
    _preferences_ok_item = 1,
    _preferences_cancel_item = 2,
    _preferences_interface_choice_item = 3,
    _preferences_blood_item = 5,
    _preferences_volume_item = 7,
    _preferences_ambient_item = 8,
    _preferences_subtitles_item = 9,
    _preferences_3D_audio_item = 10, // always hidden
    _preferences_menu_music_item = 11,
    _preferences_hidden_item = 30,
    _preferences_sound_system_item = 37,
    _preferences_help_item = 40,
    _preferences_alternate_lobby_item = 42,
};

// Runs the dialog; OK keeps every panel's changes, Cancel puts back what the
// panels can.  Nothing without the tag or a screen.
void handle_preferences_dialog(void);
// The dialog opened and every panel set up, not yet run (the caller runs or
// disposes of it); null when there is no screen or no tag.
dialog_data *open_preferences_dialog(void);

// The preferences state's entry: the dialog, then back to the main menu.
void enter_preferences_state(void);

bool game_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id);
bool sound_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id);
bool interface_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id);

// The game panel's check boxes and the flag each one keeps.
struct game_preference_box
{
    int16_t item_id;
    uint32_t flag;
};
extern const game_preference_box game_preference_boxes[11];
