// The carnage report.

#include "vesk/game_statistics.h"

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/carnage_header_control.h"
#include "bitmap_dialogs/carnage_stats_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/private_lists.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "game_records.h"
#include "game_time.h"
#include "shapes.h"
#include "tag_files/tag_files.h"

enum
{
    _carnage_button_flags = 2,
    _carnage_button_sequence = 10, // 'baie': the tiny locking button
};

static struct carnage_report_globals
{
    dialog_data *dialog;
    void (*after_close)(void);
    bool paused_here; // the game was running when the report paused it
    int16_t view_type;
    bool view_is_graph;
    int32_t opened_at; // the local time
} carnage_report_globals;

static_assert(CARNAGE_REPORT_SETTLE_TICKS == GAME_TICKS_PER_SECOND, "the report settles for a second");

static const postgame_view_items carnage_view_items = {_carnage_list_item, _carnage_graph_item, _carnage_header_item,
                                                      _carnage_first_statistics_button};

bool postgame_view_is_valid(int16_t view)
{
    if (view < 0 || view >= NUMBER_OF_POSTGAME_VIEWS) return false;
    return view < 2 ? stats_type_is_valid(view) : graph_type_is_valid((int16_t)(view - 2));
}

bool show_postgame_view(dialog_data *dialog, const postgame_view_items *items, int16_t view)
{
    if (!postgame_view_is_valid(view)) return false;
    const bool graph = view >= 2;
    const int16_t type = graph ? (int16_t)(view - 2) : view;
    if (dialog_has_item(dialog, items->list))
    {
        bitmap_set_item_visible(dialog, items->list, !graph);
        if (!graph) set_carnage_stats_type(dialog, items->list, type);
    }
    if (dialog_has_item(dialog, items->graph))
    {
        bitmap_set_item_visible(dialog, items->graph, graph);
        if (graph) set_carnage_graph_type(dialog, items->graph, type);
    }
    if (dialog_has_item(dialog, items->header)) set_carnage_header_type(dialog, items->header, type, graph);
    for (int16_t i = 0; i < NUMBER_OF_POSTGAME_VIEWS; ++i)
    {
        const int16_t button = (int16_t)(items->first_button + i);
        if (dialog_has_item(dialog, button)) set_button_control_state(dialog, button, i == view ? 1 : 0);
    }
    return true;
}

static bool button_is_valid(int16_t item) { return postgame_view_is_valid((int16_t)(item - _carnage_first_statistics_button)); }

static bool has_item(const dialog_data *dialog, int16_t item) { return dialog_has_item(dialog, item); }

// Shows the view of button `item` and makes exactly that button pressed.
static void show_view(dialog_data *dialog, int16_t item)
{
    const int16_t view = (int16_t)(item - _carnage_first_statistics_button);
    if (!show_postgame_view(dialog, &carnage_view_items, view)) return;
    carnage_report_globals.view_is_graph = view >= 2;
    carnage_report_globals.view_type = view >= 2 ? (int16_t)(view - 2) : view;
}

void carnage_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *)
{
    if (item_id == _carnage_close_item)
    {
        // Return pressed in the battle's last seconds, or as the report opens,
        // reaches it with its first frames: it would skip a report never seen.
        // Counted on the local clock, which the input timer moves in the game
        // and each frame moves in vesk_shot: a tool drawing thousands of
        // frames a second still sees the report close when its script asks.
        if (game_->local_time.load() - carnage_report_globals.opened_at >= CARNAGE_REPORT_SETTLE_TICKS)
            close_postgame_carnage_report_dialog();
    }
    else if (item_id >= _carnage_first_statistics_button && item_id <= _carnage_last_button)
        show_view(dialog, item_id);
}

void lay_out_carnage_report_dialog(dialog_data *dialog)
{
    if (has_item(dialog, _carnage_list_item))
        bitmap_set_list_flag(dialog, _carnage_list_item, _list_has_shaded_background_flag, true);
    const int32_t background = get_collection_index(POSTGAME_CARNAGE_REPORT_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    for (int16_t button = _carnage_first_statistics_button; button <= _carnage_last_button; ++button)
    {
        if (!has_item(dialog, button)) continue;
        set_button_control_flags(dialog, button, _carnage_button_flags);
        if (elements != NONE)
        {
            set_button_control_shape(dialog, button, (int16_t)elements, _carnage_button_sequence);
            set_button_control_number_of_states(dialog, button, 2);
        }
        bitmap_set_item_enabled(dialog, button, button_is_valid(button));
    }
}

bool open_postgame_carnage_report_dialog(void (*after_close)(void))
{
    if (carnage_report_globals.dialog) return true;
    // new_dialog treats a missing tag as fatal: checked first.
    if (tag_file_open(DIALOG_GROUP_TAG, POSTGAME_CARNAGE_REPORT_DIALOG_TAG) == NONE)
    {
        log_message(__FILE__, __LINE__, "no carnage report '%s': the game goes on to what follows it",
                    tag_to_string(POSTGAME_CARNAGE_REPORT_DIALOG_TAG));
        return false;
    }
    dialog_data *dialog =
        new_dialog(POSTGAME_CARNAGE_REPORT_DIALOG_TAG, carnage_dialog_handler_proc, nullptr, NONE, _dialog_is_centered_flag);
    if (!dialog) return false;
    if (!has_item(dialog, _carnage_close_item))
    {
        log_message(__FILE__, __LINE__, "the carnage report '%s' has no close item: not shown",
                    tag_to_string(POSTGAME_CARNAGE_REPORT_DIALOG_TAG));
        dispose_dialog(dialog);
        return false;
    }
    set_default_dialog_item(dialog, _carnage_close_item);
    lay_out_carnage_report_dialog(dialog);
    carnage_report_globals.dialog = dialog;
    carnage_report_globals.after_close = after_close;
    carnage_report_globals.opened_at = game_->local_time.load();
    show_view(dialog, _carnage_first_statistics_button);
    carnage_report_globals.paused_here = !game_is_paused();
    if (carnage_report_globals.paused_here) pause_game(true);
    return true;
}

void close_postgame_carnage_report_dialog(void)
{
    dialog_data *dialog = carnage_report_globals.dialog;
    if (!dialog) return;
    void (*after_close)(void) = carnage_report_globals.after_close;
    carnage_report_globals.dialog = nullptr;
    carnage_report_globals.after_close = nullptr;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    if (carnage_report_globals.paused_here) pause_game(false);
    carnage_report_globals.paused_here = false;
    if (after_close) after_close();
}

bool postgame_carnage_report_dialog_is_open(void) { return carnage_report_globals.dialog != nullptr; }
dialog_data *get_postgame_carnage_report_dialog(void) { return carnage_report_globals.dialog; }

void get_carnage_report_view(int16_t *type, bool *graph)
{
    *type = carnage_report_globals.view_type;
    *graph = carnage_report_globals.view_is_graph;
}
