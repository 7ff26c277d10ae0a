#pragma once
// Plug-in components: roles that exactly one plug-in of a given type fills for
// the whole program (the lobby service plug-in and the interface plug-in).
// Each choice is a small file named after the component in "preferences"
// (game/tag_files/preferences.h), chosen in the component dialog 'srsw'.
//
// Main thread only.

#include <cstdint>

#include "tag_files/tag_file_formats.h"

enum plugin_component_index
{
    _metaserver_plugin_component = 0,
    _interface_plugin_component = 1,
    NUMBER_OF_PLUGIN_COMPONENTS = 2,
    ALL_PLUGIN_COMPONENTS = -1, // load and save: both components
};

enum
{
    PLUGIN_COMPONENT_NAME_SIZE = 32,
    // The component dialog: its string list, its title and its buttons.
    PLUGIN_COMPONENT_OK_ITEM = 1,
    PLUGIN_COMPONENT_CANCEL_ITEM = 2,
    PLUGIN_COMPONENT_LIST_ITEM = 3,
    PLUGIN_COMPONENT_TITLE_ITEM = 4,
    // The lobby's address and its label, shown for the lobby alone.
    PLUGIN_COMPONENT_ADDRESS_ITEM = 5,
    PLUGIN_COMPONENT_ADDRESS_LABEL_ITEM = 6,
    // The smallest screen the larger interface plug-in is chosen for.
    LARGE_INTERFACE_MINIMUM_WIDTH = 800,
    LARGE_INTERFACE_MINIMUM_HEIGHT = 600,
};

#define PLUGIN_COMPONENT_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'r', 's', 'w')
#define PLUGIN_COMPONENT_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'h')
// The interface plug-in a first start chooses on a large enough screen.
#define LARGE_INTERFACE_PLUGIN_NAME "Vesk II Interface (800x600)"
// The lobby service plug-in chosen until the player picks another.
#define DEFAULT_METASERVER_PLUGIN_NAME "Vesk Lobby"

struct plugin_component
{
    int16_t plugin_type;           // tag_file_type of the plug-ins that may fill it
    const char *component_type;    // its name, also its file's name
    const char *title;             // the component dialog's title
    const char *default_component; // the name stored for choosing no plug-in
    const char *default_label;     // the list's row for it
    char chosen_plugin[PLUGIN_COMPONENT_NAME_SIZE]; // "" = the default
};

// Row `index` of the table (0 or 1), or null.
plugin_component *get_plugin_component(int32_t index);

// Puts the table back to its built-in choices (tests, and before loading).
void reset_plugin_components(void);

// Loads the component's file (ALL_PLUGIN_COMPONENTS: both).  A file holding
// an empty, over-long or unprintable name is ignored (logged) and the
// built-in choice kept.  Without a file, the interface component chooses
// LARGE_INTERFACE_PLUGIN_NAME when that plug-in's file is in "plugins" and
// the screen is at least 800 x 600, else its default, and saves the choice;
// the lobby component keeps its built-in choice.
void load_plugin_component_prefs(int32_t index);

// Writes the component's file (ALL_PLUGIN_COMPONENTS: both); an empty choice
// deletes it.
void save_plugin_component_prefs(int32_t index);

// Runs the component dialog: the default and every installed plug-in of the
// component's type, the current choice selected; for the lobby also its
// address (host or host:port), which OK stores when it changed and is an
// address, and otherwise keeps the dialog open saying so.  True when OK
// changed the choice (which is then the selected row's name, the default's
// for its row); false on Cancel, for a bad index, or when the dialog cannot
// be opened.
bool select_plugin_component(int32_t index);

// The start-up step: both components loaded and handed to the tag-file store
// (a default choice names no plug-in).  Always true.
bool initialize_plugin_component_preferences(void);

// The screen size the first-start rule compares with (width and height, 0
// when unknown).  The default asks the window system only when it is
// already up, so headless runs never start it.
typedef void (*plugin_component_screen_size_procedure)(int32_t *width, int32_t *height);
// Replaces it (null: the default); returns the one before.  For tests.
plugin_component_screen_size_procedure use_plugin_component_screen_size(
    plugin_component_screen_size_procedure procedure);
