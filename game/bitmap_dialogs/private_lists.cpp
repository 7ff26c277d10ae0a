// The list engine: rows, selection, sorting, scrolling and the scroll bar.

#include "bitmap_dialogs/private_lists.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "collection_services.h"
#include "cseries/log.h"
#include "cseries/sorting.h"
#include "cseries/timers.h"
#include "interface_definitions.h"
#include "shapes.h"

static struct
{
    // The list sort_list is ordering, for the comparison (which has no context).
    private_list_data *current_list_being_sorted;
} private_lists_globals;

// ---- checks --------------------------------------------------------------------

static bool list_is_good(const private_list_data *list)
{
    if (list && list->cookie == LIST_COOKIE) return true;
    char text[64];
    snprintf(text, sizeof(text), "List at 0x%" PRIxPTR " is bad!", (uintptr_t)list);
    assertion_failed(__FILE__, __LINE__, _assertion_vassert, "list && (list->cookie== LIST_COOKIE)", text);
    return false;
}

static bool row_is_good(const private_list_data *list, int32_t row)
{
    return VASSERT(row >= 0 && row < list->actual_row_count, "row>=0 && row<list->actual_row_count");
}

// ---- row storage -----------------------------------------------------------------
// Rows live in order in blocks of at most ROW_BLOCK_CAPACITY, so an insertion
// or a removal moves the rows of one block only, never the whole list (a
// sorted list filled in no particular order used to move half of it on every
// add).  A row is found by its index through the blocks' first indexes: the
// block of the previous lookup or the next one first (walks go in order),
// else a binary search.  No block is empty.  Beside each row its sort
// summary, when the list has a summary procedure and the row a summary, or
// zero (which always defers to the sort procedure, so a true summary of zero
// costs only speed).

enum
{
    ROW_BLOCK_CAPACITY = 128,
    // Copies of the list's usual row length come from chunks of this many.
    ROW_COPY_CHUNK_SLOTS = 64,
    ROW_COPY_ALIGNMENT = 16,
    // Neighbours holding this few rows together are merged, so that deletions
    // cannot leave a long trail of nearly empty blocks.
    ROW_BLOCK_MERGE_COUNT = ROW_BLOCK_CAPACITY / 2,
};

struct row_block
{
    int32_t count;
    row_data rows[ROW_BLOCK_CAPACITY];
    list_sort_key keys[ROW_BLOCK_CAPACITY];
};

struct private_list_rows
{
    row_block **blocks;
    int32_t *first_rows; // the index of each block's first row
    int32_t block_count;
    int32_t allocated_block_count;
    int32_t last_block; // where the previous lookup found its row
    int32_t row_count;
    // The height an added row's slot had before any row: slot 0's height
    // while the list is empty (the line height, or the last row deleted).
    int16_t empty_slot_height;

    // Rows' copies.  Rows of a list are mostly of one length: the first copy
    // of at least a pointer's size fixes `copy_length`, and every copy of that
    // length comes from chunks of slots (a freed slot holds the next free
    // one), all freed with the list; other lengths are allocated alone.
    int32_t copy_length;
    struct row_copy_chunk *copy_chunks;
    uint8_t *next_copy_slot;
    int32_t copy_slots_left;
    void *free_copy_slots;
};

struct alignas(ROW_COPY_ALIGNMENT) row_copy_chunk
{
    row_copy_chunk *next;
};

// One row's place in the blocks.
struct row_place
{
    int32_t block;
    int32_t offset;
};

static private_list_rows *new_row_store(void)
{
    return (private_list_rows *)calloc(1, sizeof(private_list_rows));
}

static int32_t copy_slot_size(const private_list_rows *store)
{
    return (store->copy_length + ROW_COPY_ALIGNMENT - 1) / ROW_COPY_ALIGNMENT * ROW_COPY_ALIGNMENT;
}

// Whether a copy of `length` bytes lives in a slot (its length is fixed).
static bool copy_is_in_slot(const private_list_rows *store, int16_t length)
{
    return store->copy_length > 0 && length == store->copy_length;
}

// Room for a row's copy of `length` bytes; NULL when memory runs out.
static void *new_row_copy(private_list_rows *store, int16_t length)
{
    if (store->copy_length == 0 && length >= (int16_t)sizeof(void *)) store->copy_length = length;
    if (!copy_is_in_slot(store, length)) return malloc(length > 0 ? (size_t)length : 1);
    if (store->free_copy_slots)
    {
        void *slot = store->free_copy_slots;
        memcpy(&store->free_copy_slots, slot, sizeof(void *));
        return slot;
    }
    if (store->copy_slots_left == 0)
    {
        const size_t size = sizeof(row_copy_chunk) + (size_t)ROW_COPY_CHUNK_SLOTS * (size_t)copy_slot_size(store);
        row_copy_chunk *chunk = (row_copy_chunk *)malloc(size);
        if (!chunk) return nullptr;
        chunk->next = store->copy_chunks;
        store->copy_chunks = chunk;
        store->next_copy_slot = (uint8_t *)(chunk + 1);
        store->copy_slots_left = ROW_COPY_CHUNK_SLOTS;
    }
    void *slot = store->next_copy_slot;
    store->next_copy_slot += copy_slot_size(store);
    --store->copy_slots_left;
    return slot;
}

// Gives back a copy made by new_row_copy with the same length.
static void dispose_row_copy(private_list_rows *store, void *copy, int16_t length)
{
    if (!copy) return;
    if (!copy_is_in_slot(store, length))
    {
        free(copy);
        return;
    }
    memcpy(copy, &store->free_copy_slots, sizeof(void *));
    store->free_copy_slots = copy;
}

static void dispose_row_store(private_list_rows *store)
{
    while (store->copy_chunks)
    {
        row_copy_chunk *next = store->copy_chunks->next;
        free(store->copy_chunks);
        store->copy_chunks = next;
    }
    for (int32_t b = 0; b < store->block_count; ++b) free(store->blocks[b]);
    free(store->blocks);
    free(store->first_rows);
    free(store);
}

// The place of `row`, which lies in one of the blocks `low_block` to
// `high_block`: the last of them starting at or before it (a search without
// branches on the data, which a binary search would mispredict half the time).
static row_place find_row_between(private_list_rows *store, int32_t row, int32_t low_block, int32_t high_block)
{
    const int32_t *base = &store->first_rows[low_block];
    for (int32_t n = high_block - low_block + 1; n > 1;)
    {
        const int32_t half = n / 2;
        base = base[half] <= row ? base + half : base;
        n -= half;
    }
    const int32_t b = (int32_t)(base - store->first_rows);
    store->last_block = b;
    return row_place{b, row - *base};
}

// `row` must lie in [0, row_count).  Only the directory is read, never the
// blocks themselves.
static row_place find_row(private_list_rows *store, int32_t row)
{
    const int32_t *first_rows = store->first_rows;
    const int32_t count = store->block_count;
    for (int32_t b = store->last_block; b < count && b <= store->last_block + 1; ++b)
    {
        if (row < first_rows[b]) break;
        const int32_t end = b + 1 < count ? first_rows[b + 1] : store->row_count;
        if (row < end)
        {
            store->last_block = b;
            return row_place{b, row - first_rows[b]};
        }
    }
    // The ends of the list are read on every change (the first row's top, the
    // last row's bottom).
    if (row >= first_rows[count - 1]) return row_place{count - 1, row - first_rows[count - 1]};
    if (count > 1 && row < first_rows[1]) return row_place{0, row};
    return find_row_between(store, row, 0, count - 1);
}

static row_data *row_at(const private_list_data *list, int32_t row)
{
    const row_place place = find_row(list->rows, row);
    return &list->rows->blocks[place.block]->rows[place.offset];
}

// Room in the directory for one more block; false when memory runs out.
static bool reserve_block(private_list_rows *store)
{
    if (store->block_count < store->allocated_block_count) return true;
    const int32_t grown = store->allocated_block_count ? 2 * store->allocated_block_count : 8;
    row_block **blocks = (row_block **)realloc(store->blocks, (size_t)grown * sizeof(row_block *));
    if (!blocks) return false;
    store->blocks = blocks;
    int32_t *first_rows = (int32_t *)realloc(store->first_rows, (size_t)grown * sizeof(int32_t));
    if (!first_rows) return false;
    store->first_rows = first_rows;
    store->allocated_block_count = grown;
    return true;
}

// Puts `block` into the directory at position `b`, its first row `first_row`.
static void insert_block(private_list_rows *store, int32_t b, row_block *block, int32_t first_row)
{
    const size_t after = (size_t)(store->block_count - b);
    memmove(&store->blocks[b + 1], &store->blocks[b], after * sizeof(row_block *));
    memmove(&store->first_rows[b + 1], &store->first_rows[b], after * sizeof(int32_t));
    store->blocks[b] = block;
    store->first_rows[b] = first_row;
    ++store->block_count;
}

static void remove_block(private_list_rows *store, int32_t b)
{
    free(store->blocks[b]);
    const size_t after = (size_t)(store->block_count - b - 1);
    memmove(&store->blocks[b], &store->blocks[b + 1], after * sizeof(row_block *));
    memmove(&store->first_rows[b], &store->first_rows[b + 1], after * sizeof(int32_t));
    --store->block_count;
    store->last_block = 0;
}

// Moves `count` rows of `block` from `from` to `to` (ranges may overlap).
static void move_block_rows(row_block *destination, int32_t to, const row_block *source, int32_t from, int32_t count)
{
    if (count <= 0) return;
    memmove(&destination->rows[to], &source->rows[from], (size_t)count * sizeof(row_data));
    memmove(&destination->keys[to], &source->keys[from], (size_t)count * sizeof(list_sort_key));
}

// Inserts the row at `index` (0 to the row count); false, with nothing
// changed, when memory runs out.
static bool store_insert_row(private_list_rows *store, int32_t index, const row_data *row, list_sort_key key)
{
    if (!reserve_block(store)) return false;
    int32_t b, offset;
    if (store->block_count == 0)
    {
        row_block *block = (row_block *)malloc(sizeof(row_block));
        if (!block) return false;
        block->count = 0;
        insert_block(store, 0, block, 0);
        b = 0;
        offset = 0;
    }
    else if (index == store->row_count)
    {
        b = store->block_count - 1;
        offset = store->blocks[b]->count;
    }
    else
    {
        const row_place place = find_row(store, index);
        b = place.block;
        offset = place.offset;
    }
    row_block *block = store->blocks[b];
    if (block->count == ROW_BLOCK_CAPACITY)
    {
        row_block *next = (row_block *)malloc(sizeof(row_block));
        if (!next) return false;
        // Past the end of a full block (rows coming in order): a new block;
        // otherwise its upper half moves to a new block after it.
        const int32_t kept = offset == ROW_BLOCK_CAPACITY ? ROW_BLOCK_CAPACITY : ROW_BLOCK_CAPACITY / 2;
        next->count = ROW_BLOCK_CAPACITY - kept;
        move_block_rows(next, 0, block, kept, next->count);
        block->count = kept;
        insert_block(store, b + 1, next, store->first_rows[b] + kept);
        if (offset >= kept)
        {
            ++b;
            offset -= kept;
            block = next;
        }
    }
    move_block_rows(block, offset + 1, block, offset, block->count - offset);
    block->rows[offset] = *row;
    block->keys[offset] = key;
    ++block->count;
    const int32_t block_count = store->block_count;
    for (int32_t i = b + 1; i < block_count; ++i) ++store->first_rows[i];
    ++store->row_count;
    store->last_block = b;
    return true;
}

// Removes the row at `index` from the blocks (its copy stays the caller's).
static void store_remove_row(private_list_rows *store, int32_t index)
{
    const row_place place = find_row(store, index);
    const int32_t b = place.block;
    row_block *block = store->blocks[b];
    if (store->row_count == 1) store->empty_slot_height = block->rows[place.offset].height;
    move_block_rows(block, place.offset, block, place.offset + 1, block->count - place.offset - 1);
    --block->count;
    const int32_t block_count = store->block_count;
    for (int32_t i = b + 1; i < block_count; ++i) --store->first_rows[i];
    --store->row_count;
    if (block->count == 0)
    {
        remove_block(store, b);
        return;
    }
    // Merge with a small neighbour: the later block's rows join the earlier's.
    for (int32_t first = b - 1; first <= b; ++first)
    {
        if (first < 0 || first + 1 >= store->block_count) continue;
        row_block *earlier = store->blocks[first];
        const row_block *later = store->blocks[first + 1];
        if (earlier->count + later->count > ROW_BLOCK_MERGE_COUNT) continue;
        move_block_rows(earlier, earlier->count, later, 0, later->count);
        earlier->count += later->count;
        remove_block(store, first + 1);
        return;
    }
}

// The row's sort summary by the list's summary procedure; zero for none.
static list_sort_key row_sort_key(const private_list_data *list, const void *data, int16_t length)
{
    list_sort_key key = {0, 0};
    if (!list->sort_key_proc || !list->sort_key_proc(data, length, &key)) return list_sort_key{0, 0};
    return key;
}

// -1 or 1 when two summaries put a before or after b; 0 when they cannot
// tell (equal, or either is zero) and the sort procedure must.
static int32_t compare_sort_keys(list_sort_key a, list_sort_key b)
{
    if (!(a.high | a.low) || !(b.high | b.low)) return 0;
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    return 0;
}

// Computes the row's summary again (its bytes or the procedure changed).
static void refresh_row_sort_key(const private_list_data *list, int32_t row)
{
    const row_place place = find_row(list->rows, row);
    row_block *block = list->rows->blocks[place.block];
    const row_data *r = &block->rows[place.offset];
    block->keys[place.offset] = row_sort_key(list, r->data, r->length);
}

// ---- derived quantities -----------------------------------------------------------

static int32_t view_height(const private_list_data *list)
{
    return (int32_t)list->bounds.bottom - list->bounds.top - 2 * (int32_t)list->vertical_gutter;
}

// ---- row positions ---------------------------------------------------------------
// A row's top is the sum of the visible heights above it.  Rows change near
// the top (sorted inserts in any order) far more often than anything reads
// the tops below, so tops are brought up to date only as far as they are
// read, from the first stale row on; the total of the visible heights is
// kept as rows come, go and change, which gives the content's height without
// a walk.

static int32_t row_visible_height(const row_data *row)
{
    return (row->flags & _row_visible_flag) ? row->height : 0;
}

// Rows from `row` on may have moved.
static void positions_change_from(private_list_data *list, int32_t row)
{
    if (row < 0) row = 0;
    if (row < list->first_stale_row) list->first_stale_row = row;
}

// The top of `row` (a row of the list), bringing the tops up to it up to date.
static int32_t row_top(const private_list_data *list, int32_t row)
{
    int32_t i = list->first_stale_row;
    if (row < i) return row_at(list, row)->height_in_list;
    int32_t y = 0;
    if (i > 0)
    {
        const row_data *previous = row_at(list, i - 1);
        y = previous->height_in_list + row_visible_height(previous);
    }
    int32_t top = 0;
    for (; i <= row; ++i)
    {
        row_data *r = row_at(list, i);
        r->height_in_list = top = y;
        y += row_visible_height(r);
    }
    list->first_stale_row = row + 1;
    return top;
}

// The top of the row after this one: its own bottom when visible, its top when hidden.
static int32_t visible_bottom(const private_list_data *list, int32_t row)
{
    return row_top(list, row) + row_visible_height(row_at(list, row));
}

// The last row's bottom, hidden or not.
static int32_t content_height(const private_list_data *list)
{
    if (list->actual_row_count <= 0) return 0;
    const row_data *last = row_at(list, list->actual_row_count - 1);
    return list->visible_rows_height - row_visible_height(last) + last->height;
}

static int32_t visible_rows_height(const private_list_data *list) { return list->visible_rows_height; }

// The top row is clamped first: deletions leave its index alone and it may
// name a vacated slot.
static int32_t scroll_position(const private_list_data *list)
{
    if (list->actual_row_count <= 0) return 0;
    int32_t top = list->top_visible_row;
    if (top < 0) top = 0;
    if (top >= list->actual_row_count) top = list->actual_row_count - 1;
    return row_top(list, top) + list->pixel_offset_within_row;
}

static void get_scrollbar_rectangle(const private_list_data *list, rectangle2d *scrollbar)
{
    *scrollbar = list->bounds;
    scrollbar->left = (int16_t)(list->bounds.right - SCROLL_BAR_WIDTH);
}

// Places the view at position p: never below 0, never past the last page.
static void scroll_to(private_list_data *list, int64_t p)
{
    const int64_t last_page = (int64_t)content_height(list) - view_height(list);
    if (p > last_page) p = last_page;
    if (p < 0) p = 0;
    // Visible bottoms never decrease along the rows, so the first row whose
    // visible bottom passes p is the first visible row that does.  Among the
    // rows whose tops hold a binary search finds it; past them the tops are
    // brought up to date one row at a time until it is found.
    const int32_t count = list->actual_row_count;
    // Mostly the view stays on its top row: that row is the answer when p
    // lies within it, as the rows above it end at or before its top.
    const int32_t top = list->top_visible_row;
    if (top >= 0 && top < count && (row_visible_height(row_at(list, top)) > 0) && row_top(list, top) <= p &&
        p < visible_bottom(list, top))
    {
        list->pixel_offset_within_row = (int32_t)(p - row_top(list, top));
        return;
    }
    const int32_t fresh = list->first_stale_row < count ? list->first_stale_row : count;
    int32_t low = 0;
    if (fresh > 0 && visible_bottom(list, fresh - 1) > p)
    {
        int32_t high = fresh - 1;
        while (low < high)
        {
            const int32_t middle = low + (high - low) / 2;
            if (visible_bottom(list, middle) > p) high = middle;
            else low = middle + 1;
        }
    }
    else
    {
        for (low = fresh; low < count && visible_bottom(list, low) <= p;) ++low;
    }
    if (low >= count) return;
    list->top_visible_row = (int16_t)low;
    list->pixel_offset_within_row = (int32_t)(p - row_top(list, low));
}

// Row tops from `first` on are stale; then the scroll flag, then the view
// clamped so it never shows space below the last row.
static void update_positions(private_list_data *list, int32_t first)
{
    const int32_t count = list->actual_row_count;
    positions_change_from(list, first);
    if (list->top_visible_row >= count) list->top_visible_row = (int16_t)(count > 0 ? count - 1 : 0);
    if (list->top_visible_row < 0) list->top_visible_row = 0;
    if (count > 0 && content_height(list) > view_height(list))
    {
        list->flags |= _list_has_vertical_scroll_flag;
        scroll_to(list, scroll_position(list));
    }
    else
    {
        list->flags &= (uint16_t)~_list_has_vertical_scroll_flag;
        list->top_visible_row = 0;
        list->pixel_offset_within_row = 0;
    }
}

// ---- creation ------------------------------------------------------------------

private_list_data *new_private_list(const rectangle2d *bounds, uint16_t flags)
{
    if (!VASSERT(bounds, "no bounds")) return nullptr;
    private_list_data *list = (private_list_data *)calloc(1, sizeof(private_list_data));
    if (!list) return nullptr;
    list->rows = new_row_store();
    if (!list->rows)
    {
        free(list);
        return nullptr;
    }
    list->cookie = LIST_COOKIE;
    list->bounds = *bounds;
    list->font_id = (int16_t)get_interface_font_index(0);
    list->flags = (uint16_t)(flags | _list_can_be_focused_flag);
    list->autoscroll_mode = _autoscroll_mode_never;
    list->allocated_row_count = DEFAULT_LIST_ALLOCATED_ROW_COUNT;
    list->maximum_row_count = DEFAULT_LIST_MAXIMUM_ROW_COUNT;
    list->last_row_clicked = NONE;
    list->item_last_clicked = NONE;
    list->double_click_item = NONE;
    list->horizontal_gutter = DEFAULT_LIST_HORIZONTAL_GUTTER;
    list->vertical_gutter = DEFAULT_LIST_VERTICAL_GUTTER;
    list->arrow_scroll_rate = DEFAULT_LIST_ARROW_SCROLL_RATE;
    list->page_up_down_rate = DEFAULT_LIST_PAGE_UP_DOWN_RATE;
    const int16_t line_height = list->font_id >= 0 ? get_font_line_height(list->font_id) : 0;
    list->rows->empty_slot_height = line_height;
    return list;
}

void dispose_private_list(private_list_data *list)
{
    if (!list_is_good(list)) return;
    // Copies of the usual length go with their chunks.
    for (int32_t i = 0; i < list->actual_row_count; ++i)
    {
        const row_data *row = row_at(list, i);
        if (!copy_is_in_slot(list->rows, row->length)) free(row->data);
    }
    dispose_row_store(list->rows);
    list->cookie = 0;
    free(list);
}

// ---- rows ----------------------------------------------------------------------

// Removes the row without touching positions.
static void remove_row(private_list_data *list, int32_t row)
{
    const row_data *removed = row_at(list, row);
    dispose_row_copy(list->rows, removed->data, removed->length);
    list->visible_rows_height -= row_visible_height(removed);
    store_remove_row(list->rows, row);
    list->actual_row_count = (int16_t)(list->actual_row_count - 1);
}

// Where sorted data goes: the first row the new data sorts before, so after
// every row that compares equal.  The rows are in order (they were sorted, or
// put in by this very search), so a binary search finds that row.  Where
// both have sort summaries that differ, they answer without the rows' bytes.
static int32_t sorted_insertion_index(const private_list_data *list, const void *data, int16_t length,
                                      list_sort_key key)
{
    // The blocks holding rows low to high - 1 narrow with them.
    int32_t low = 0, high = list->actual_row_count;
    int32_t low_block = 0, high_block = list->rows->block_count - 1;
    while (low < high)
    {
        const int32_t middle = low + (high - low) / 2;
        const row_place place = find_row_between(list->rows, middle, low_block, high_block);
        const row_block *block = list->rows->blocks[place.block];
        const int32_t by_key = compare_sort_keys(key, block->keys[place.offset]);
        bool before;
        if (by_key) before = by_key < 0;
        else
        {
            const row_data *row = &block->rows[place.offset];
            before = list->sort_proc(data, length, row->data, row->length) < 0;
        }
        if (before)
        {
            high = middle;
            high_block = place.block;
        }
        else
        {
            low = middle + 1;
            low_block = place.block;
        }
    }
    return low;
}

// Scrolls the least that brings the row into view.
static void bring_row_into_view(private_list_data *list, int32_t row)
{
    list_span r, w;
    get_row_bounds_private_list((int16_t)row, &r, &w, list);
    int64_t delta = 0;
    if (r.top < w.top) delta = (int64_t)r.top - w.top;
    else if (w.bottom < r.bottom) delta = (int64_t)r.bottom - w.bottom;
    if (delta) scroll_to(list, (int64_t)scroll_position(list) + delta);
}

int16_t add_data_to_private_list(const void *data, int16_t length, private_list_data *list, int16_t row_height,
                                 bool enabled)
{
    if (!list_is_good(list)) return NONE;
    if (!VASSERT(length >= 0 && (data || length == 0), "bad row data")) return NONE;
    void *copy = new_row_copy(list->rows, length);
    if (!copy) return NONE;
    if (length > 0) memcpy(copy, data, (size_t)length);

    // The oldest rows go first; a maximum below 1 is never stored.
    bool removed = false;
    while (list->actual_row_count > 0 && list->actual_row_count >= list->maximum_row_count)
    {
        remove_row(list, 0);
        removed = true;
    }
    if (removed) update_positions(list, 0);
    // Whether the reader sees the end of the list before the new row comes.
    const bool had_rows = list->actual_row_count > 0;
    const bool reader_at_end =
        had_rows && (int64_t)content_height(list) <= (int64_t)scroll_position(list) + view_height(list);

    // The slots count as an array doubling up to the maximum would.
    int32_t slots = list->allocated_row_count;
    if (list->actual_row_count >= slots)
    {
        slots = 2 * slots;
        if (slots > list->maximum_row_count) slots = list->maximum_row_count;
        if (slots <= list->allocated_row_count)
        {
            dispose_row_copy(list->rows, copy, length);
            return NONE;
        }
    }

    const list_sort_key key = row_sort_key(list, copy, length);
    const int32_t index = list->sort_proc ? sorted_insertion_index(list, copy, length, key) : list->actual_row_count;
    const row_data row = {copy, 0, row_height < 0 ? (int16_t)0 : row_height, length,
                          (uint16_t)(enabled ? _row_enabled_flag | _row_visible_flag : _row_visible_flag)};
    if (!store_insert_row(list->rows, index, &row, key))
    {
        dispose_row_copy(list->rows, copy, length);
        return NONE;
    }
    list->allocated_row_count = (int16_t)slots;
    list->actual_row_count = (int16_t)(list->actual_row_count + 1);
    list->visible_rows_height += row_visible_height(&row);
    update_positions(list, index);

    if (list->autoscroll_mode == _autoscroll_mode_never) return (int16_t)index;
    if (list->autoscroll_mode == _autoscroll_mode_only_at_bottom && !(had_rows && reader_at_end))
        return (int16_t)index;
    int32_t target = list->actual_row_count - 1;
    if (list->sort_proc)
    {
        for (int32_t r = 0; r < list->actual_row_count; ++r)
        {
            const row_data *row = row_at(list, r);
            if (row->length == length && (length == 0 || memcmp(row->data, copy, (size_t)length) == 0))
            {
                target = r;
                break;
            }
        }
    }
    bring_row_into_view(list, target);
    return (int16_t)index;
}

void delete_row_from_list(int16_t row, private_list_data *list)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return;
    if (!row_at(list, row)->data)
    {
        char text[64];
        snprintf(text, sizeof(text), "Index: %d Actual count: %d", row, list->actual_row_count);
        assertion_failed(__FILE__, __LINE__, _assertion_vassert, "row->data", text);
    }
    remove_row(list, row);
    update_positions(list, row);
}

void delete_row_private_list(int16_t count, int16_t row, private_list_data *list)
{
    if (!list_is_good(list)) return;
    for (int32_t i = 0; i < count; ++i) delete_row_from_list(row, list);
}

void set_data_in_private_list_row(private_list_data *list, int16_t row, const void *data, int16_t length)
{
    if (!list_is_good(list) || !row_is_good(list, row) || !VASSERT(data, "no data")) return;
    row_data *r = row_at(list, row);
    // A caller buffer of another length would be over-read or leave stale bytes.
    if (!VASSERT(length == r->length, "length==row_data->length")) return;
    if (r->data && length > 0) memcpy(r->data, data, (size_t)length);
    refresh_row_sort_key(list, row);
}

void get_data_from_private_list_row(const private_list_data *list, int16_t row, void *buffer, int16_t *size)
{
    if (!buffer || !size || *size <= 0) return;
    const row_data *r = list_is_good(list) && row >= 0 && row < list->actual_row_count ? row_at(list, row) : nullptr;
    if (r && r->data && *size >= r->length)
    {
        memcpy(buffer, r->data, (size_t)r->length);
        *size = r->length;
        return;
    }
    memset(buffer, 0, (size_t)*size);
    *size = 0;
}

const void *get_private_list_row_data_pointer(const private_list_data *list, int16_t row, int16_t *length)
{
    if (length) *length = 0;
    if (!list_is_good(list) || !row_is_good(list, row)) return nullptr;
    const row_data *r = row_at(list, row);
    if (length) *length = r->length;
    return r->data;
}

const row_data *get_private_list_row(const private_list_data *list, int16_t row)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return nullptr;
    return row_at(list, row);
}

int16_t get_row_count_private_list(const private_list_data *list)
{
    return list_is_good(list) ? list->actual_row_count : 0;
}

void set_list_row_enabled(private_list_data *list, int16_t row, bool enabled)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return;
    row_data *r = row_at(list, row);
    if (enabled) r->flags |= _row_enabled_flag;
    else r->flags &= (uint16_t)~_row_enabled_flag;
}

uint16_t get_row_enabled_private_list(const private_list_data *list, int16_t row)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return 0;
    return row_at(list, row)->flags & _row_enabled_flag;
}

void set_list_row_visible(private_list_data *list, int16_t row, bool visible)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return;
    row_data *r = row_at(list, row);
    list->visible_rows_height -= row_visible_height(r);
    if (visible) r->flags |= _row_visible_flag;
    else r->flags &= (uint16_t)~_row_visible_flag;
    list->visible_rows_height += row_visible_height(r);
    update_positions(list, row);
}

uint16_t get_row_visible_private_list(const private_list_data *list, int16_t row)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return 0;
    return row_at(list, row)->flags & _row_visible_flag;
}

void set_list_line_height(private_list_data *list, int16_t height)
{
    if (!list_is_good(list)) return;
    if (height < 0) height = 0;
    // Every slot, used or not: an empty list keeps the height for its next row.
    list->rows->empty_slot_height = height;
    list->visible_rows_height = 0;
    for (int32_t i = 0; i < list->actual_row_count; ++i)
    {
        row_data *r = row_at(list, i);
        r->height = height;
        list->visible_rows_height += row_visible_height(r);
    }
    update_positions(list, 0);
}

int16_t get_list_line_height(const private_list_data *list)
{
    if (!list_is_good(list) || !VASSERT(list->rows, "list->rows")) return 0;
    return list->actual_row_count > 0 ? row_at(list, 0)->height : list->rows->empty_slot_height;
}

int16_t get_list_line_width(const private_list_data *list)
{
    if (!list_is_good(list)) return 0;
    return (int16_t)(list->bounds.right - list->bounds.left);
}

// A row with its sort summary, as sort_list orders them.
struct row_to_sort
{
    row_data row;
    list_sort_key key;
};

static int compare_rows_for_sort(const void *a, const void *b)
{
    const private_list_data *list = private_lists_globals.current_list_being_sorted;
    const row_to_sort *row_a = (const row_to_sort *)a;
    const row_to_sort *row_b = (const row_to_sort *)b;
    const int32_t by_key = compare_sort_keys(row_a->key, row_b->key);
    if (by_key) return by_key;
    const int32_t result = list->sort_proc(row_a->row.data, row_a->row.length, row_b->row.data, row_b->row.length);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

void sort_list(private_list_data *list)
{
    if (!list_is_good(list) || !list->sort_proc) return;
    if (!VASSERT(!private_lists_globals.current_list_being_sorted, "sort_list is not re-entrant")) return;
    // The rows are sorted in one array, then put back in the blocks' slots.
    const int32_t count = list->actual_row_count;
    row_to_sort *rows = (row_to_sort *)malloc((size_t)(count > 0 ? count : 1) * sizeof(row_to_sort));
    if (!rows)
    {
        log_message(__FILE__, __LINE__, "list of %d rows left unsorted: out of memory", count);
        return;
    }
    for (int32_t i = 0; i < count; ++i)
    {
        const row_place place = find_row(list->rows, i);
        const row_block *block = list->rows->blocks[place.block];
        rows[i] = row_to_sort{block->rows[place.offset], block->keys[place.offset]};
    }
    private_lists_globals.current_list_being_sorted = list;
    qsort_private(rows, (size_t)count, sizeof(row_to_sort), compare_rows_for_sort);
    private_lists_globals.current_list_being_sorted = nullptr;
    for (int32_t i = 0; i < count; ++i)
    {
        const row_place place = find_row(list->rows, i);
        row_block *block = list->rows->blocks[place.block];
        block->rows[place.offset] = rows[i].row;
        block->keys[place.offset] = rows[i].key;
    }
    free(rows);
    update_positions(list, 0);
}

bool find_data_in_private_list(const char *text, int16_t *row, const private_list_data *list)
{
    if (!list_is_good(list) || !list->match_proc || !text) return false;
    for (int32_t r = 0; r < list->actual_row_count; ++r)
    {
        const row_data *data = row_at(list, r);
        if ((data->flags & _row_enabled_flag) && list->match_proc(data->data, data->length, text))
        {
            if (row) *row = (int16_t)r;
            return true;
        }
    }
    return false;
}

// ---- selection -----------------------------------------------------------------

bool set_select_private_list(bool select, int16_t row, private_list_data *list)
{
    if (!list_is_good(list) || !row_is_good(list, row)) return false;
    const bool selectable =
        (list->flags & _list_disabled_row_allow_click_flag) || (row_at(list, row)->flags & _row_enabled_flag);
    if (!select)
    {
        row_at(list, row)->flags &= (uint16_t)~_row_selected_flag;
        return selectable;
    }
    if (selectable || !(list->flags & _list_cant_lose_selection_flag)) unselect_all_private_list(list);
    if (selectable) row_at(list, row)->flags |= _row_selected_flag;
    return selectable;
}

bool get_select_private_list(bool multiple, int16_t *row, const private_list_data *list)
{
    if (!row || !list_is_good(list)) return false;
    const int32_t start = *row < 0 ? 0 : *row;
    if (!multiple)
    {
        *row = (int16_t)start;
        return start < list->actual_row_count && (row_at(list, start)->flags & _row_selected_flag);
    }
    for (int32_t r = start; r < list->actual_row_count; ++r)
    {
        if (row_at(list, r)->flags & _row_selected_flag)
        {
            *row = (int16_t)r;
            return true;
        }
    }
    *row = list->actual_row_count;
    return false;
}

bool next_row_private_list(int16_t *row, const private_list_data *list)
{
    if (!row || !list_is_good(list)) return false;
    *row = (int16_t)(*row + 1);
    return *row < list->actual_row_count;
}

void unselect_all_private_list(private_list_data *list)
{
    if (!list_is_good(list)) return;
    for (int32_t r = 0; r < list->actual_row_count; ++r) row_at(list, r)->flags &= (uint16_t)~_row_selected_flag;
}

// ---- geometry and scrolling ---------------------------------------------------------

// The pointer in list coordinates (y includes the scroll position).
static void pointer_in_list(const private_list_data *list, point2d pointer, int32_t *x, int32_t *y)
{
    *x = (int32_t)pointer.x - (list->bounds.left + list->horizontal_gutter);
    *y = (int32_t)pointer.y - (list->bounds.top + list->vertical_gutter) + scroll_position(list);
}

static int32_t inner_width(const private_list_data *list)
{
    return (int32_t)list->bounds.right - list->bounds.left - 2 * (int32_t)list->horizontal_gutter;
}

// The first visible row containing (x, y) whose right edge is `right`, NONE for none.
static int32_t row_containing(const private_list_data *list, int32_t x, int32_t y, int32_t right)
{
    if (x < 0 || x >= right) return NONE;
    for (int32_t r = 0; r < list->actual_row_count; ++r)
    {
        const row_data *row = row_at(list, r);
        if (!(row->flags & _row_visible_flag)) continue;
        const int32_t top = row_top(list, r);
        if (top > y) break; // rows only go further down
        if (y < top + row->height) return r;
    }
    return NONE;
}

int16_t get_row_at_point_private_list(const private_list_data *list, point2d point, rectangle2d *distances)
{
    if (!list_is_good(list) || list->actual_row_count <= 0) return NONE;
    rectangle2d scrollbar;
    get_scrollbar_rectangle(list, &scrollbar);
    if (point.x >= scrollbar.left && point.x < scrollbar.right && point.y >= scrollbar.top &&
        point.y < scrollbar.bottom)
        return NONE;
    int32_t x, y;
    pointer_in_list(list, point, &x, &y);
    const int32_t right = inner_width(list) - SCROLL_BAR_WIDTH;
    const int32_t row = row_containing(list, x, y, right);
    if (row != NONE && distances)
    {
        const row_data *r = row_at(list, row);
        distances->left = (int16_t)x;
        distances->right = (int16_t)(right - x);
        distances->top = (int16_t)(y - row_top(list, row));
        distances->bottom = (int16_t)(row_top(list, row) + r->height - y);
    }
    return (int16_t)row;
}

void get_row_bounds_private_list(int16_t row, list_span *row_bounds, list_span *view_bounds,
                                 const private_list_data *list)
{
    if (!list_is_good(list)) return;
    const int32_t p = scroll_position(list);
    const list_span view = {p, 0, p + view_height(list), (int32_t)list->bounds.right - list->bounds.left};
    if (view_bounds) *view_bounds = view;
    if (row_bounds)
    {
        *row_bounds = view;
        if (row_is_good(list, row))
        {
            row_bounds->top = row_top(list, row);
            row_bounds->bottom = row_bounds->top + row_at(list, row)->height;
        }
    }
}

void make_row_visible_private_list(int16_t row, private_list_data *list, bool centre)
{
    if (!list_is_good(list) || row < 0 || row >= list->actual_row_count) return;
    const int64_t h = view_height(list);
    const int64_t y0 = scroll_position(list);
    const int64_t y1 = y0 + h;
    const int64_t top = row_top(list, row);
    const int64_t bottom = top + row_at(list, row)->height;
    int64_t delta = 0;
    if (y0 > top) delta = centre ? top - y0 - h / 2 : top - y0;
    else if (y1 < bottom) delta = centre ? bottom - y1 + h / 2 : bottom - y1;
    if (delta) scroll_to(list, y0 + delta);
}

void move_private_list_by_delta(private_list_data *list, int32_t delta)
{
    if (!list_is_good(list) || list->actual_row_count <= 0) return;
    if (view_height(list) >= content_height(list)) return;
    scroll_to(list, (int64_t)scroll_position(list) + delta);
}

void move_private_list(private_list_data *list, int16_t part)
{
    if (!list_is_good(list)) return;
    const int32_t page = list->page_up_down_rate > 0 ? view_height(list) / list->page_up_down_rate : 0;
    int32_t step = 0;
    switch (part)
    {
    case _in_up_arrow: step = -list->arrow_scroll_rate; break;
    case _in_down_arrow: step = list->arrow_scroll_rate; break;
    case _in_page_up: step = -page; break;
    case _in_page_down: step = page; break;
    default: break;
    }
    move_private_list_by_delta(list, step);
}

int32_t get_private_list_scroll_position(const private_list_data *list)
{
    return list_is_good(list) ? scroll_position(list) : 0;
}

int32_t get_private_list_content_height(const private_list_data *list)
{
    return list_is_good(list) ? content_height(list) : 0;
}

int32_t get_private_list_visible_rows_height(const private_list_data *list)
{
    return list_is_good(list) ? visible_rows_height(list) : 0;
}

void get_private_list_scrollbar_bounds(const private_list_data *list, rectangle2d *scrollbar)
{
    if (!scrollbar || !list_is_good(list)) return;
    get_scrollbar_rectangle(list, scrollbar);
}

// The thumb is proportional when the dialog elements' scroll-bar sequence
// has the cap, widget and filler frames.
static bool thumb_is_proportional(void)
{
    const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (collection == NONE) return false;
    if (get_collection_sequence_count(collection) <= _dialog_elements_scrollbar_sequence) return false;
    return count_sequence_bitmaps(collection, _dialog_elements_scrollbar_sequence, _count_frames_per_view) >=
           _proportional_thumb_bitmap_count;
}

// The thumb for a known kind; false when there is none (everything fits, or
// the track is too short to hold a thumb).
static bool thumb_bounds(const private_list_data *list, const rectangle2d *scrollbar, bool proportional,
                         rectangle2d *thumb)
{
    if (list->actual_row_count <= 0) return false;
    const int64_t s = (int64_t)scrollbar->bottom - scrollbar->top;
    const int64_t track = s - (proportional ? 2 * ARROW_HEIGHT : 2 * ARROW_HEIGHT + THUMB_HEIGHT);
    const int64_t h = view_height(list);
    const int64_t v = visible_rows_height(list);
    const int64_t p = scroll_position(list);
    if (h >= v || v <= 0) return false;
    int64_t offset, length;
    if (proportional)
    {
        if (track < MINIMUM_THUMB_HEIGHT) return false;
        length = track * h / v;
        if (length < MINIMUM_THUMB_HEIGHT) length = MINIMUM_THUMB_HEIGHT;
        offset = p * track / v;
        if (track < length + offset) offset = track - length;
        if (offset < 0) offset = 0;
    }
    else
    {
        if (track < 0) return false;
        length = THUMB_HEIGHT;
        offset = track * p / (v - h);
        if (offset > track) offset = track;
        if (offset < 0) offset = 0;
    }
    if (thumb)
    {
        thumb->left = scrollbar->left;
        thumb->right = scrollbar->right;
        thumb->top = (int16_t)(scrollbar->top + ARROW_HEIGHT + offset);
        thumb->bottom = (int16_t)(thumb->top + length);
    }
    return true;
}

bool calculate_scroll_element_bounds(const private_list_data *list, const rectangle2d *scrollbar,
                                     rectangle2d *up_arrow, rectangle2d *down_arrow, rectangle2d *thumb)
{
    if (!list_is_good(list) || !scrollbar) return false;
    if (up_arrow)
    {
        *up_arrow = *scrollbar;
        up_arrow->bottom = (int16_t)(scrollbar->top + ARROW_HEIGHT);
    }
    if (down_arrow)
    {
        *down_arrow = *scrollbar;
        down_arrow->top = (int16_t)(scrollbar->bottom - ARROW_HEIGHT);
    }
    return thumb_bounds(list, scrollbar, thumb_is_proportional(), thumb);
}

// ---- presses -------------------------------------------------------------------

// Moves the view while the thumb is dragged; the track's ends map to the
// first and the last position.
static void drag_thumb(private_list_data *list, const rectangle2d *scrollbar, int32_t y)
{
    const int64_t h = view_height(list);
    const int64_t v = visible_rows_height(list);
    int64_t position;
    if (thumb_is_proportional())
    {
        const int64_t low = scrollbar->top + ARROW_HEIGHT, high = scrollbar->bottom - ARROW_HEIGHT;
        if (high <= low) return;
        int64_t at = (int64_t)y + list->offset_within_thumb;
        if (at < low) at = low;
        if (at > high) at = high;
        position = (at - low) * v / (high - low);
        if (position > v - h) position = v - h;
    }
    else
    {
        const int64_t half = ARROW_HEIGHT + THUMB_HEIGHT / 2;
        const int64_t low = scrollbar->top + half, high = scrollbar->bottom - half;
        if (high <= low) return;
        int64_t at = y;
        if (at < low) at = low;
        if (at > high) at = high;
        position = (v - h) * (at - low) / (high - low);
    }
    scroll_to(list, position);
}

static bool scrollbar_part(int16_t part)
{
    return part >= _in_up_arrow && part <= _in_page_down;
}

bool click_private_list(private_list_data *list, point2d pointer, uint16_t modifiers, bool double_clicked)
{
    if (!list_is_good(list)) return false;
    const uint32_t now = machine_tick_count();

    if ((list->flags & _list_has_vertical_scroll_flag) && !(list->flags & _list_dont_draw_scrollbars_flag) &&
        list->actual_row_count > 0)
    {
        rectangle2d scrollbar;
        get_scrollbar_rectangle(list, &scrollbar);
        if (list->item_last_clicked == _in_thumb)
        {
            drag_thumb(list, &scrollbar, pointer.y);
            return false;
        }
        if (pointer.x >= scrollbar.left && pointer.x < scrollbar.right && pointer.y >= scrollbar.top &&
            pointer.y < scrollbar.bottom)
        {
            rectangle2d up, down, thumb;
            const bool has_thumb = calculate_scroll_element_bounds(list, &scrollbar, &up, &down, &thumb);
            int16_t part = NONE;
            if (pointer.y < up.bottom) part = _in_up_arrow;
            else if (has_thumb && pointer.y < thumb.top) part = _in_page_up;
            else if (has_thumb && pointer.y < thumb.bottom) part = _in_thumb;
            else if (pointer.y < down.top) part = has_thumb ? (int16_t)_in_page_down : (int16_t)NONE;
            else part = _in_down_arrow;
            if (part != NONE && (list->item_last_clicked == NONE || list->item_last_clicked == part))
            {
                list->item_last_clicked = part;
                if (part == _in_thumb) list->offset_within_thumb = (int16_t)(thumb.top - pointer.y);
                else move_private_list(list, part);
            }
        }
        if (scrollbar_part(list->item_last_clicked)) return false;
    }
    // A press that began on the scroll bar never reaches the rows, even
    // after the bar was gone (the rows shrank under a held press).
    if (scrollbar_part(list->item_last_clicked)) return false;

    if (list->flags & _list_cannot_accept_row_clicks_flag) return false;
    int32_t x, y;
    pointer_in_list(list, pointer, &x, &y);
    int32_t right = inner_width(list);
    if (!(list->flags & _list_dont_draw_scrollbars_flag)) right -= SCROLL_BAR_WIDTH;
    const int32_t row = row_containing(list, x, y, right);

    if (row == NONE)
    {
        list->flags &= (uint16_t)~_list_selection_locked_flag;
        if (!(list->flags & _list_cant_lose_selection_flag)) unselect_all_private_list(list);
        list->last_row_clicked = NONE;
        list->ticks_at_last_click = now;
        return false;
    }
    if (list->item_last_clicked != NONE)
    {
        list->last_row_clicked = (int16_t)row;
        list->ticks_at_last_click = now;
        return false;
    }

    list->flags &= (uint16_t)~_list_selection_locked_flag;
    const bool selected = row_at(list, row)->flags & _row_selected_flag;
    if (selected && ((list->flags & _list_click_in_selected_row_deselects_flag) ||
                     (!double_clicked && (list->flags & _list_click_in_selected_row_deselects_not_double_flag))))
    {
        set_select_private_list(false, (int16_t)row, list);
        list->item_last_clicked = _row_deselected;
    }
    else
    {
        if (set_select_private_list(true, (int16_t)row, list))
        {
            if (modifiers & (_list_modifier_option_flag | _list_modifier_control_flag))
                list->flags |= _list_selection_locked_flag;
            if (double_clicked && row == list->last_row_clicked)
            {
                list->item_last_clicked = _row_selected;
                list->ticks_at_last_click = 0;
                return true;
            }
        }
        list->item_last_clicked = _row_selected;
    }
    list->last_row_clicked = (int16_t)row;
    list->ticks_at_last_click = now;
    return false;
}

void mouse_up_in_list(private_list_data *list)
{
    if (!list_is_good(list)) return;
    list->item_last_clicked = NONE;
}

// ---- drawing -------------------------------------------------------------------

static int16_t clamp16(int64_t value)
{
    return (int16_t)(value < INT16_MIN ? INT16_MIN : (value > INT16_MAX ? INT16_MAX : value));
}

static int16_t bitmap_height(int32_t collection, int32_t view, int32_t frame, int32_t frames_per_view)
{
    if (frames_per_view <= 0) return 0;
    const bitmap_data *bitmap = get_sequence_bitmap(collection, _dialog_elements_scrollbar_sequence, view,
                                                    frame % frames_per_view, nullptr, nullptr);
    return bitmap ? bitmap->height : 0;
}

static void draw_scrollbar_element(bitmap_data *destination, int32_t collection, int32_t view, int32_t frame,
                                   rectangle2d frame_bounds, const rectangle2d *clip, uint32_t flags)
{
    draw_bitmap_from_sequence(destination, collection, _dialog_elements_scrollbar_sequence, view, frame,
                              &frame_bounds, clip, nullptr, 0, _transparency_normal, flags, 0);
}

static void draw_scrollbar(bitmap_data *destination, const private_list_data *list, const rectangle2d *scrollbar,
                           bool enabled)
{
    const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (collection == NONE) return;
    auto state = [&](int32_t element) {
        if (!enabled) return (int32_t)_scrollbar_disabled;
        return list->item_last_clicked == element ? (int32_t)_scrollbar_enabled_and_clicked
                                                  : (int32_t)_scrollbar_enabled;
    };
    if (list->flags & _list_scrollbars_have_background_flag)
        tile_and_bevel_rectangle(destination, collection, _dialog_elements_scrollbar_background_sequence,
                                 enabled ? _scrollbar_enabled : _scrollbar_disabled, scrollbar, nullptr, nullptr, 0,
                                 _transparency_normal, nullptr);
    draw_scrollbar_element(destination, collection, state(_in_up_arrow), _scrollbar_up_arrow, *scrollbar, nullptr,
                           _draw_bitmap_top_justified_flag);
    draw_scrollbar_element(destination, collection, state(_in_down_arrow), _scrollbar_down_arrow, *scrollbar,
                           nullptr, _draw_bitmap_bottom_justified_flag);

    const bool proportional = thumb_is_proportional();
    rectangle2d thumb;
    if (!thumb_bounds(list, scrollbar, proportional, &thumb)) return;
    const int32_t view = state(_in_thumb);
    if (!proportional)
    {
        draw_scrollbar_element(destination, collection, view, _scrollbar_thumb, thumb, nullptr,
                               _draw_bitmap_respect_registration_point_flag);
        return;
    }
    const int32_t frames = count_sequence_bitmaps(collection, _dialog_elements_scrollbar_sequence,
                                                  _count_frames_per_view);
    const int16_t upper_height = bitmap_height(collection, view, _scrollbar_thumb_upper_cap, frames);
    const int16_t lower_height = bitmap_height(collection, view, _scrollbar_thumb_lower_cap, frames);
    const int16_t widget_height = bitmap_height(collection, view, _scrollbar_thumb_widget, frames);
    const int16_t filler_height = bitmap_height(collection, view, _scrollbar_thumb_filler, frames);
    const int32_t thumb_height = thumb.bottom - thumb.top;
    if (thumb_height > MINIMUM_THUMB_HEIGHT && filler_height > 0)
    {
        const rectangle2d clip = {(int16_t)(thumb.top + 1), thumb.left, (int16_t)(thumb.bottom - 1), thumb.right};
        for (int32_t y = thumb.top; y <= thumb.bottom - 1; y += filler_height)
        {
            const rectangle2d tile = {(int16_t)y, thumb.left, (int16_t)(y + filler_height), thumb.right};
            draw_scrollbar_element(destination, collection, view, _scrollbar_thumb_filler % frames, tile, &clip,
                                   _draw_bitmap_top_justified_flag);
        }
    }
    const int16_t widget_top = (int16_t)(thumb.top + (thumb_height - widget_height) / 2);
    draw_scrollbar_element(destination, collection, view, _scrollbar_thumb_widget % frames,
                           {widget_top, thumb.left, (int16_t)(widget_top + widget_height), thumb.right}, nullptr,
                           _draw_bitmap_top_justified_flag);
    draw_scrollbar_element(destination, collection, view, _scrollbar_thumb_upper_cap % frames,
                           {thumb.top, thumb.left, (int16_t)(thumb.top + upper_height), thumb.right}, nullptr,
                           _draw_bitmap_top_justified_flag);
    draw_scrollbar_element(destination, collection, view, _scrollbar_thumb_lower_cap % frames,
                           {(int16_t)(thumb.bottom - lower_height), thumb.left, thumb.bottom, thumb.right}, nullptr,
                           _draw_bitmap_top_justified_flag);
}

void draw_private_list(bitmap_data *destination, const private_list_data *list, bool enabled)
{
    if (!destination || !list_is_good(list)) return;
    const int32_t h = view_height(list);
    const int32_t p = scroll_position(list);
    const int32_t width = (int32_t)list->bounds.right - list->bounds.left;

    if (list->flags & _list_has_shaded_background_flag)
    {
        const uint8_t *table = get_transparency_table(_transparency_normal);
        frame_rectangle_clipped(destination, &rgb_black, &list->bounds, nullptr, 32768, table);
        rectangle2d inside = list->bounds;
        inset_rectangle2d(&inside, 1, 1);
        fill_rectangle_clipped(destination, &rgb_black, &inside, nullptr, 21845, table);
    }
    const bool scrollbars = !(list->flags & _list_dont_draw_scrollbars_flag);
    if (scrollbars)
    {
        rectangle2d scrollbar;
        get_scrollbar_rectangle(list, &scrollbar);
        draw_scrollbar(destination, list, &scrollbar, (list->flags & _list_has_vertical_scroll_flag) != 0);
    }
    if (!list->draw_proc || list->actual_row_count <= 0) return;

    const int64_t dx = list->bounds.left;
    int64_t dy = (int64_t)list->bounds.top + list->vertical_gutter - p;
    const int32_t t = content_height(list);
    if ((list->flags & _list_draws_from_bottom_flag) && t < h) dy += h - t;
    const int32_t right_loss = scrollbars ? SCROLL_BAR_WIDTH : 0;
    uint16_t flag_mask = 0xFFFF;
    if (!enabled) flag_mask = (uint16_t)~_row_enabled_flag;
    const uint16_t extra_flags = (list->flags & _list_allows_variable_height_rows_flag) ? _row_variable_sized_flag : 0;

    // Rows before the top row lie above the view; rows only go further down.
    int32_t first = list->top_visible_row;
    if (first < 0 || first >= list->actual_row_count) first = 0;
    for (int32_t r = first; r < list->actual_row_count; ++r)
    {
        const row_data *row = row_at(list, r);
        if (!(row->flags & _row_visible_flag)) continue;
        const int64_t top = row_top(list, r), bottom = top + row->height;
        if (top >= (int64_t)p + h) break;
        const int64_t clip_top = top > p ? top : p;
        const int64_t clip_bottom = bottom < (int64_t)p + h ? bottom : (int64_t)p + h;
        if (clip_bottom <= clip_top || width <= 0) continue;
        const int64_t left = dx + list->horizontal_gutter;
        const int64_t right = dx + width - list->horizontal_gutter - right_loss;
        const rectangle2d row_bounds = {clamp16(top + dy), clamp16(left), clamp16(bottom + dy), clamp16(right)};
        const rectangle2d clip = {clamp16(clip_top + dy), clamp16(left), clamp16(clip_bottom + dy), clamp16(right)};
        list->draw_proc(destination, &row_bounds, &clip, row->data, row->length, list->font_id,
                        (uint16_t)((row->flags & flag_mask) | extra_flags));
    }
}

// ---- plain accessors -------------------------------------------------------------

void set_private_list_bounds(private_list_data *list, const rectangle2d *bounds)
{
    if (!list_is_good(list) || !bounds) return;
    list->bounds = *bounds;
    update_positions(list, 0);
}

void get_bounds_from_private_list(const private_list_data *list, rectangle2d *bounds)
{
    if (!bounds) return;
    if (!list_is_good(list))
    {
        *bounds = rectangle2d{0, 0, 0, 0};
        return;
    }
    *bounds = list->bounds;
}

int16_t get_private_list_font_id(const private_list_data *list)
{
    return list_is_good(list) ? list->font_id : (int16_t)NONE;
}

void set_private_list_font_id(private_list_data *list, int16_t font_id)
{
    if (list_is_good(list)) list->font_id = font_id;
}

void set_list_arrow_scroll_rate(private_list_data *list, int16_t pixels)
{
    if (list_is_good(list)) list->arrow_scroll_rate = pixels;
}

void set_list_gutters(private_list_data *list, uint16_t horizontal, uint16_t vertical)
{
    if (!list_is_good(list)) return;
    if (horizontal != LIST_GUTTER_UNCHANGED) list->horizontal_gutter = (int16_t)horizontal;
    if (vertical != LIST_GUTTER_UNCHANGED) list->vertical_gutter = (int16_t)vertical;
    update_positions(list, 0);
}

void set_list_maximum_row_count(private_list_data *list, int16_t count)
{
    if (!list_is_good(list)) return;
    // A maximum below 1 would make every add delete forever.
    list->maximum_row_count = count < 1 ? (int16_t)1 : count;
}

uint16_t get_private_list_flag(const private_list_data *list, uint16_t mask)
{
    return list_is_good(list) ? (uint16_t)(list->flags & mask) : 0;
}

void set_private_list_flag(private_list_data *list, uint16_t mask, bool on)
{
    if (!list_is_good(list)) return;
    if (on) list->flags |= mask;
    else list->flags &= (uint16_t)~mask;
}

bool get_list_focusable(const private_list_data *list)
{
    return list_is_good(list) && (list->flags & _list_can_be_focused_flag);
}

void set_list_double_click_item(private_list_data *list, int16_t item_id)
{
    if (list_is_good(list)) list->double_click_item = item_id;
}

int16_t get_list_double_click_item(const private_list_data *list)
{
    return list_is_good(list) ? list->double_click_item : (int16_t)NONE;
}

bool set_list_match_proc(private_list_data *list, match_list_proc procedure)
{
    if (!list_is_good(list) || list->match_proc == procedure) return false;
    list->match_proc = procedure;
    return true;
}

bool set_list_sort_proc(private_list_data *list, sort_list_proc procedure)
{
    if (!list_is_good(list) || list->sort_proc == procedure) return false;
    list->sort_proc = procedure;
    // The summaries ordered rows as the previous procedure did.
    set_list_sort_key_proc(list, nullptr);
    return true;
}

bool set_list_sort_key_proc(private_list_data *list, sort_key_list_proc procedure)
{
    if (!list_is_good(list) || list->sort_key_proc == procedure) return false;
    list->sort_key_proc = procedure;
    for (int32_t i = 0; i < list->actual_row_count; ++i) refresh_row_sort_key(list, i);
    return true;
}

bool set_list_draw_proc(private_list_data *list, draw_list_proc procedure)
{
    if (!list_is_good(list) || list->draw_proc == procedure) return false;
    list->draw_proc = procedure;
    return true;
}

void set_autoscroll_mode_private_list(private_list_data *list, int16_t mode)
{
    if (list_is_good(list)) list->autoscroll_mode = mode;
}
