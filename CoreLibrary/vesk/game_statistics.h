#pragma once
// The carnage report ('bina' tag 'pocr'): opened over the game when it ends,
// it pauses the game and shows a statistics list or one of the graphs of the
// game's course, with a header above.  One at a time, modeless: the game's
// main loop keeps drawing it while the game stands still.
//
// Items: 1 close (the default item), 2 the statistics list, 3 the graph, 4
// the header; 5 and 6 show the statistics of types 0 and 1, 7 to 11 the
// graphs of types 0 to 4 (exactly one of them pressed).
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct action_data;
struct dialog_data;

#define POSTGAME_CARNAGE_REPORT_DIALOG_TAG FOUR_CHARACTER_CODE('p', 'o', 'c', 'r')
#define POSTGAME_CARNAGE_REPORT_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'f', 's')

enum carnage_report_item
{
    _carnage_close_item = 1,
    _carnage_list_item = 2,
    _carnage_graph_item = 3,
    _carnage_header_item = 4,
    _carnage_first_statistics_button = 5, // 5, 6: statistics types 0, 1
    _carnage_first_graph_button = 7,      // 7-11: graph types 0-4
    _carnage_last_button = 11,
};

// The close item does nothing until the report has been open this long, in
// ticks of the local clock: a second of the input timer in the game, a
// second's worth of frames in a tool that draws frame by frame.
constexpr int32_t CARNAGE_REPORT_SETTLE_TICKS = 30;

// What the report's code gives its tag's layout: the list's shaded ground,
// the parchment, the view buttons' tiny locking pictures and their enabling.
// The report calls it as it opens; the layout test too.
void lay_out_carnage_report_dialog(dialog_data *dialog);

// Opens the report over the game and pauses it; `after_close` (may be null)
// runs once it has closed.  True when it opened or was open already; false
// (logged) when its tag is missing or damaged, and `after_close` is not kept.
bool open_postgame_carnage_report_dialog(void (*after_close)(void));
// Closes it (nothing when closed): the game resumes, then `after_close` runs.
void close_postgame_carnage_report_dialog(void);
bool postgame_carnage_report_dialog_is_open(void);
dialog_data *get_postgame_carnage_report_dialog(void);

// The dialog's handler: item 1 closes, 5 to 11 show their view.
void carnage_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action);

// The view shown: `graph` false for a statistics list of `type`, true for a graph.
void get_carnage_report_view(int16_t *type, bool *graph);

// The views of a post-game report (the carnage report's, the network
// endgame's): 0 and 1 the two statistics lists, 2 to 6 the five graphs, each
// chosen by a button of a run of seven.
enum
{
    NUMBER_OF_POSTGAME_VIEWS = 7,
};
struct postgame_view_items
{
    int16_t list;         // the statistics list
    int16_t graph;        // the graph
    int16_t header;       // the header above them
    int16_t first_button; // the first of the seven buttons
};
bool postgame_view_is_valid(int16_t view);
// Shows `view` (the items the dialog lacks skipped) and makes its button
// alone pressed; false, with nothing changed, for a view without data.
bool show_postgame_view(dialog_data *dialog, const postgame_view_items *items, int16_t view);
