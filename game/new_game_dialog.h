#pragma once
// The new-game dialog ('!new'): a single player chooses a map of the
// installed maps and plug-ins, a map set, the plug-ins to load, a difficulty
// and the gameplay options, turned into a game's parameters.  The ngd_*
// procedures do the work and take the dialog's item numbers, so that the
// host's game parameters dialog runs them on its own dialog tag; an item the
// dialog has no use for is -1.
//
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "game_limits.h"
#include "game_records.h"
#include "tag_files/plugins.h"

#define NEW_GAME_DIALOG_TAG FOUR_CHARACTER_CODE('!', 'n', 'e', 'w')
#define NEW_GAME_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('!', 'n', 'e', 'w')
#define VUX_QUERY_DIALOG_TAG FOUR_CHARACTER_CODE('v', 'v', 'u', 'x')
#define DIFFICULTY_EXPLANATION_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', '0', '4')
#define NEW_GAME_NAMES_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'n')

// The single-player dialog's items.
enum new_game_dialog_item
{
    _new_game_ok_item = 1,
    _new_game_cancel_item = 2,
    _new_game_tagset_button_item = 3,
    _new_game_map_list_item = 6,
    _new_game_difficulty_list_item = 8,
    _new_game_difficulty_explanation_item = 9,
    _new_game_tagset_list_item = 11,
    _new_game_anticlump_checkbox_item = 12,
    _new_game_vvux_checkbox_item = 13,
    _new_game_plugin_icon_item = 14,
    _new_game_mapset_label_item = 15,
    _new_game_mapset_list_item = 16,
    _new_game_plugin_banner_item = 17,
    _new_game_mapset_filter_item = 18,
    _new_game_difficulty_selector_item = 19,
};

// The vux warning's answers (its items).
enum vvux_query_answer
{
    _vvux_message_item = 1,
    _vvux_use_vux_item = 2,       // go on with vux gameplay
    _vvux_use_anticlump_item = 3, // use anti-clumping instead (the default)
    _vvux_cancel_item = 4,
};

enum
{
    VUX_WARNING_TEXT_SIZE = 256,
    // The plug-in choice dialog's mode for the single-player dialog.
    NEW_GAME_PLUGIN_DIALOG_MODE = 2,
};

// The items of one dialog that runs the ngd_* procedures (-1: none).
struct ngd_items
{
    int16_t coop_toggle_id;
    int16_t map_list_id;
    int16_t mapset_label_id;
    int16_t mapset_list_id;
    int16_t mapset_filter_id;
    int16_t tagset_list_id;
    int16_t tagset_button_id;
    int16_t plugin_icon_id;
    int16_t plugin_banner_id;
    int16_t difficulty_list_id;
    int16_t difficulty_selector_id;
    int16_t difficulty_explanation_id;
    int16_t anticlump_checkbox_id;
    int16_t vvux_checkbox_id;
    int16_t gameplay_version_control_id;
};

// The state of one such dialog: it lives as long as the dialog.
struct ngd_data
{
    dialog_data *dialog;
    new_game_parameter_data *params; // the player's working parameters, edited in place
    bool netmode;                    // the host's dialog
    uint32_t chosen_mapset_checksum; // of the plug-in whose map set is chosen; 0: the built-in maps
    int16_t gameplay_selector_value; // -1 default; > 0 a version; < 0 minus a minimum version
    ngd_items items;
};

// The difficulty selector's table: five levels labelled by 'indl' rows 0-4,
// filled each time the map changes.
extern enum_selector_data difficulty_level_selector_data[NUMBER_OF_DIFFICULTY_LEVELS + 1];

// Sets up the state and the controls (the item numbers kept only for items
// the dialog has), fills the map sets and maps and applies the selected map.
void ngd_init(ngd_data *ngd, dialog_data *dialog, new_game_parameter_data *params, bool netmode,
              uint32_t chosen_mapset_checksum, int16_t gameplay_selector_value, const ngd_items *items);

// One modal_dialog pass: handles the item hit and returns it (NONE for none).
// `plugin_dialog_mode` goes to the plug-in choice dialog.
int16_t ngd_itemhit(ngd_data *ngd, int16_t plugin_dialog_mode);

// Builds the final parameters of the selected map into `out_params` (not
// `params`).  `minimum_version` -1 for none; `interactive` may ask the vux
// warning and the plug-in resolver's question.  False, with `out_params`
// unchanged, when no map is selected, the player cancels the warning, the
// plug-ins cannot be resolved or encoded, or the selector names no gameplay
// version.
bool ngd_build_game(ngd_data *ngd, new_game_parameter_data *out_params, int32_t minimum_version, bool interactive);
// The same for a given entry point (null: none selected).
bool ngd_build_game_for_entry_point(ngd_data *ngd, const full_entry_point *entry, new_game_parameter_data *out_params,
                                    int32_t minimum_version, bool interactive);

void ngd_dispose(ngd_data *ngd);
// Deletes the string lists 'indl', 'in04', 'innn' and 'ingo', so that they are
// read again from the plug-ins now chosen.
void ngd_delete_interface_tags(ngd_data *ngd);

// Refills the map list (and, `fresh_mapset_list`, the map sets), then the
// plug-ins-changed step.
void ngd_rebuild_map_list(ngd_data *ngd, bool fresh_mapset_list);
// The plug-ins the chosen map needs, opened for a preview and shown.
void ngd_on_plugins_changed(ngd_data *ngd);
// The check boxes, art, difficulty and scenario of the selected map.
void ngd_on_map_changed(ngd_data *ngd);

// The vux warning ('vvux') showing `message`: 2, 3 or 4 (4 also when the
// dialog cannot be made).
int16_t vvux_query_dialog(const char *message);

// Opens the single-player dialog '!new' over its background, set up from the
// game preferences' last choice (copied into `working`, which must outlive
// the dialog) by ngd_init with the single-player items; null (logged) when
// the tag is missing or damaged.  Closed by ngd_dispose.
dialog_data *open_new_game_dialog(ngd_data *ngd, new_game_parameter_data *working);

// The single-player dialog: true when OK built a game, whose parameters are
// then in `data->parameters` (the players are the caller's).  The choices are
// stored in the game preferences on Cancel too.
bool new_game_dialog(new_game_data *data);

// The gameplay selector shown by `item`: -1 for item -1; an enumeration
// selector's chosen value; a check box -1 when ticked, else -1820.
int32_t get_gameplay_selector_value(const dialog_data *dialog, int16_t item);
// A check box is ticked for -1; an enumeration selector shows the value's
// magnitude, or -1 when it does not offer it; item -1 is ignored.
void set_gameplay_selector_value(dialog_data *dialog, int16_t item, int32_t selector_value);

// The services ngd_build_game uses, replaceable for tests (a null member:
// the real one).
struct ngd_build_services
{
    // As tag_files_build_plugin_indices_for_entrypoint.
    bool (*resolve_plugins)(int16_t *plugin_indexes, int32_t *count, int32_t maximum, const int16_t *user_indexes,
                            int32_t user_count, int32_t user_maximum, int32_t entry_point_plugin_index,
                            const char *required_name, bool *uses_earlier_gameplay, int32_t minimum_gameplay_version,
                            bool interactive);
    const plugin_datum *(*get_plugin)(int32_t plugin_index);
    int16_t (*ask_vux_question)(const char *message);
    int32_t (*encode_plugins)(const int16_t *plugin_indexes, int32_t count, void *encoded);
};
void set_ngd_build_services(const ngd_build_services *services);

// The new-game state's entry: the dialog, then on OK the game set-up and the
// running state; on Cancel the main menu.
void enter_new_game_state(void);
