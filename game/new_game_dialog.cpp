// The new-game dialog and the procedures the host's dialog shares.
#include "new_game_dialog.h"

#include <cstring>
#include <initializer_list>

#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/plugin_list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_states.h"
#include "gameplay_versions.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "cseries/timers.h"
#include "mesh_format.h"
#include "plugins_dialog.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk/string_lists.h"

enum
{
    SINGLE_PLAYER_MAP_MASK = 0x10000,  // single-player entry points
    MULTIPLAYER_MAP_MASK = 0xFFFF,     // any scoring
    COOPERATIVE_MAPSET_MODE = _solo_plugin_list_control,
    ORDINARY_MAPSET_MODE = _multi_plugin_list_control,
    DIFFICULTY_LIST_MASK = 31,         // rows 0-4 of 'indl'
    GAMEPLAY_CHECKBOX_BUTTON_FLAGS = _button_control_draw_side_by_side_flag |
                                     _button_control_stays_checked_when_disabled_flag,
    NUMBER_OF_GAMEPLAY_SELECTOR_CHOICES = NUMBER_OF_GAMEPLAY_VERSIONS + 1,
};

static const char vux_warning_format[] =
    "Warning: \"%s\" possibly conflicts with full VUX Gameplay and may fail to load.\r\n\r\n"
    "Anti-clumping is a safer alternative if you're not sure it will work with VUX.";

enum_selector_data difficulty_level_selector_data[NUMBER_OF_DIFFICULTY_LEVELS + 1] = {
    {nullptr, NUMBER_OF_DIFFICULTY_LEVELS}, {"", 0}, {"", 1}, {"", 2}, {"", 3}, {"", 4},
};

static struct new_game_dialog_globals
{
    ngd_build_services services;
    // The gameplay selector's choices: the default, then every version.
    enum_selector_data gameplay_choices[NUMBER_OF_GAMEPLAY_SELECTOR_CHOICES + 1];
    bool gameplay_choices_built;
} new_game_dialog_globals;

// ---- services -------------------------------------------------------------------

static bool real_resolve_plugins(int16_t *plugin_indexes, int32_t *count, int32_t maximum,
                                 const int16_t *user_indexes, int32_t user_count, int32_t user_maximum,
                                 int32_t entry_point_plugin_index, const char *required_name,
                                 bool *uses_earlier_gameplay, int32_t minimum_gameplay_version, bool interactive)
{
    return tag_files_build_plugin_indices_for_entrypoint(plugin_indexes, count, maximum, user_indexes, user_count,
                                                         user_maximum, entry_point_plugin_index, required_name,
                                                         uses_earlier_gameplay, minimum_gameplay_version,
                                                         interactive);
}

static const plugin_datum *real_get_plugin(int32_t plugin_index) { return get_plugin_data(plugin_index); }

void set_ngd_build_services(const ngd_build_services *services)
{
    ngd_build_services chosen = services ? *services : ngd_build_services{};
    if (!chosen.resolve_plugins) chosen.resolve_plugins = real_resolve_plugins;
    if (!chosen.get_plugin) chosen.get_plugin = real_get_plugin;
    if (!chosen.ask_vux_question) chosen.ask_vux_question = vvux_query_dialog;
    if (!chosen.encode_plugins) chosen.encode_plugins = tag_file_plugins_encode;
    new_game_dialog_globals.services = chosen;
}

static const ngd_build_services *services(void)
{
    if (!new_game_dialog_globals.services.resolve_plugins) set_ngd_build_services(nullptr);
    return &new_game_dialog_globals.services;
}

// ---- the gameplay selector ------------------------------------------------------

static const enum_selector_data *gameplay_selector_choices(void)
{
    auto *g = &new_game_dialog_globals;
    if (!g->gameplay_choices_built)
    {
        int32_t n = 0;
        g->gameplay_choices[++n] = {"Default", -1};
        for (int32_t i = 0; i < NUMBER_OF_GAMEPLAY_VERSIONS; ++i)
        {
            const gameplay_version_definition *row = get_gameplay_version_definition(i);
            if (row) g->gameplay_choices[++n] = {row->name, row->gameplay_version};
        }
        g->gameplay_choices[0] = {nullptr, n};
        g->gameplay_choices_built = true;
    }
    return g->gameplay_choices;
}

static bool enum_table_offers(const enum_selector_data *table, int32_t value)
{
    for (int32_t i = 1; i <= table[0].value; ++i)
        if (table[i].value == value) return true;
    return false;
}

int32_t get_gameplay_selector_value(const dialog_data *dialog, int16_t item)
{
    if (item == NONE) return -1;
    if (get_bitmap_item_tag(dialog, item) == CHECKBOX_CONTROL_TAG)
        return get_checkbox_state(dialog, item) ? -1 : -DEFAULT_GAMEPLAY_VERSION;
    return get_enum_selector_value(dialog, item, gameplay_selector_choices());
}

void set_gameplay_selector_value(dialog_data *dialog, int16_t item, int32_t selector_value)
{
    if (item == NONE) return;
    if (get_bitmap_item_tag(dialog, item) == CHECKBOX_CONTROL_TAG)
    {
        set_checkbox_state(dialog, item, selector_value == -1);
        return;
    }
    const enum_selector_data *table = gameplay_selector_choices();
    const int32_t magnitude = selector_value < 0 ? -selector_value : selector_value;
    set_enum_selector_value(dialog, item, table, enum_table_offers(table, magnitude) ? magnitude : -1);
}

// ---- building the game ----------------------------------------------------------

bool ngd_build_game_for_entry_point(ngd_data *ngd, const full_entry_point *entry, new_game_parameter_data *out_params,
                                    int32_t minimum_version, bool interactive)
{
    const ngd_build_services *s = services();
    if (!entry || !ngd || !ngd->params || !out_params) return false;
    new_game_parameter_data *params = ngd->params;
    if (!VASSERT(out_params != params, "out_params != user_params")) return false;

    bool uses_vux = (params->option_flags & _game_option_uses_vux_flag) != 0;
    bool uses_anticlump = (params->option_flags & _game_option_uses_anticlump_flag) != 0;
    int32_t gameplay_version = DEFAULT_GAMEPLAY_VERSION, required_minimum = NONE;
    get_gameplay_selector_settings(ngd->gameplay_selector_value, &gameplay_version, &required_minimum);
    const int32_t minimum = required_minimum > minimum_version ? required_minimum : minimum_version;

    if (entry->mesh_flags & (1u << _mesh_uses_vvux_bit))
    {
        uses_vux = true;
    }
    else if (interactive && uses_vux)
    {
        const plugin_datum *plugin = entry->plugin_index != BASE_GAME_PLUGIN_INDEX
                                         ? s->get_plugin(entry->plugin_index)
                                         : nullptr;
        if (plugin)
        {
            int16_t answer = _vvux_use_vux_item;
            if (plugin->version == PLUGIN_VERSION_NO_FLAGS ||
                !((uint16_t)plugin->version & (1u << _plugin_safe_with_earlier_gameplay_bit)))
            {
                // The warning is a text from data: printed only when it
                // takes exactly the plug-in's name.
                char name[TAG_NAME_SIZE + 1] = {};
                strlcpy_field(name, sizeof(name), plugin->name, sizeof(plugin->name));
                char message[VUX_WARNING_TEXT_SIZE];
                format_checked_line(message, sizeof(message), translate_string(vux_warning_format), "s", name);
                answer = s->ask_vux_question(message);
            }
            if (answer == _vvux_use_anticlump_item)
            {
                uses_vux = false;
                uses_anticlump = true;
            }
            SET_FLAG(params->option_flags, _game_option_uses_vux_bit, uses_vux);
            SET_FLAG(params->option_flags, _game_option_uses_anticlump_bit, uses_anticlump);
            if (answer != _vvux_use_vux_item && answer != _vvux_use_anticlump_item) return false;
        }
    }

    int16_t user_indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t user_count = 0;
    // A list naming plug-ins that are gone gives what is still installed.
    tag_file_plugins_decode(user_indexes, &user_count, params->plugin_data, nullptr, nullptr, 0);
    if (user_count < 0 || user_count > MAXIMUM_PLUGINS_PER_GAME) user_count = 0;
    int16_t resolved[MAXIMUM_PLUGINS_PER_GAME];
    int32_t resolved_count = 0;
    char required_name[TAG_NAME_SIZE + 1] = {};
    if (entry->mesh_flags & (1u << _mesh_requires_plugin_bit))
        strlcpy_field(required_name, sizeof(required_name), entry->dependency_name, sizeof(entry->dependency_name));
    if (!s->resolve_plugins(resolved, &resolved_count, MAXIMUM_PLUGINS_PER_GAME, user_indexes, user_count,
                            MAXIMUM_PLUGINS_PER_GAME, entry->plugin_index, required_name[0] ? required_name : nullptr,
                            &uses_vux, minimum, interactive))
        return false;
    if (uses_vux) uses_anticlump = false;

    // Built aside: a failure leaves the caller's record as it was.
    new_game_parameter_data built = *params;
    if (!update_game_parameters_for_gameplay_version(gameplay_version, &built)) return false;
    SET_FLAG(built.option_flags, _game_option_uses_vux_bit, uses_vux);
    SET_FLAG(built.option_flags, _game_option_uses_anticlump_bit, uses_anticlump);
    if (resolved_count < 0 || resolved_count > MAXIMUM_PLUGINS_PER_GAME ||
        s->encode_plugins(resolved, resolved_count, built.plugin_data) < 0)
        return false;
    built.plugin_count = (int16_t)resolved_count;
    *out_params = built;
    return true;
}

static const full_entry_point *selected_entry_point(const ngd_data *ngd)
{
    const full_entry_point *entry = nullptr;
    if (ngd->items.map_list_id == NONE ||
        !get_entry_point_list_item_data(ngd->dialog, ngd->items.map_list_id, -1, &entry))
        return nullptr;
    return entry;
}

bool ngd_build_game(ngd_data *ngd, new_game_parameter_data *out_params, int32_t minimum_version, bool interactive)
{
    if (!ngd) return false;
    return ngd_build_game_for_entry_point(ngd, selected_entry_point(ngd), out_params, minimum_version, interactive);
}

// ---- the controls ---------------------------------------------------------------


static bool cooperative(const ngd_data *ngd)
{
    return (ngd->params->option_flags & _game_option_cooperative_flag) != 0;
}

static void show_difficulty_explanation(ngd_data *ngd)
{
    if (ngd->items.difficulty_explanation_id == NONE) return;
    const int32_t list = string_list_tag_to_string_index(DIFFICULTY_EXPLANATION_STRING_LIST_TAG);
    const char *text = list != NONE ? get_string_from_list(list, ngd->params->difficulty_level) : nullptr;
    set_bitmap_dialog_static_item_text(ngd->dialog, ngd->items.difficulty_explanation_id, text ? text : "");
}

static void show_plugin_art(ngd_data *ngd, int16_t item, int32_t plugin_index, tag collection_tag)
{
    if (item == NONE) return;
    const int32_t collection = plugin_index != BASE_GAME_PLUGIN_INDEX
                                   ? tag_file_collection_open_temporary(plugin_index, collection_tag)
                                   : NONE;
    if (collection == NONE)
    {
        set_bitmap_item_color(ngd->dialog, item, nullptr);
        bitmap_set_item_visible(ngd->dialog, item, false);
        return;
    }
    set_dialog_bitmap_art(ngd->dialog, item, (int16_t)collection, 0, 0);
    set_dialog_bitmap_drawing_flags(ngd->dialog, item, 0);
    bitmap_set_item_visible(ngd->dialog, item, true);
}

void ngd_on_map_changed(ngd_data *ngd)
{
    const full_entry_point *entry = selected_entry_point(ngd);
    if (!entry) return;
    dialog_data *dialog = ngd->dialog;
    const ngd_items &items = ngd->items;
    const bool mesh_anticlump = (entry->mesh_flags & (1u << _mesh_uses_anticlump_bit)) != 0;
    const bool mesh_vux = (entry->mesh_flags & (1u << _mesh_uses_vvux_bit)) != 0;
    const bool fixed = mesh_anticlump || mesh_vux;
    const bool anticlump = fixed ? mesh_anticlump : (ngd->params->option_flags & _game_option_uses_anticlump_flag) != 0;
    const bool vux = fixed ? !mesh_anticlump : (ngd->params->option_flags & _game_option_uses_vux_flag) != 0;
    if (items.anticlump_checkbox_id != NONE)
    {
        set_checkbox_state(dialog, items.anticlump_checkbox_id, anticlump);
        bitmap_set_item_enabled(dialog, items.anticlump_checkbox_id, !fixed);
    }
    if (items.vvux_checkbox_id != NONE)
    {
        set_checkbox_state(dialog, items.vvux_checkbox_id, vux);
        bitmap_set_item_enabled(dialog, items.vvux_checkbox_id, !fixed);
    }

    // The map's own art.  The store keeps one preview collection at a time,
    // and opening one discards the one before: an item must never keep
    // showing a discarded collection, so the icon shows only when there is
    // no banner to show.
    show_plugin_art(ngd, items.plugin_banner_id, entry->plugin_index, PLUGIN_BANNER_COLLECTION_TAG);
    if (items.plugin_banner_id != NONE && bitmap_get_item_visible(dialog, items.plugin_banner_id))
    {
        if (items.plugin_icon_id != NONE)
        {
            set_bitmap_item_color(dialog, items.plugin_icon_id, nullptr);
            bitmap_set_item_visible(dialog, items.plugin_icon_id, false);
        }
    }
    else
    {
        show_plugin_art(ngd, items.plugin_icon_id, entry->plugin_index, PLUGIN_ICON_COLLECTION_TAG);
    }

    int16_t level = ngd->params->difficulty_level;
    if (level < 0 || level >= NUMBER_OF_DIFFICULTY_LEVELS) level = ngd->params->difficulty_level = 2;
    if (items.difficulty_list_id != NONE)
    {
        bitmap_empty_list(dialog, items.difficulty_list_id);
        append_strings_to_list_with_mask(dialog, items.difficulty_list_id, DIFFICULTY_LEVEL_STRING_LIST_TAG,
                                         DIFFICULTY_LIST_MASK, false);
        select_string_list_by_identifier(dialog, items.difficulty_list_id, level);
    }
    if (items.difficulty_selector_id != NONE)
    {
        const int32_t list = string_list_tag_to_string_index(DIFFICULTY_LEVEL_STRING_LIST_TAG);
        for (int32_t i = 0; i < NUMBER_OF_DIFFICULTY_LEVELS; ++i)
        {
            const char *text = list != NONE ? get_string_from_list(list, i) : nullptr;
            difficulty_level_selector_data[i + 1].text = text ? text : "";
        }
        set_enum_selector_value(dialog, items.difficulty_selector_id, difficulty_level_selector_data, level);
    }
    show_difficulty_explanation(ngd);
    ngd->params->scenario_tag = entry->subgroup_tag;
}

void ngd_delete_interface_tags(ngd_data *ngd)
{
    (void)ngd;
    static const tag lists[] = {DIFFICULTY_LEVEL_STRING_LIST_TAG, DIFFICULTY_EXPLANATION_STRING_LIST_TAG,
                                NEW_GAME_NAMES_STRING_LIST_TAG, INTERNAL_GAME_OPTIONS_STRING_LIST_TAG};
    for (tag list : lists) delete_string_list_definition_tag(list);
}

static int16_t selected_mapset_plugin(const ngd_data *ngd)
{
    int16_t plugin_index = BASE_GAME_PLUGIN_INDEX;
    if (ngd->items.mapset_list_id == NONE ||
        !get_plugin_list_selected_plugin_index(ngd->dialog, ngd->items.mapset_list_id, &plugin_index))
        return BASE_GAME_PLUGIN_INDEX;
    return plugin_index;
}

static void populate_maps(ngd_data *ngd, tag kept_map)
{
    if (ngd->items.map_list_id == NONE) return;
    populate_map_list_plugin_restricted(ngd->dialog, ngd->items.map_list_id,
                                        cooperative(ngd) ? SINGLE_PLAYER_MAP_MASK : MULTIPLAYER_MAP_MASK, kept_map,
                                        selected_mapset_plugin(ngd), ngd->netmode);
}

void ngd_on_plugins_changed(ngd_data *ngd)
{
    ngd_delete_interface_tags(ngd);
    new_game_parameter_data scratch;
    if (!ngd_build_game(ngd, &scratch, NONE, false)) return;
    const full_entry_point *entry = selected_entry_point(ngd);
    const tag kept_map = entry ? entry->subgroup_tag : ngd->params->scenario_tag;
    tag_file_plugins_open_encoded(scratch.plugin_data, true);
    if (ngd->items.tagset_list_id != NONE)
        initialize_plugin_list_control(ngd->dialog, ngd->items.tagset_list_id, scratch.plugin_data, 0, true, 0,
                                       _active_plugin_list_control);
    // Opening the plug-ins rebuilt the store's entry points, which the map
    // list's rows point into: they are listed again.
    populate_maps(ngd, kept_map);
}

void ngd_rebuild_map_list(ngd_data *ngd, bool fresh_mapset_list)
{
    dialog_data *dialog = ngd->dialog;
    if (fresh_mapset_list && ngd->items.mapset_list_id != NONE)
    {
        initialize_plugin_list_control(dialog, ngd->items.mapset_list_id, nullptr, 0, false,
                                       ngd->chosen_mapset_checksum,
                                       cooperative(ngd) ? COOPERATIVE_MAPSET_MODE : ORDINARY_MAPSET_MODE);
        if (get_game_preferences()->flags & _game_pref_alphabetical_mapset_sorting_flag)
            set_plugin_list_sort_method(dialog, ngd->items.mapset_list_id, true);
    }
    const full_entry_point *entry = selected_entry_point(ngd);
    const tag kept_map = entry ? entry->subgroup_tag : ngd->params->scenario_tag;
    int16_t plugin_index = selected_mapset_plugin(ngd);
    entry_points_open(-1, &plugin_index, plugin_index == BASE_GAME_PLUGIN_INDEX ? 0 : 1);
    const plugin_datum *plugin = plugin_index != BASE_GAME_PLUGIN_INDEX ? get_plugin_data(plugin_index) : nullptr;
    ngd->chosen_mapset_checksum = plugin ? plugin->checksum : 0;
    populate_maps(ngd, kept_map);
    ngd_on_plugins_changed(ngd);
}

void ngd_init(ngd_data *ngd, dialog_data *dialog, new_game_parameter_data *params, bool netmode,
              uint32_t chosen_mapset_checksum, int16_t gameplay_selector_value, const ngd_items *items)
{
    memset(ngd, 0, sizeof(*ngd));
    ngd->dialog = dialog;
    ngd->params = params;
    ngd->netmode = netmode;
    ngd->chosen_mapset_checksum = chosen_mapset_checksum;
    ngd->gameplay_selector_value = gameplay_selector_value;
    ngd->items = *items;
    // Items the code reads and writes only when the dialog has them.
    int16_t *optional[] = {&ngd->items.coop_toggle_id, &ngd->items.map_list_id, &ngd->items.mapset_label_id,
                           &ngd->items.mapset_list_id, &ngd->items.mapset_filter_id, &ngd->items.tagset_list_id,
                           &ngd->items.tagset_button_id, &ngd->items.plugin_icon_id, &ngd->items.plugin_banner_id,
                           &ngd->items.difficulty_list_id, &ngd->items.difficulty_selector_id,
                           &ngd->items.difficulty_explanation_id, &ngd->items.anticlump_checkbox_id,
                           &ngd->items.vvux_checkbox_id, &ngd->items.gameplay_version_control_id};
    for (int16_t *item : optional)
        if (!dialog_has_item(dialog, *item)) *item = NONE;
    const ngd_items &i = ngd->items;

    if (i.difficulty_list_id != NONE)
    {
        bitmap_set_list_sort_proc(dialog, i.difficulty_list_id, nullptr);
        bitmap_set_list_flag(dialog, i.difficulty_list_id, _list_cant_lose_selection_flag, true);
        bitmap_set_list_flag(dialog, i.difficulty_list_id, _list_dont_draw_scrollbars_flag, true);
        bitmap_set_list_flag(dialog, i.difficulty_list_id, _list_has_shaded_background_flag, false);
    }
    if (i.map_list_id != NONE)
    {
        bitmap_set_listbox_doubleclick_itemhit(dialog, i.map_list_id, i.map_list_id);
        bitmap_set_list_flag(dialog, i.map_list_id, _list_draw_focus_box_flag, false);
        bitmap_set_list_flag(dialog, i.map_list_id, _list_has_shaded_background_flag, true);
    }
    if (i.mapset_list_id != NONE)
        bitmap_set_list_flag(dialog, i.mapset_list_id, _list_has_shaded_background_flag, false);
    if (i.tagset_list_id != NONE)
    {
        bitmap_set_list_sort_proc(dialog, i.tagset_list_id, nullptr);
        bitmap_set_list_flag(dialog, i.tagset_list_id, _list_can_be_focused_flag, false);
        bitmap_set_list_flag(dialog, i.tagset_list_id, _list_draw_focus_box_flag, false);
        bitmap_set_list_flag(dialog, i.tagset_list_id, _list_has_shaded_background_flag, true);
        bitmap_set_list_flag(dialog, i.tagset_list_id, _list_cannot_accept_row_clicks_flag, true);
    }
    if (i.anticlump_checkbox_id != NONE)
        set_button_control_flags(dialog, i.anticlump_checkbox_id, GAMEPLAY_CHECKBOX_BUTTON_FLAGS);
    if (i.vvux_checkbox_id != NONE) set_button_control_flags(dialog, i.vvux_checkbox_id, GAMEPLAY_CHECKBOX_BUTTON_FLAGS);
    if (i.coop_toggle_id != NONE) set_checkbox_state(dialog, i.coop_toggle_id, cooperative(ngd));
    if (i.gameplay_version_control_id != NONE)
    {
        set_gameplay_selector_value(dialog, i.gameplay_version_control_id, ngd->gameplay_selector_value);
        ngd->gameplay_selector_value = (int16_t)get_gameplay_selector_value(dialog, i.gameplay_version_control_id);
    }
    if (i.mapset_filter_id != NONE && i.mapset_list_id != NONE)
        set_plugin_list_filter_control(dialog, i.mapset_list_id, i.mapset_filter_id);
    if (i.difficulty_selector_id != NONE) set_double_arrow_direction(dialog, i.difficulty_selector_id, true);

    ngd_rebuild_map_list(ngd, true);
    ngd_on_map_changed(ngd);
}

static void set_difficulty(ngd_data *ngd, int32_t level)
{
    if (level < 0 || level >= NUMBER_OF_DIFFICULTY_LEVELS) return;
    ngd->params->difficulty_level = (int16_t)level;
    show_difficulty_explanation(ngd);
}

int16_t ngd_itemhit(ngd_data *ngd, int16_t plugin_dialog_mode)
{
    dialog_data *dialog = ngd->dialog;
    const int16_t item = modal_dialog(dialog);
    const ngd_items &i = ngd->items;
    if (item == NONE) return NONE;
    if (item == i.mapset_label_id)
    {
        game_preferences *preferences = get_game_preferences();
        preferences->flags ^= _game_pref_alphabetical_mapset_sorting_flag;
        if (i.mapset_list_id != NONE)
            set_plugin_list_sort_method(dialog, i.mapset_list_id,
                                        (preferences->flags & _game_pref_alphabetical_mapset_sorting_flag) != 0);
    }
    else if (item == i.coop_toggle_id)
    {
        const bool was = cooperative(ngd);
        const bool now = get_checkbox_state(dialog, i.coop_toggle_id);
        SET_FLAG(ngd->params->option_flags, _game_option_cooperative_bit, now);
        if (was != (now != key_down(_key_backquote)))
        {
            ngd_rebuild_map_list(ngd, true);
            if (i.mapset_filter_id != NONE && i.mapset_list_id != NONE)
                refilter_plugin_list_now(dialog, i.mapset_list_id, i.mapset_filter_id);
            ngd_on_map_changed(ngd);
        }
    }
    else if (item == i.map_list_id)
    {
        ngd_on_map_changed(ngd);
    }
    else if (item == i.mapset_list_id)
    {
        ngd_rebuild_map_list(ngd, false);
        ngd_on_map_changed(ngd);
    }
    else if (item == i.tagset_button_id)
    {
        // The choice dialog previews banners in the store's one preview
        // slot, discarding this dialog's art: it is hidden until shown again.
        for (int16_t art : {i.plugin_icon_id, i.plugin_banner_id})
            if (art != NONE)
            {
                set_bitmap_item_color(dialog, art, nullptr);
                bitmap_set_item_visible(dialog, art, false);
            }
        do_choose_plugins_dialog(ngd->params->plugin_data, plugin_dialog_mode);
        ngd_on_plugins_changed(ngd);
        ngd_on_map_changed(ngd);
    }
    else if (item == i.difficulty_list_id)
    {
        set_difficulty(ngd, get_string_list_selected_identifier(dialog, i.difficulty_list_id));
    }
    else if (item == i.difficulty_selector_id)
    {
        set_difficulty(ngd, get_enum_selector_value(dialog, i.difficulty_selector_id, difficulty_level_selector_data));
    }
    else if (item == i.vvux_checkbox_id || item == i.anticlump_checkbox_id)
    {
        // One gameplay at a time: ticking one clears the other; both may be off.
        const int16_t other = item == i.vvux_checkbox_id ? i.anticlump_checkbox_id : i.vvux_checkbox_id;
        if (other != NONE && get_checkbox_state(dialog, item)) set_checkbox_state(dialog, other, false);
        SET_FLAG(ngd->params->option_flags, _game_option_uses_vux_bit,
                 i.vvux_checkbox_id != NONE && get_checkbox_state(dialog, i.vvux_checkbox_id));
        SET_FLAG(ngd->params->option_flags, _game_option_uses_anticlump_bit,
                 i.anticlump_checkbox_id != NONE && get_checkbox_state(dialog, i.anticlump_checkbox_id));
    }
    else if (item == i.gameplay_version_control_id)
    {
        ngd->gameplay_selector_value = (int16_t)get_gameplay_selector_value(dialog, i.gameplay_version_control_id);
    }
    return item;
}

void ngd_dispose(ngd_data *ngd)
{
    if (!ngd || !ngd->dialog) return;
    tag_file_collection_close_temporary(-1);
    dispose_dialog(ngd->dialog);
    ngd->dialog = nullptr;
}

// ---- the dialogs ----------------------------------------------------------------

int16_t vvux_query_dialog(const char *message)
{
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(VUX_QUERY_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "the vux warning 'vvux' cannot be read: cancelled");
        return _vvux_cancel_item;
    }
    dialog_data *dialog = new_dialog(VUX_QUERY_DIALOG_TAG, nullptr, nullptr, NONE,
                                     _dialog_has_bevel_flag | _dialog_is_centered_flag);
    static const dialog_item_requirement items[] = {
        {_vvux_message_item, STATIC_TEXT_CONTROL_TAG},
        {_vvux_use_vux_item, BUTTON_CONTROL_TAG},
        {_vvux_use_anticlump_item, BUTTON_CONTROL_TAG},
        {_vvux_cancel_item, BUTTON_CONTROL_TAG},
    };
    if (dialog && !dialog_has_items(dialog, items, (int32_t)(sizeof(items) / sizeof(items[0]))))
    {
        dispose_dialog(dialog);
        dialog = nullptr;
    }
    if (!dialog) return _vvux_cancel_item;
    const int32_t background = get_collection_index(WAIT_DIALOG_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    set_bitmap_dialog_static_item_text(dialog, _vvux_message_item, message ? message : "");
    set_default_dialog_item(dialog, _vvux_use_anticlump_item);
    set_dialog_cancel_item(dialog, _vvux_cancel_item);
    int16_t answer;
    do answer = modal_dialog(dialog);
    while (answer != _vvux_use_vux_item && answer != _vvux_use_anticlump_item && answer != _vvux_cancel_item &&
           answer != NONE);
    dispose_dialog(dialog);
    return answer == NONE ? (int16_t)_vvux_cancel_item : answer;
}

dialog_data *open_new_game_dialog(ngd_data *ngd, new_game_parameter_data *working)
{
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(NEW_GAME_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "the new-game dialog '!new' cannot be read");
        return nullptr;
    }
    dialog_data *dialog = new_dialog(NEW_GAME_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    static const dialog_item_requirement items[] = {
        {_new_game_ok_item, BUTTON_CONTROL_TAG},
        {_new_game_cancel_item, BUTTON_CONTROL_TAG},
        {_new_game_map_list_item, ENTRY_POINT_LIST_CONTROL_TAG},
    };
    if (dialog && !dialog_has_items(dialog, items, (int32_t)(sizeof(items) / sizeof(items[0]))))
    {
        dispose_dialog(dialog);
        dialog = nullptr;
    }
    if (!dialog) return nullptr;
    const int32_t background = get_collection_index(NEW_GAME_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);

    const game_preferences *preferences = get_game_preferences();
    *working = preferences->solo_new_game_params;
    working->option_flags |= _game_option_cooperative_flag;
    static const ngd_items solo_items = {
        NONE,
        _new_game_map_list_item,
        _new_game_mapset_label_item,
        _new_game_mapset_list_item,
        _new_game_mapset_filter_item,
        _new_game_tagset_list_item,
        _new_game_tagset_button_item,
        _new_game_plugin_icon_item,
        _new_game_plugin_banner_item,
        _new_game_difficulty_list_item,
        _new_game_difficulty_selector_item,
        _new_game_difficulty_explanation_item,
        _new_game_anticlump_checkbox_item,
        _new_game_vvux_checkbox_item,
        NONE,
    };
    ngd_init(ngd, dialog, working, false, preferences->chosen_solo_mapset_checksum, -1, &solo_items);
    set_dialog_focus(dialog, _new_game_map_list_item);
    set_default_dialog_item(dialog, _new_game_ok_item);
    set_dialog_cancel_item(dialog, _new_game_cancel_item);
    return dialog;
}

bool new_game_dialog(new_game_data *data)
{
    if (!data) return false;
    new_game_parameter_data working;
    ngd_data ngd;
    if (!open_new_game_dialog(&ngd, &working)) return false;
    game_preferences *preferences = get_game_preferences();

    int16_t item;
    do item = ngd_itemhit(&ngd, NEW_GAME_PLUGIN_DIALOG_MODE);
    while (item != _new_game_ok_item && item != _new_game_cancel_item && item != NONE);

    const bool accepted = item == _new_game_ok_item;
    new_game_parameter_data built;
    const bool ok = ngd_build_game(&ngd, &built, NONE, accepted);
    if (ok)
    {
        // Kept for next time, whether the player went on or not.
        preferences->solo_new_game_params = working;
        preferences->solo_gameplay_selector_value = ngd.gameplay_selector_value;
        preferences->chosen_solo_mapset_checksum = ngd.chosen_mapset_checksum;
        write_game_preferences();
        if (accepted) data->parameters = built;
    }
    ngd_dispose(&ngd);
    return accepted && ok;
}

// A single-player game: the player and the computer's side, as every
// single-player map is made for.
static void build_single_player_game(new_game_data *data, const new_game_parameter_data *parameters)
{
    get_default_new_game_data(data, _game_type_local, parameters->scenario_tag);
    data->parameters = *parameters;
    data->parameters.type = _game_type_local;
    data->parameters.random_seed = machine_tick_count();
    data->player_count = 2;
    data->local_player_index = 0;
    for (int16_t i = 0; i < 2; ++i)
    {
        new_player_data *player = &data->players[i];
        player->team_index = i;
        player->type = i == 0 ? _player_is_human : _player_is_computer;
        player->unique_identifier = i + 1;
        player->team_captain_identifier = i + 1;
        player->version = CURRENT_VERSION_IDENTIFIER;
        player->build_number = CURRENT_BUILD_NUMBER;
        slprintf(player->appearance.name, sizeof(player->appearance.name), "Player %d", i + 1);
    }
}

void enter_new_game_state(void)
{
    new_game_data data;
    get_default_new_game_data(&data, _game_type_local, NONE);
    if (!new_game_dialog(&data))
    {
        set_game_state(_game_state_displaying_main_menu);
        return;
    }
    new_game_data game;
    build_single_player_game(&game, &data.parameters);
    set_next_game_data(&game);
    // A campaign level begins with its story (the game itself without one).
    set_game_state(_game_state_displaying_mesh_prologue);
}
