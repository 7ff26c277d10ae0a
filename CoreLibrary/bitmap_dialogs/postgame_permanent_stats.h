#pragma once
// The lasting rankings over the games of a session, as rows of the carnage
// report's statistics list ('cstt', type 1): score, name, the three places,
// kills, damage and casualties.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "statistics.h"

// Rows 0 and 1 the name and score headers, 2 kills, 3 damage, 4 casualties,
// 5 to 7 the three places.
#define PERMANENT_STATS_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', '0', '1')

enum
{
    PERMANENT_STATS_SCORE_WIDTH = 40,
    MINIMUM_PERMANENT_NAME_WIDTH = 90,
};

struct permanent_stats_widths
{
    int16_t kills, damage, casualties, place[NUMBER_OF_PERMANENT_STANDINGS], name;
};
const permanent_stats_widths *get_permanent_stats_widths(void);

// The rows of the lasting rankings (players that are no observer, people and
// computers, not rejoined, with the rankings that rejoined as them added) into
// `rows`, the columns widened and the name fitted into `item_width`; the count.
int32_t build_permanent_stats_rows(int32_t item_width, permanent_player_ranking_data *rows, int32_t maximum);

void rebuild_postgame_permanent_stats_list(dialog_data *dialog, int16_t item_id);
void draw_permanent_player_rankings_proc(bitmap_data *destination, const rectangle2d *row_bounds,
                                         const rectangle2d *clip, const void *data, int16_t length, int16_t font_id,
                                         uint16_t flags);
void draw_permanent_stats_header(bitmap_data *destination, const rectangle2d *bounds);
