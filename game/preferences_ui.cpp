// The preferences dialog and its game, sound and interface panels.

#include "preferences_ui.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_states.h"
#include "ingame_dialog_support.h"
#include "input/input_definitions.h"
#include "no_blood_dialog.h"
#include "plugin_components.h"
#include "screen.h"
#include "screen_preferences_page.h"
#include "shapes.h"
#include "sound/sound_hooks.h"
#include "sound/sound_manager.h"
#include "sound/sound_preferences.h"
#include "tag_files/plugins.h"
#include "vesk.h"
#include "vesk/string_lists.h"

enum
{
    SOUND_SYSTEM_BUTTON_SEQUENCE = 19,
    HELP_BUTTON_SEQUENCE = 20,
    HELP_BUTTON_NEWER_SEQUENCE = 21, // when the collection has it
    OPENAL_BUTTON_STATE = 0,
    NO_SOUND_BUTTON_STATE = 1,
};

const game_preference_box game_preference_boxes[11] = {
    {9, _game_pref_show_subtitles_flag},
    {27, _game_pref_status_bar_visible_flag},
    {28, _game_pref_control_bar_visible_flag},
    {29, _game_pref_use_transparency_flag},
    {33, _game_pref_vux_facing_arrows_flag},
    {34, _game_pref_vux_selection_boxes_flag},
    {32, _game_pref_no_persistent_formations_flag},
    {35, _game_pref_use_persistent_ready_flag},
    {36, _game_pref_autosave_films_flag},
    {41, _game_pref_motion_interpolation_flag},
    {_preferences_alternate_lobby_item, _game_pref_alternate_metaserver_ui_flag},
};

static struct preferences_ui_globals
{
    int16_t remembered_volume;
    char remembered_interface[PLUGIN_COMPONENT_NAME_SIZE];
} preferences_ui_globals;

static bool is_checkbox(const dialog_data *dialog, int16_t item_id)
{
    return dialog_has_item(dialog, item_id) && get_bitmap_item_tag(dialog, item_id) == CHECKBOX_CONTROL_TAG;
}

static bool is_button(const dialog_data *dialog, int16_t item_id)
{
    return dialog_has_item(dialog, item_id) && get_bitmap_item_tag(dialog, item_id) == BUTTON_CONTROL_TAG;
}

// ---- the game panel ------------------------------------------------------------------------

static void name_blood_button(dialog_data *dialog)
{
    if (!is_button(dialog, _preferences_blood_item)) return;
    const bool censored = (get_game_preferences()->flags & _game_pref_censored_flag) != 0;
    const int32_t list = string_list_tag_to_string_index(BLOOD_BUTTON_NAMES_STRING_LIST_TAG);
    const char *name = list == NONE ? nullptr : get_string_from_list(list, censored ? 1 : 0);
    set_button_control_name(dialog, _preferences_blood_item, name ? name : (censored ? "Blood Off" : "Blood On"));
}

static void set_up_help_button(dialog_data *dialog)
{
    if (!is_button(dialog, _preferences_help_item)) return;
    const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (elements != NONE)
        set_button_control_shape(dialog, _preferences_help_item, (int16_t)elements,
                                 get_collection_sequence_count(elements) > HELP_BUTTON_NEWER_SEQUENCE
                                     ? HELP_BUTTON_NEWER_SEQUENCE
                                     : HELP_BUTTON_SEQUENCE);
    bitmap_set_item_visible(dialog, _preferences_help_item, access(PREFERENCES_HELP_FILE_NAME, F_OK) == 0);
}

static void press_blood_button(dialog_data *dialog)
{
    game_preferences *preferences = get_game_preferences();
    if (!(preferences->flags & _game_pref_censored_flag))
    {
        if (lock_no_blood_dialog()) preferences->flags |= _game_pref_censored_flag;
    }
    else if (preferences->no_blood_password[0])
    {
        if (unlock_no_blood_dialog()) preferences->flags &= ~(uint32_t)_game_pref_censored_flag;
    }
    else
        preferences->flags &= ~(uint32_t)_game_pref_censored_flag;
    name_blood_button(dialog);
    set_dialog_item_dirty(dialog, _preferences_blood_item);
}

bool game_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id)
{
    game_preferences *preferences = get_game_preferences();
    switch (verb)
    {
    case _preferences_panel_setup:
        if (!preferences) return true;
        for (const auto &box : game_preference_boxes)
            if (is_checkbox(dialog, box.item_id))
                set_checkbox_state(dialog, box.item_id, (preferences->flags & box.flag) != 0);
        name_blood_button(dialog);
        set_up_help_button(dialog);
        return true;
    case _preferences_panel_teardown: return true;
    case _preferences_panel_item_hit:
        if (!preferences) return true;
        if (item_id == _preferences_blood_item) press_blood_button(dialog);
        else if (item_id == _preferences_help_item) go_to_url(PREFERENCES_HELP_FILE_NAME);
        return true;
    case _preferences_panel_commit:
        if (!preferences) return true;
        for (const auto &box : game_preference_boxes)
        {
            // A dialog without a box (item 42 in older tags) clears its flag.
            const bool on = is_checkbox(dialog, box.item_id) && get_checkbox_state(dialog, box.item_id);
            if (on) preferences->flags |= box.flag;
            else preferences->flags &= ~box.flag;
        }
        write_game_preferences();
        return true;
    case _preferences_panel_discard: return true;
    default: log_message(__FILE__, __LINE__, "halt: game panel verb %d", verb); return true;
    }
}

// ---- the sound panel ------------------------------------------------------------------------

static void name_sound_system_button(dialog_data *dialog)
{
    if (!is_button(dialog, _preferences_sound_system_item)) return;
    const bool none = get_button_control_state(dialog, _preferences_sound_system_item) == NO_SOUND_BUTTON_STATE;
    set_button_control_name(dialog, _preferences_sound_system_item, none ? "None" : "OpenAL");
}

// Plays the menu music or stops it as the disable flag says.
static void follow_menu_music_flag(void)
{
    if (get_sound_preferences()->flags & _sound_preferences_disable_menu_music_flag) stop_main_menu_music();
    else play_menu_music();
}

static void set_flag(uint16_t *flags, uint16_t flag, bool on)
{
    if (on) *flags = (uint16_t)(*flags | flag);
    else *flags = (uint16_t)(*flags & ~flag);
}

bool sound_preferences_panel_handler(dialog_data *dialog, int16_t verb, int16_t item_id)
{
    sound_preferences *preferences = get_sound_preferences();
    switch (verb)
    {
    case _preferences_panel_setup:
        if (dialog_has_item(dialog, _preferences_volume_item))
        {
            set_slider_extrema(dialog, _preferences_volume_item, 0, SOUND_PREFERENCES_MAXIMUM_VOLUME);
            set_slider_default_value(dialog, _preferences_volume_item, SOUND_PREFERENCES_MAXIMUM_VOLUME);
            set_slider_value(dialog, _preferences_volume_item, preferences->master_volume);
        }
        show_dialog_item(dialog, _preferences_3D_audio_item, false);
        if (is_checkbox(dialog, _preferences_ambient_item))
            set_checkbox_state(dialog, _preferences_ambient_item, preferences->flags & _sound_preferences_ambient_flag);
        if (is_checkbox(dialog, _preferences_menu_music_item))
            set_checkbox_state(dialog, _preferences_menu_music_item,
                               !(preferences->flags & _sound_preferences_disable_menu_music_flag));
        if (is_button(dialog, _preferences_sound_system_item))
        {
            const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
            if (elements != NONE)
                set_button_control_shape(dialog, _preferences_sound_system_item, (int16_t)elements,
                                         SOUND_SYSTEM_BUTTON_SEQUENCE);
            set_button_control_number_of_states(dialog, _preferences_sound_system_item, 2);
            set_button_control_state(dialog, _preferences_sound_system_item,
                                     preferences->provider_id == _sound_provider_none ? NO_SOUND_BUTTON_STATE
                                                                                      : OPENAL_BUTTON_STATE);
            name_sound_system_button(dialog);
        }
        preferences_ui_globals.remembered_volume = preferences->master_volume;
        return true;
    case _preferences_panel_teardown: return true;
    case _preferences_panel_item_hit:
        if (item_id == _preferences_menu_music_item && is_checkbox(dialog, item_id))
        {
            // At once, while the dialog is open (the preference follows on OK).
            if (get_checkbox_state(dialog, item_id)) play_menu_music();
            else stop_main_menu_music();
        }
        else if (item_id == _preferences_sound_system_item)
            name_sound_system_button(dialog);
        else if (item_id == _preferences_volume_item && dialog_has_item(dialog, item_id))
        {
            int32_t volume = get_slider_value(dialog, item_id);
            if (volume < 0) volume = 0;
            if (volume > SOUND_PREFERENCES_MAXIMUM_VOLUME) volume = SOUND_PREFERENCES_MAXIMUM_VOLUME;
            preferences->master_volume = (int16_t)volume;
            update_sound_volume();
        }
        return true;
    case _preferences_panel_commit:
    {
        // Box 10 is hidden and keeps the state the dialog tag gives it.
        if (is_checkbox(dialog, _preferences_3D_audio_item))
            set_flag(&preferences->flags, _sound_preferences_3D_positional_audio_flag,
                     get_checkbox_state(dialog, _preferences_3D_audio_item));
        if (is_checkbox(dialog, _preferences_ambient_item))
            set_flag(&preferences->flags, _sound_preferences_ambient_flag,
                     get_checkbox_state(dialog, _preferences_ambient_item));
        if (is_checkbox(dialog, _preferences_menu_music_item))
            set_flag(&preferences->flags, _sound_preferences_disable_menu_music_flag,
                     !get_checkbox_state(dialog, _preferences_menu_music_item));
        int16_t provider = preferences->provider_id;
        if (is_button(dialog, _preferences_sound_system_item))
            provider = get_button_control_state(dialog, _preferences_sound_system_item) == NO_SOUND_BUTTON_STATE
                           ? (int16_t)_sound_provider_none
                           : (int16_t)_sound_provider_openal;
        const bool provider_changed = provider != preferences->provider_id;
        preferences->provider_id = provider;
        // Written on every OK, so the boxes' changes are kept as well.
        write_sound_preferences();
        if (provider_changed)
        {
            reboot_sound_manager();
            if (!(preferences->flags & _sound_preferences_disable_menu_music_flag)) play_menu_music();
        }
        return true;
    }
    case _preferences_panel_discard:
        // The channels playing hear the restored volume too.
        preferences->master_volume = preferences_ui_globals.remembered_volume;
        update_sound_volume();
        follow_menu_music_flag();
        return true;
    default: log_message(__FILE__, __LINE__, "halt: sound panel verb %d", verb); return true;
    }
}

// ---- the interface panel --------------------------------------------------------------------

static void switch_interface(const char *name)
{
    log_message(__FILE__, __LINE__, "Switching to %s...", *name ? name : "Default Interface");
    save_plugin_component_prefs(_interface_plugin_component);
    const plugin_component *lobby = get_plugin_component(_metaserver_plugin_component);
    set_component_plugin_names(name, lobby ? lobby->chosen_plugin : "");
    update_component_plugin_indices();
    initialize_vesk_for_new_map(nullptr, false);
    set_game_state(_game_state_displaying_main_menu);
    log_message(__FILE__, __LINE__, "Interface switch complete.");
}

bool interface_preferences_panel_handler(dialog_data *, int16_t verb, int16_t item_id)
{
    plugin_component *component = get_plugin_component(_interface_plugin_component);
    auto &remembered = preferences_ui_globals.remembered_interface;
    switch (verb)
    {
    case _preferences_panel_setup:
        snprintf(remembered, sizeof(remembered), "%s", component ? component->chosen_plugin : "");
        return true;
    case _preferences_panel_teardown: return true;
    case _preferences_panel_item_hit:
        if (item_id == _preferences_interface_choice_item) select_plugin_component(_interface_plugin_component);
        return true;
    case _preferences_panel_commit:
        if (component && strcmp(component->chosen_plugin, remembered) != 0) switch_interface(component->chosen_plugin);
        return true;
    case _preferences_panel_discard:
        if (component) snprintf(component->chosen_plugin, sizeof(component->chosen_plugin), "%s", remembered);
        return true;
    default: log_message(__FILE__, __LINE__, "halt: interface panel verb %d", verb); return true;
    }
}

// ---- the dialog -------------------------------------------------------------------------------

// Without a screen record the page has nothing to show (and says so once, at set-up).
static bool screen_panel(dialog_data *dialog, int16_t verb, int16_t item_id)
{
    if (!active_screen.prefs)
    {
        if (verb == _preferences_panel_setup) log_message(__FILE__, __LINE__, "no screen preferences: the screen page is left empty");
        return true;
    }
    return screen_preferences_panel_handler(dialog, verb, item_id);
}

static bool controls_panel(dialog_data *dialog, int16_t verb, int16_t item_id)
{
    return controls_preferences_panel_handler(dialog, verb, item_id);
}

typedef bool (*preferences_panel_handler)(dialog_data *dialog, int16_t verb, int16_t item_id);
// In the order the panels are set up and told of items.
static const preferences_panel_handler preferences_panels[] = {
    game_preferences_panel_handler, sound_preferences_panel_handler, screen_panel,
    controls_panel, interface_preferences_panel_handler,
};

static void tell_panels(dialog_data *dialog, int16_t verb, int16_t item_id)
{
    for (const auto panel : preferences_panels) panel(dialog, verb, item_id);
}

dialog_data *open_preferences_dialog(void)
{
    if (!active_screen.screen_initialized)
    {
        log_message(__FILE__, __LINE__, "no screen for the preferences dialog");
        return nullptr;
    }
    dialog_data *dialog =
        new_dialog_if_present(PREFERENCES_DIALOG_TAG, "preferences", nullptr, _dialog_is_centered_flag);
    if (!dialog) return nullptr;
    set_dialog_background_from(dialog, PREFERENCES_DIALOG_TAG, 0);
    show_dialog_item(dialog, _preferences_hidden_item, false);
    show_dialog_item(dialog, _preferences_blood_item, true);
    set_default_dialog_item(dialog, _preferences_ok_item);
    set_dialog_cancel_item(dialog, _preferences_cancel_item);
    tell_panels(dialog, _preferences_panel_setup, NONE);
    return dialog;
}

void handle_preferences_dialog(void)
{
    dialog_data *dialog = open_preferences_dialog();
    if (!dialog) return;
    int16_t item;
    do
    {
        const int16_t volume = get_sound_preferences()->master_volume;
        item = modal_dialog(dialog);
        // A loop that ended without an item (a closed dialog) counts as Cancel.
        if (item == NONE || !dialog_is_open(dialog)) item = _preferences_cancel_item;
        if (item != _preferences_ok_item && item != _preferences_cancel_item)
            tell_panels(dialog, _preferences_panel_item_hit, item);
        // The volume keys may have moved the volume meanwhile.
        const int16_t now = get_sound_preferences()->master_volume;
        if (now != volume && dialog_has_item(dialog, _preferences_volume_item))
            set_slider_value(dialog, _preferences_volume_item, now);
    } while (item != _preferences_ok_item && item != _preferences_cancel_item);
    if (!dialog_is_open(dialog))
    {
        // Gone under us: only what needs no controls is put back.
        sound_preferences_panel_handler(nullptr, _preferences_panel_discard, NONE);
        interface_preferences_panel_handler(nullptr, _preferences_panel_discard, NONE);
        return;
    }
    tell_panels(dialog, item == _preferences_ok_item ? _preferences_panel_commit : _preferences_panel_discard, NONE);
    dispose_dialog(dialog);
}

void enter_preferences_state(void)
{
    handle_preferences_dialog();
    // An interface switch asked for the main menu already; asking again is harmless.
    set_game_state(_game_state_displaying_main_menu);
}
