// The lasting rankings.

#include "bitmap_dialogs/postgame_permanent_stats.h"

#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/carnage_stats_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "interface_definitions.h"
#include "players.h"
#include "shapes.h"
#include "vesk/string_lists.h"

enum
{
    _permanent_stats_font = 0,
    TEXT_FLAGS = _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag | _draw_string_shadow_flag,
    NAME_FLAGS = _draw_string_center_vertical_flag | _draw_string_shadow_flag,
    COLUMN_GAP = 5,
    PERMANENT_ITEM_WIDTH_MARGIN = 75,
    TEXT_SIZE = 64,
    LINE_HEIGHT = 21,
    BAND_INSET = 2,
    MAXIMUM_PERMANENT_ROWS = 256,
};

static struct permanent_stats_globals
{
    permanent_stats_widths widths;
} permanent_stats_globals;

const permanent_stats_widths *get_permanent_stats_widths(void) { return &permanent_stats_globals.widths; }

static const char *header(int32_t row)
{
    return get_string_from_list(string_list_tag_to_string_index(PERMANENT_STATS_STRING_LIST_TAG), row);
}

// People and computers alike, as in the statistics of the game just played.
static bool is_listed(const permanent_player_ranking_data *ranking)
{
    if (ranking->rejoined_as_player_index != NONE) return false;
    const player_data *player = player_or_null(ranking->player_index);
    return player && !(player->flags & (1u << _player_is_observer_bit));
}

int32_t build_permanent_stats_rows(int32_t item_width, permanent_player_ranking_data *rows, int32_t maximum)
{
    permanent_stats_widths *w = &permanent_stats_globals.widths;
    w->kills = carnage_stats_text_width(header(2));
    w->damage = carnage_stats_text_width(header(3));
    w->casualties = carnage_stats_text_width(header(4));
    for (int32_t p = 0; p < NUMBER_OF_PERMANENT_STANDINGS; ++p) w->place[p] = carnage_stats_text_width(header(5 + p));

    int32_t ranking_count = 0;
    const permanent_player_ranking_data *rankings = get_permanent_player_rankings(&ranking_count);
    int32_t count = 0;
    for (int32_t i = 0; rankings && i < ranking_count && count < maximum; ++i)
    {
        if (!is_listed(&rankings[i])) continue;
        permanent_player_ranking_data *row = &rows[count++];
        *row = rankings[i];
        for (int32_t j = 0; j < ranking_count; ++j)
        {
            if (j == i || rankings[j].rejoined_as_player_index != rankings[i].player_index) continue;
            row->score += rankings[j].score;
            row->casualty_count += rankings[j].casualty_count;
            row->total_kill_count += rankings[j].total_kill_count;
            row->total_damage += rankings[j].total_damage;
        }
        char text[TEXT_SIZE];
        snprintf(text, sizeof(text), "%d", (int)row->total_kill_count);
        widen_carnage_stats_column(&w->kills, text);
        widen_carnage_stats_column(&w->damage, format_damage_string(row->total_damage, text, sizeof(text)));
        snprintf(text, sizeof(text), "%d", (int)row->casualty_count);
        widen_carnage_stats_column(&w->casualties, text);
        for (int32_t p = 0; p < NUMBER_OF_PERMANENT_STANDINGS; ++p)
        {
            snprintf(text, sizeof(text), "%d", (int)row->standings[p]);
            widen_carnage_stats_column(&w->place[p], text);
        }
    }
    w->kills = (int16_t)(w->kills + COLUMN_GAP);
    w->damage = (int16_t)(w->damage + COLUMN_GAP);
    w->casualties = (int16_t)(w->casualties + COLUMN_GAP);
    int32_t name = item_width - PERMANENT_ITEM_WIDTH_MARGIN - w->kills - w->damage - w->casualties;
    for (int32_t p = 0; p < NUMBER_OF_PERMANENT_STANDINGS; ++p)
    {
        w->place[p] = (int16_t)(w->place[p] + COLUMN_GAP);
        name -= w->place[p] + COLUMN_GAP;
    }
    w->name = (int16_t)(name < MINIMUM_PERMANENT_NAME_WIDTH ? MINIMUM_PERMANENT_NAME_WIDTH
                        : name > INT16_MAX                  ? INT16_MAX
                                                            : name);
    return count;
}

// The cells of a row (null: the header), left to right, 5 pixels apart.
static void draw_cells(bitmap_data *destination, const rectangle2d *bounds, const rectangle2d *clip,
                       const permanent_player_ranking_data *row)
{
    const permanent_stats_widths *w = &permanent_stats_globals.widths;
    const int32_t font = get_interface_font_index(_permanent_stats_font);
    if (font == NONE) return;
    const player_data *player = row ? player_or_null(row->player_index) : nullptr;
    char texts[8][TEXT_SIZE];
    int16_t widths[8];
    uint32_t flags[8];
    int32_t n = 0;
    auto add = [&](int16_t width, uint32_t cell_flags) -> char * {
        widths[n] = width;
        flags[n] = cell_flags;
        texts[n][0] = 0;
        return texts[n++];
    };
    char *text = add(PERMANENT_STATS_SCORE_WIDTH, TEXT_FLAGS);
    if (row) snprintf(text, TEXT_SIZE, "%2.2f", (double)row->score / 65536.0);
    else strlcpy(text, header(1), TEXT_SIZE);
    text = add(w->name, NAME_FLAGS);
    strlcpy(text, row ? (player ? player->appearance.name : "") : header(0), TEXT_SIZE);
    for (int32_t p = 0; p < NUMBER_OF_PERMANENT_STANDINGS; ++p)
    {
        text = add(w->place[p], TEXT_FLAGS);
        if (row) snprintf(text, TEXT_SIZE, "%d", (int)row->standings[p]);
        else strlcpy(text, header(5 + p), TEXT_SIZE);
    }
    text = add(w->kills, TEXT_FLAGS);
    if (row) snprintf(text, TEXT_SIZE, "%d", (int)row->total_kill_count);
    else strlcpy(text, header(2), TEXT_SIZE);
    text = add(w->damage, TEXT_FLAGS);
    if (row) format_damage_string(row->total_damage, text, TEXT_SIZE);
    else strlcpy(text, header(3), TEXT_SIZE);
    text = add(w->casualties, TEXT_FLAGS);
    if (row) snprintf(text, TEXT_SIZE, "%d", (int)row->casualty_count);
    else strlcpy(text, header(4), TEXT_SIZE);

    int32_t x = bounds->left;
    for (int32_t i = 0; i < n; ++i)
    {
        int32_t right = x + widths[i];
        if (clip && right > clip->right) right = clip->right;
        if (x < right && texts[i][0])
        {
            const rectangle2d cell = {bounds->top, (int16_t)x, bounds->bottom, (int16_t)right};
            draw_string(destination, nullptr, &cell, clip, font, 0, &rgb_white, texts[i], flags[i], 0);
        }
        x += widths[i] + COLUMN_GAP;
    }
}

void draw_permanent_player_rankings_proc(bitmap_data *destination, const rectangle2d *row_bounds,
                                         const rectangle2d *clip, const void *data, int16_t length, int16_t, uint16_t)
{
    if (!data || length != (int16_t)sizeof(permanent_player_ranking_data)) return;
    permanent_player_ranking_data row;
    memcpy(&row, data, sizeof(row));
    const player_data *player = player_or_null(row.player_index);
    rectangle2d inset = *row_bounds;
    inset.top = (int16_t)(inset.top + BAND_INSET);
    inset.bottom = (int16_t)(inset.bottom - BAND_INSET);
    fill_rectangle_clipped(destination, player ? &player->appearance.primary_color : &rgb_neutral_grey, &inset, clip, 32768,
                           get_transparency_table(_transparency_normal));
    draw_cells(destination, row_bounds, clip, &row);
}

void draw_permanent_stats_header(bitmap_data *destination, const rectangle2d *bounds)
{
    draw_cells(destination, bounds, bounds, nullptr);
}

void rebuild_postgame_permanent_stats_list(dialog_data *dialog, int16_t item_id)
{
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, item_id, &bounds);
    bitmap_empty_list(dialog, item_id);
    bitmap_set_list_draw_proc(dialog, item_id, draw_permanent_player_rankings_proc);
    static permanent_player_ranking_data rows[MAXIMUM_PERMANENT_ROWS];
    const int32_t count = build_permanent_stats_rows(bounds.right - bounds.left, rows, MAXIMUM_PERMANENT_ROWS);
    for (int32_t i = 0; i < count; ++i)
        bitmap_add_data_to_list(dialog, item_id, &rows[i], (int16_t)sizeof(rows[i]), LINE_HEIGHT, true);
}
