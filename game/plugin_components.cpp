// Plug-in components: the lobby service and interface plug-ins, their files
// and their dialog.
#include "plugin_components.h"

#include <cstring>
#include <initializer_list>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_dialogs/edittext_control.h"
#include "cseries/cstrings.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "lobby_procedures.h"
#include "screen.h"
#include "screen_sdl.h"
#include "shapes.h"
#include "vesk/string_lists.h"
#include "tag_files/plugins.h"
#include "tag_files/preferences.h"
#include "tag_files/tag_files.h"

static void default_screen_size(int32_t *width, int32_t *height);

enum
{
    MAXIMUM_LOBBY_ADDRESS_TEXT = 256 + 6, // a host of 255 characters, a colon and 5 digits
};

static struct plugin_component_globals
{
    plugin_component components[NUMBER_OF_PLUGIN_COMPONENTS];
    plugin_component_screen_size_procedure screen_size;
} plugin_component_globals = {
    {
        // The stored name of the lobby's default stays "Default" (files
        // written before keep their meaning); the player reads "lobby".
        {_tag_file_type_lobby_plugin, METASERVER_PLUGIN_COMPONENT_FILE_NAME, "Select Lobby", "Default",
         "Default lobby", DEFAULT_METASERVER_PLUGIN_NAME},
        {_tag_file_type_interface_plugin, INTERFACE_PLUGIN_COMPONENT_FILE_NAME, "Select Interface",
         "Vesk II Interface (640x480)", "Vesk II Interface (640x480)", ""},
    },
    default_screen_size,
};

static void default_screen_size(int32_t *width, int32_t *height)
{
    int16_t w = 0, h = 0;
    get_true_screen_dimensions(&w, &h);
    *width = w;
    *height = h;
}

plugin_component *get_plugin_component(int32_t index)
{
    if (index < 0 || index >= NUMBER_OF_PLUGIN_COMPONENTS) return nullptr;
    return &plugin_component_globals.components[index];
}

void reset_plugin_components(void)
{
    strlcpy(plugin_component_globals.components[_metaserver_plugin_component].chosen_plugin,
            DEFAULT_METASERVER_PLUGIN_NAME, PLUGIN_COMPONENT_NAME_SIZE);
    plugin_component_globals.components[_interface_plugin_component].chosen_plugin[0] = 0;
}

plugin_component_screen_size_procedure use_plugin_component_screen_size(
    plugin_component_screen_size_procedure procedure)
{
    plugin_component_screen_size_procedure old = plugin_component_globals.screen_size;
    plugin_component_globals.screen_size = procedure ? procedure : default_screen_size;
    return old;
}

// A name a component may hold: printable characters only, not empty.
static bool component_name_is_printable(const char *name)
{
    if (!name[0]) return false;
    for (const unsigned char *c = (const unsigned char *)name; *c; ++c)
        if (*c < 0x20 || *c == 0x7F) return false;
    return true;
}

static bool plugin_file_exists(const char *name)
{
    file_reference file;
    file_reference_create(&file, _file_reference_application_relative);
    return file_reference_add_directory(&file, PLUGINS_FOLDER) && file_reference_set_name(&file, name) &&
           file_exists(&file);
}

static void load_one_component(int32_t index)
{
    plugin_component *component = get_plugin_component(index);
    char chosen[PLUGIN_COMPONENT_NAME_SIZE] = {};
    bool cut = false;
    if (read_plugin_component_file(component->component_type, chosen, sizeof(chosen), &cut))
    {
        // A name that was cut, is empty or holds control characters names no
        // plug-in the player chose: the built-in choice stays.
        if (cut || !component_name_is_printable(chosen))
        {
            log_message(nullptr, -1, "the plug-in component file '%s' holds %s name: the default is used",
                        component->component_type, cut ? "a too long" : "an empty or unprintable");
            return;
        }
        strlcpy(component->chosen_plugin, chosen, sizeof(component->chosen_plugin));
        return;
    }
    if (component->plugin_type != _tag_file_type_interface_plugin) return;
    // First start: the larger interface when it is installed and fits.
    const char *choice = component->default_component;
    if (plugin_file_exists(LARGE_INTERFACE_PLUGIN_NAME))
    {
        int32_t width = 0, height = 0;
        plugin_component_globals.screen_size(&width, &height);
        if (width >= LARGE_INTERFACE_MINIMUM_WIDTH && height >= LARGE_INTERFACE_MINIMUM_HEIGHT)
            choice = LARGE_INTERFACE_PLUGIN_NAME;
    }
    strlcpy(component->chosen_plugin, choice, sizeof(component->chosen_plugin));
    // Kept for the next start; a tool (whose films and saves go to a folder of
    // its own) leaves the game's preferences alone.
    if (!tag_files_player_folders_root()[0]) save_plugin_component_prefs(index);
}

void load_plugin_component_prefs(int32_t index)
{
    if (index == ALL_PLUGIN_COMPONENTS)
    {
        for (int32_t i = 0; i < NUMBER_OF_PLUGIN_COMPONENTS; ++i) load_one_component(i);
        return;
    }
    if (get_plugin_component(index)) load_one_component(index);
}

static void save_one_component(int32_t index)
{
    const plugin_component *component = get_plugin_component(index);
    if (!write_plugin_component_file(component->component_type, component->chosen_plugin))
        log_message(nullptr, -1, "the plug-in component file '%s' could not be written", component->component_type);
}

void save_plugin_component_prefs(int32_t index)
{
    if (index == ALL_PLUGIN_COMPONENTS)
    {
        for (int32_t i = 0; i < NUMBER_OF_PLUGIN_COMPONENTS; ++i) save_one_component(i);
        return;
    }
    if (get_plugin_component(index)) save_one_component(index);
}

// The store's name for a component's choice: none for the default.
static const char *store_name(const plugin_component *component)
{
    return strcmp(component->chosen_plugin, component->default_component) == 0 ? "" : component->chosen_plugin;
}

bool initialize_plugin_component_preferences(void)
{
    load_plugin_component_prefs(ALL_PLUGIN_COMPONENTS);
    set_component_plugin_names(store_name(&plugin_component_globals.components[_interface_plugin_component]),
                               store_name(&plugin_component_globals.components[_metaserver_plugin_component]));
    return true;
}

// The lobby's address box and its label: shown with the lobby's address for
// the lobby (true), hidden for any other component or when the lobby offers
// none.  A dialog without them shows no address.
static bool show_lobby_address(dialog_data *dialog, bool lobby)
{
    const bool present = get_bitmap_item_tag(dialog, PLUGIN_COMPONENT_ADDRESS_ITEM) == EDITTEXT_CONTROL_TAG &&
                         get_bitmap_item_tag(dialog, PLUGIN_COMPONENT_ADDRESS_LABEL_ITEM) == STATIC_TEXT_CONTROL_TAG;
    char address[MAXIMUM_LOBBY_ADDRESS_TEXT] = "";
    if (present && lobby) lobby_get_address(address, sizeof(address));
    const bool shown = present && lobby && address[0];
    for (int16_t item : {PLUGIN_COMPONENT_ADDRESS_ITEM, PLUGIN_COMPONENT_ADDRESS_LABEL_ITEM})
        if (dialog_has_item(dialog, item)) bitmap_set_item_visible(dialog, item, shown);
    if (!shown) return false;
    // An edit box holds at most MAXIMUM_EDITTEXT_LENGTH characters: the
    // longest host names with a port do not fit, and need none.
    set_bitmap_dialog_edit_item_maximum_length(dialog, PLUGIN_COMPONENT_ADDRESS_ITEM, MAXIMUM_EDITTEXT_LENGTH);
    set_bitmap_dialog_edit_item_text(dialog, PLUGIN_COMPONENT_ADDRESS_ITEM, address);
    return true;
}

// OK with the address box: a changed address is stored when it is one (true);
// else the title says what an address is and the dialog stays (false).
static bool lobby_address_taken(dialog_data *dialog)
{
    char typed[MAXIMUM_LOBBY_ADDRESS_TEXT] = "", stored[MAXIMUM_LOBBY_ADDRESS_TEXT] = "";
    get_bitmap_dialog_edit_item_text(dialog, PLUGIN_COMPONENT_ADDRESS_ITEM, typed, sizeof(typed));
    lobby_get_address(stored, sizeof(stored));
    if (strcmp(typed, stored) == 0 || lobby_set_address(typed)) return true;
    set_bitmap_dialog_static_item_text(dialog, PLUGIN_COMPONENT_TITLE_ITEM,
                                       translate_string("Not a lobby address: type host or host:port"));
    return false;
}

bool select_plugin_component(int32_t index)
{
    plugin_component *component = get_plugin_component(index);
    if (!component) return false;
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(PLUGIN_COMPONENT_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "the component dialog 'srsw' cannot be read");
        return false;
    }
    dialog_data *dialog = new_dialog(PLUGIN_COMPONENT_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    static const dialog_item_requirement items[] = {
        {PLUGIN_COMPONENT_OK_ITEM, BUTTON_CONTROL_TAG},
        {PLUGIN_COMPONENT_CANCEL_ITEM, BUTTON_CONTROL_TAG},
        {PLUGIN_COMPONENT_LIST_ITEM, STRING_LIST_CONTROL_TAG},
        {PLUGIN_COMPONENT_TITLE_ITEM, STATIC_TEXT_CONTROL_TAG},
    };
    if (dialog && !dialog_has_items(dialog, items, (int32_t)(sizeof(items) / sizeof(items[0]))))
    {
        dispose_dialog(dialog);
        dialog = nullptr;
    }
    if (!dialog) return false;
    const int32_t background = get_collection_index(PLUGIN_COMPONENT_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);

    set_string_list_sorted(dialog, PLUGIN_COMPONENT_LIST_ITEM, false);
    add_string_to_list(dialog, PLUGIN_COMPONENT_LIST_ITEM, translate_string(component->default_label), -1, true);
    bool preselected = false;
    for (int32_t plugin_index = 0; plugin_index < tag_file_get_plugin_count(); ++plugin_index)
    {
        const plugin_datum *plugin = get_plugin_data(plugin_index);
        if (!plugin || plugin->type != component->plugin_type) continue;
        add_string_to_list(dialog, PLUGIN_COMPONENT_LIST_ITEM, plugin->name, plugin_index, true);
        if (!preselected && strcmp(plugin->name, component->chosen_plugin) == 0)
            preselected = select_string_list_by_identifier(dialog, PLUGIN_COMPONENT_LIST_ITEM, plugin_index);
    }
    if (!preselected) select_string_list_by_identifier(dialog, PLUGIN_COMPONENT_LIST_ITEM, -1);
    set_string_list_sorted(dialog, PLUGIN_COMPONENT_LIST_ITEM, true);
    bitmap_focus_on_list_item(dialog, PLUGIN_COMPONENT_LIST_ITEM, -1);
    set_default_dialog_item(dialog, PLUGIN_COMPONENT_OK_ITEM);
    set_dialog_cancel_item(dialog, PLUGIN_COMPONENT_CANCEL_ITEM);
    set_bitmap_dialog_static_item_text(dialog, PLUGIN_COMPONENT_TITLE_ITEM, translate_string(component->title));

    const bool lobby = component->plugin_type == _tag_file_type_lobby_plugin;
    const bool address_shown = show_lobby_address(dialog, lobby);
    int16_t item;
    for (;;)
    {
        item = modal_dialog(dialog);
        if (item != PLUGIN_COMPONENT_OK_ITEM && item != PLUGIN_COMPONENT_CANCEL_ITEM && item != NONE) continue;
        if (item != PLUGIN_COMPONENT_OK_ITEM || !address_shown || lobby_address_taken(dialog)) break;
    }

    bool changed = false;
    if (item == PLUGIN_COMPONENT_OK_ITEM)
    {
        char name[256] = {};
        int16_t row = -1;
        if (get_list_selected_string(dialog, PLUGIN_COMPONENT_LIST_ITEM, name, sizeof(name), &row))
        {
            // The default's row stores the default's name, whatever it shows.
            if (get_string_list_selected_identifier(dialog, PLUGIN_COMPONENT_LIST_ITEM) == -1)
                strlcpy(name, component->default_component, sizeof(name));
            changed = strcmp(name, component->chosen_plugin) != 0;
            strlcpy(component->chosen_plugin, name, sizeof(component->chosen_plugin));
        }
    }
    dispose_dialog(dialog);
    return changed;
}
