// Every dialog of the demo data laid out as the game opens it, on the two
// screens the game offers first (640 x 480 and 1024 x 768): the dialog lies
// on the screen, each list has a row drawer, each item drawn (its art where
// the art is wider than the item, and the labels and fields its code adds)
// inside its dialog and clear of its frame, none over another, each field
// labelled, no word a bare mark, and each text its item shows fits the
// item's rectangle: a label in one line is narrower than where it is drawn
// (else it is cut short), a wrapped text no taller than its item.
// The interface's fonts are the demo's own, rendered from its faces as the
// demo data is, since a label fits only in the font it is drawn with.

#include "support/dialog_input_harness.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/popup_control.h"
#include "bitmap_dialogs/radio_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "bitmap_text.h"
#include "vesk/preloading.h"
#include "gameplay_versions.h"
#include "new_game_dialog.h"
#include "image_files.h"
#include "interface_definitions.h"
#include "metaserver/metaserver_controls.h"
#include "plugins_dialog.h"
#include "vesk/game_statistics.h"
#include "metaserver/metaserver_lobby_dialog.h"
#include "shapes.h"
#include "screen.h"
#include "support/demo_data.h"

namespace demo_dialog_layout_test_file {

namespace {

std::vector<std::string> demo_dialog_subgroups(void)
{
    std::vector<std::string> subgroups;
    for (const auto &entry : std::filesystem::directory_iterator(source_tree_path("data/interface/dialogs")))
        if (entry.path().extension() == ".txt") subgroups.push_back(entry.path().stem().string());
    std::sort(subgroups.begin(), subgroups.end());
    return subgroups;
}

bool inside(const rectangle2d &inner, const rectangle2d &outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The two bars are spread over the screen by their own code, and a button
// without a label is given its picture by its dialog's code: where they lie
// is not the dialog tag's to say.  Nor is a picture as large as the dialog
// (a story's fade or backdrop), which covers the frame on purpose.
bool laid_out_by_code(const std::string &subgroup, const control_data *item, const rectangle2d &own = {})
{
    if (subgroup == "!cba" || subgroup == "!sba") return true;
    if (!memcmp(&item->bounds, &own, sizeof(own))) return true;
    const bool button = item->handler == button_control_def_proc || item->handler == checkbox_button_control_def_proc;
    return button && item->extra_data && !((const button_control_data *)item->extra_data)->name[0];
}

std::string span(const rectangle2d &r)
{
    return std::to_string(r.left) + ".." + std::to_string(r.right) + " x " + std::to_string(r.top) + ".." +
           std::to_string(r.bottom);
}

bool meet(const rectangle2d &a, const rectangle2d &b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// What a dialog's code adds to or changes in its tag's layout before the
// player sees it (labels and fields it places, pictures it gives buttons).
struct code_layout
{
    const char *subgroup;
    bool (*lay_out)(dialog_data *dialog);
};
const code_layout code_layouts[] = {
    {"chpl", lay_out_choose_plugins_dialog},
    {"pocr", [](dialog_data *dialog) { return lay_out_carnage_report_dialog(dialog), true; }},
};

// Pixels of the dialog's own ground between a push button's art and the
// frame: art laid against the frame reads as part of it.  (A text's glyphs
// keep their own room inside its rectangle.)
constexpr int16_t FRAME_MARGIN = 2;

bool is_push_button(const control_data *item)
{
    const button_control_data *button = (const button_control_data *)item->extra_data;
    return item->handler == button_control_def_proc && button && button->name[0];
}

rectangle2d inset(const rectangle2d &r, int16_t by)
{
    return {(int16_t)(r.top + by), (int16_t)(r.left + by), (int16_t)(r.bottom - by), (int16_t)(r.right - by)};
}

bool is_type(const control_data *item, const char (&c)[5])
{
    return (uint32_t)item->tag == (uint32_t)FOUR_CHARACTER_CODE(c[0], c[1], c[2], c[3]);
}

// The words an item shows of its own: a static text's, a named button's.
const char *own_words(const control_data *item)
{
    if (item->handler == static_text_control_def_proc)
    {
        const text_extra_data *text = (const text_extra_data *)item->extra_data;
        return text && text->string ? text->string : "";
    }
    if (item->handler == button_control_def_proc || item->handler == checkbox_button_control_def_proc ||
        item->handler == radio_button_control_def_proc)
    {
        const button_control_data *button = (const button_control_data *)item->extra_data;
        return button ? button->name : "";
    }
    return "";
}

bool has_a_word(const char *text)
{
    for (const char *c = text; *c; ++c)
        if (isalnum((unsigned char)*c) || (unsigned char)*c >= 0x80) return true;
    return false;
}

// A field is labelled by words drawn just left of it on its rows, or just
// above it over its columns, or by the title of the table column it stands
// in (a static text above it whose span holds the field's), or by the
// button right of it that sends what is typed ("Send").
bool labels(const control_data *label, const control_data *field)
{
    if (label == field || !has_a_word(own_words(label))) return false;
    const rectangle2d &l = label->bounds, &f = field->bounds;
    const bool rows = l.top < f.bottom && f.top < l.bottom;
    const bool beside = l.right <= f.left && f.left - l.right <= 40 && rows;
    const bool above = l.bottom <= f.top && f.top - l.bottom <= 16 && l.left < f.right && f.left < l.right;
    const bool sent_by = label->handler == button_control_def_proc && l.left >= f.right && l.left - f.right <= 16 && rows;
    const bool column_title = label->handler == static_text_control_def_proc && l.bottom <= f.top &&
                              l.left <= f.left + 8 && f.right <= l.right + 8;
    return beside || above || column_title || sent_by;
}

// A list its dialog's code shows in turn with the items in its place (the
// found games or a new game's fields; the protocols, with their label, or
// the lobby's login).
bool shown_in_turn(const std::string &subgroup, const control_data *item)
{
    return (subgroup == "Inet" && item->item_id == 4) ||
           (subgroup == "nesp" && (item->item_id == 12 || item->item_id == 17));
}

// The art each dialog is drawn on, as its code gives it: the collection and
// sequence whose nine tiles frame it (the dialog elements' own background
// for a dialog its code gives none; a story dialog over the demo level's).
struct dialog_art
{
    const char *subgroup;
    file_tag collection;
    int16_t sequence;
};
constexpr file_tag code(const char (&c)[5]) { return FOUR_CHARACTER_CODE(c[0], c[1], c[2], c[3]); }
const dialog_art dialog_arts[] = {
    {"!key", code("!key"), 0}, {"!new", code("!new"), 0}, {"!ngp", code("!ngp"), 0}, {"!prf", code("!prf"), 0},
    {"Inet", code("intc"), 0}, {"chpl", code("insp"), 0}, {"endi", code("innd"), 0}, {"epdi", code("epsv"), 0},
    {"fipl", code("infp"), 0}, {"gati", code("ingh"), 0}, {"inge", code("inge"), 0}, {"jogf", code("injg"), 0},
    {"medi", code("megr"), 0}, {"mesg", code("innb"), 0}, {"meud", code("innb"), 0}, {"mmnu", code("mmnu"), 0},
    {"ne#1", code("innd"), 0}, {"nesp", code("inmg"), 0}, {"nobp", code("innc"), 0}, {"nobu", code("innb"), 0},
    {"opsg", code("in#1"), 0}, {"plgq", code("innb"), 0}, {"pocr", code("infs"), 0}, {"prdb", code("inpb"), 0},
    {"prdi", code("cvpr"), 0}, {"prdn", code("innb"), 0}, {"qudi", code("ingp"), 0}, {"room", code("innb"), 0},
    {"sagd", code("insg"), 0}, {"serd", code("invs"), 0}, {"srsw", code("insh"), 0}, {"stat", code("inst"), 0},
    {"stgt", code("insh"), 0}, {"stpt", code("insh"), 0}, {"su01", code("innb"), 0}, {"suyw", code("innb"), 0},
    {"untr", code("inut"), 0}, {"vvux", code("innb"), 0},
};

// Gives the dialog the art its code gives it; the frame's width on each
// side is measured from that art: the corner and edge tiles of a tiled
// background (a single picture paints no frame of its own).
rectangle2d give_art_and_measure_frame(dialog_data *dialog, const std::string &subgroup, const rectangle2d &own)
{
    int32_t collection = NONE, sequence = 5;
    for (const dialog_art &art : dialog_arts)
        if (subgroup == art.subgroup) collection = try_and_get_collection_index(art.collection), sequence = art.sequence;
    if (collection == NONE) collection = try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG), sequence = 5;
    if (collection == NONE) return own;
    set_dialog_background(dialog, (int16_t)collection, (int16_t)sequence);
    // Frames 1-4: the corners top left, top right, bottom left, bottom right
    // (an edge tile may carry more than the frame: the preferences' bottom
    // one holds the sliders' tracks).
    int16_t top = 0, left = 0, bottom = 0, right = 0;
    if (count_sequence_bitmaps(collection, sequence, _count_frames_per_view) >= 9)
        for (int32_t frame = 1; frame < 5; ++frame)
        {
            const bitmap_data *tile = get_sequence_bitmap(collection, sequence, 0, frame, nullptr, nullptr);
            if (!tile) continue;
            int16_t &across = frame % 2 ? left : right, &down = frame < 3 ? top : bottom;
            across = std::max(across, tile->width), down = std::max(down, tile->height);
        }
    return {(int16_t)(own.top + top), (int16_t)(own.left + left), (int16_t)(own.bottom - bottom),
            (int16_t)(own.right - right)};
}

// Where the item is drawn and clicked: a tab strip's tabs may run past it.
rectangle2d drawn_extent(const control_data *item)
{
    rectangle2d r = item->bounds;
    const tabbed_button_control_data *tabs = (const tabbed_button_control_data *)item->extra_data;
    if (item->handler == tabbed_button_control_def_proc && tabs && tabs->number_of_tabs > 0)
    {
        const int32_t width = tabs->bitmap_bounds.right - tabs->bitmap_bounds.left;
        const int32_t right =
            tabs->original_bounds.left + tabs->number_of_tabs * (width - tabs->tab_overlap) + tabs->tab_overlap;
        if (right > r.right) r.right = (int16_t)right;
    }
    return r;
}

// What is wrong with the text of `item`, empty when it fits.
std::string misfit(const control_data *item)
{
    const int32_t width = item->bounds.right - item->bounds.left, height = item->bounds.bottom - item->bounds.top;
    const text_extra_data *text = (const text_extra_data *)item->extra_data;
    const button_control_data *button = (const button_control_data *)item->extra_data;
    int32_t font, style = -1, room;
    const char *label;
    if (item->handler == static_text_control_def_proc)
    {
        if (!text || !*text->string) return "";
        if (text->flags & _draw_string_wrap_flag)
        {
            int32_t needed = 0;
            get_string_height(text->string, text->font_index, text->style, width, &needed);
            return needed <= height ? "" : "needs " + std::to_string(needed) + " of " + std::to_string(height) + " rows";
        }
        font = text->font_index, style = text->style, label = text->string, room = width;
    }
    else if (item->handler == button_control_def_proc || item->handler == checkbox_button_control_def_proc)
    {
        if (!button || !button->name[0] || (button->flags & _button_control_word_wrapped_text_flag)) return "";
        font = get_interface_font_index(0), label = button->name, room = button->text_bounds.right - button->text_bounds.left;
    }
    else return "";
    room -= get_font_definition(font)->leading_width;
    const int32_t needed = string_width(font, style, label);
    if (needed >= room) return "is cut short: " + std::to_string(needed) + " in " + std::to_string(room);
    if (item->handler == static_text_control_def_proc) return "";
    const bool beside = button->text_bounds.right > item->bounds.right || button->text_bounds.left < item->bounds.left;
    return beside ? "is drawn beside its button" : "";
}

// The contrast of two colours (0xRRGGBB) as readability guidelines measure
// it: 1 for the same colour, 21 for black on white.
double contrast(uint32_t a, uint32_t b)
{
    const auto luminance = [](uint32_t rgb) {
        double sum = 0;
        const double weights[] = {0.2126, 0.7152, 0.0722};
        for (int32_t i = 0; i < 3; ++i)
        {
            const double c = ((rgb >> (16 - 8 * i)) & 0xFF) / 255.0;
            sum += weights[i] * (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    const double x = luminance(a) + 0.05, y = luminance(b) + 0.05;
    return x > y ? x / y : y / x;
}

// The colour most of `area` (screen coordinates) shows: a text's background.
uint32_t most_common_pixel(const dialog_test_screen &screen, const rectangle2d &area)
{
    std::map<uint32_t, int32_t> counts;
    for (int32_t y = std::max<int32_t>(area.top, 0); y < std::min<int32_t>(area.bottom, DIALOG_TEST_SCREEN_HEIGHT); ++y)
        for (int32_t x = std::max<int32_t>(area.left, 0); x < std::min<int32_t>(area.right, DIALOG_TEST_SCREEN_WIDTH); ++x)
            ++counts[screen.pixel(x, y) & 0xFFFFFF];
    uint32_t best = 0;
    int32_t most = -1;
    for (const auto &[pixel, count] : counts)
        if (count > most) best = pixel, most = count;
    return best;
}

// Each text an item shows, in its colour, and where it is drawn (dialog
// coordinates): a label's or a checkbox's or radio button's caption, drawn on
// what lies under it.
bool shown_text(const control_data *item, rgb_color *color, rectangle2d *where)
{
    if (item->handler == static_text_control_def_proc)
    {
        const text_extra_data *text = (const text_extra_data *)item->extra_data;
        if (!text || !text->string || !*text->string) return false;
        *color = text->color, *where = item->bounds;
        return true;
    }
    if (item->handler != checkbox_button_control_def_proc && item->handler != radio_button_control_def_proc)
        return false;
    const button_control_data *button = (const button_control_data *)item->extra_data;
    if (!button || !button->name[0]) return false;
    *color = button->text_color, *where = button->text_bounds;
    return true;
}

class demo_dialog_layout : public demo_interface_test
{
protected:
    void SetUp() override
    {
        demo_fonts = true, demo_interface_test::SetUp();
        // The lobby's own control types too, as the game registers them at
        // start: unregistered, the lobby dialog's banner, room, games and
        // buddy and order lists would be items without a type, never checked.
        if (!HasFatalFailure() && !IsSkipped()) register_metaserver_controls();
    }
};

TEST_F(demo_dialog_layout, every_demo_dialog_fits_the_screen_and_its_items_and_texts_fit_their_rectangles)
{
    const std::vector<std::string> subgroups = demo_dialog_subgroups();
    ASSERT_GT(subgroups.size(), 30u);
    const struct { int16_t width, height; } screens[] = {{640, 480}, {1024, 768}};
    for (const std::string &subgroup : subgroups)
    {
        SCOPED_TRACE(subgroup);
        dialog_data *dialog = new_dialog(dialog_test_code(subgroup.c_str()), nullptr, nullptr, NONE, 0);
        ASSERT_NE(dialog, nullptr);
        const rectangle2d own = {0, 0, (int16_t)(dialog->bounds.bottom - dialog->bounds.top),
                                 (int16_t)(dialog->bounds.right - dialog->bounds.left)};
        // Those opened centred over a running game leave its status bar clear.
        const bool over_a_game = subgroup == "pocr" || subgroup == "gati" || subgroup == "qudi";
        rectangle2d status_bar = {0, 0, 0, 0};
        ASSERT_TRUE(get_dialog_bounds_from_file(dialog_test_code("!sba"), &status_bar));
        for (const auto &s : screens)
        {
            EXPECT_TRUE(own.right <= s.width && own.bottom <= s.height) << s.width << " x " << s.height;
            EXPECT_TRUE(!over_a_game || (s.height - own.bottom) / 2 >= status_bar.bottom - status_bar.top)
                << "over the status bar at " << s.width << " x " << s.height;
        }
        // What the lobby's code does before it shows it: tabs laid out by
        // their count and picture, buttons sized by their picture.
        if (subgroup == "medi") set_metaserver_client_dialog_tabs(dialog), set_metaserver_client_dialog_shapes(dialog);
        for (const code_layout &layout : code_layouts)
        {
            if (subgroup == layout.subgroup)
            {
                ASSERT_TRUE(layout.lay_out(dialog));
            }
        }
        const rectangle2d frame = give_art_and_measure_frame(dialog, subgroup, own);
        std::vector<const control_data *> drawn;
        for (const control_data *item = get_first_dialog_control(dialog); item; item = item->next)
        {
            // A list is drawn by a row drawer: its control type's, or for the
            // plain lists of the create-or-join dialog, the network selection
            // and the room chooser, their dialog's code's (tested there).
            const list_extra_data *list = (const list_extra_data *)item->extra_data;
            const bool drawn_by_its_dialog = (subgroup == "Inet" && item->item_id == 4) ||
                                             (subgroup == "nesp" && item->item_id == 12) ||
                                             (subgroup == "room" && item->item_id == 3);
            EXPECT_TRUE(!item->handler || !list || list->cookie != LIST_EXTRA_DATA_COOKIE || list->list->draw_proc ||
                        drawn_by_its_dialog)
                << "item " << item->item_id << " is a list nobody draws";
            if (!item->handler || !bitmap_get_item_visible(dialog, item->item_id)) continue;
            const rectangle2d extent = drawn_extent(item);
            EXPECT_TRUE(laid_out_by_code(subgroup, item, own) ||
                        inside(extent, is_push_button(item) ? inset(frame, FRAME_MARGIN) : frame))
                << "item " << item->item_id << " is drawn over or against the frame " << span(frame) << ": "
                << span(extent);
            // Nothing drawn lies over another item, but what is shown in turn
            // in one place.
            for (const control_data *other : drawn)
                EXPECT_TRUE(laid_out_by_code(subgroup, item, own) || laid_out_by_code(subgroup, other, own) ||
                            shown_in_turn(subgroup, item) || shown_in_turn(subgroup, other) ||
                            !meet(extent, drawn_extent(other)) ||
                            !memcmp(&item->bounds, &other->bounds, sizeof(item->bounds)))
                    << "items " << other->item_id << " and " << item->item_id << " lie over each other: "
                    << span(drawn_extent(other)) << " and " << span(extent);
            drawn.push_back(item);
            const std::string wrong = misfit(item);
            EXPECT_EQ(wrong, "") << "the text of item " << item->item_id;
            const char *words = own_words(item);
            EXPECT_TRUE(!*words || has_a_word(words)) << "item " << item->item_id << " says only \"" << words << "\"";
        }
        // Every field a player types in says what to type, and every list,
        // spinner, slider and pop-up what it chooses.
        for (const control_data *field : drawn)
        {
            if (!is_type(field, "edit") && !is_type(field, "pass") && !is_type(field, "numb") &&
                !is_type(field, "slid") && !is_type(field, "popu") && !is_type(field, "list") &&
                !is_type(field, "slst"))
                continue;
            EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(), [&](const control_data *l) { return labels(l, field); }))
                << "field " << field->item_id << " (" << tag_to_string(field->tag) << ") has no label";
        }
        // Every text reads against what it is drawn on (4.5 to 1 at least).
        screen.fill();
        render_dialogs(screen.bitmap);
        // VESK_DIALOG_PICTURES=DIR keeps each dialog as laid out here, to look at.
        if (const char *pictures = getenv("VESK_DIALOG_PICTURES"))
        {
            EXPECT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", subgroup.c_str(), "png", 0));
            std::error_code error;
            std::filesystem::copy_file("pictures/" + subgroup + ".png",
                                       std::filesystem::path(pictures) / (subgroup + ".png"),
                                       std::filesystem::copy_options::overwrite_existing, error);
            EXPECT_FALSE(error) << error.message();
        }
        for (const control_data *item = get_first_dialog_control(dialog); item; item = item->next)
        {
            rgb_color color;
            rectangle2d where;
            if (!item->handler || !bitmap_get_item_visible(dialog, item->item_id) || !shown_text(item, &color, &where))
                continue;
            offset_rectangle2d(&where, dialog->bounds.left, dialog->bounds.top);
            const uint32_t text = rgb_color_to_pixel32(&color), under = most_common_pixel(screen, where);
            EXPECT_GE(contrast(text, under), 4.5) << "the text of item " << item->item_id << " (" << std::hex << text
                                                 << " on " << under << std::dec << ")";
        }
        dispose_dialog(dialog);
    }
}

// The stories' own colours read on their own art: the epilogue's report
// (after a win and after a loss), the prologue's title and text, the
// closing text; an epilogue without art of its level's is drawn on the
// closing text's art in the report's own white.
TEST_F(demo_dialog_layout, every_story_text_reads_on_its_art)
{
    const struct
    {
        const char *dialog, *art;
        int16_t background, colors, first, count;
    } stories[] = {
        {"epdi", "epsv", 0, 2, 0, 3}, {"epdi", "epsv", 1, 2, 0, 3}, {"prdi", "cvpr", 0, 3, 0, 2},
        {"inge", "inge", 0, 1, 1, 1}, {"epdi", "inge", 0, NONE, 0, 1},
    };
    for (const auto &story : stories)
    {
        SCOPED_TRACE(std::string(story.dialog) + " on " + story.art + " " + std::to_string(story.background));
        const int32_t collection =
            try_and_get_collection_index(FOUR_CHARACTER_CODE(story.art[0], story.art[1], story.art[2], story.art[3]));
        ASSERT_NE(collection, NONE);
        dialog_data *dialog = new_dialog(dialog_test_code(story.dialog), nullptr, nullptr, NONE, 0);
        ASSERT_NE(dialog, nullptr);
        set_dialog_background(dialog, (int16_t)collection, story.background);
        screen.fill();
        render_dialogs(screen.bitmap);
        const rectangle2d middle = {(int16_t)(dialog->bounds.top + 40), (int16_t)(dialog->bounds.left + 40),
                                    (int16_t)(dialog->bounds.bottom - 40), (int16_t)(dialog->bounds.right - 40)};
        const uint32_t under = most_common_pixel(screen, middle);
        for (int16_t i = story.first; i < story.first + story.count; ++i)
        {
            rgb_color color = {0xFFFF, 0xFFFF, 0xFFFF, 0};
            if (story.colors != NONE) get_rgb_color_from_sequence((int16_t)collection, story.colors, i, &color);
            const uint32_t text = rgb_color_to_pixel32(&color);
            EXPECT_GE(contrast(text, under), 4.5) << "colour " << i << std::hex << " (" << text << " on " << under << ")";
        }
        dispose_dialog(dialog);
    }
}

// The menus load the interface again each time they open, while its fonts
// stay loaded: the interface's change of its small font's line height is
// made once, so wrapped lines keep their spacing from one menu to the next.
TEST_F(demo_dialog_layout, wrapped_lines_keep_the_fonts_line_height_when_the_interface_is_loaded_again)
{
    const int32_t font = get_interface_font_index(0);
    const font_definition *definition = get_font_definition(font);
    ASSERT_NE(definition, nullptr);
    const int32_t line = get_font_line_height(font);
    const char *const text = "one\rtwo\rthree";
    int32_t first = 0, again = 0;
    get_string_height(text, font, -1, 200, &first);
    for (int32_t i = 0; i < 3; ++i) ASSERT_TRUE(initialize_interface_without_map());
    get_string_height(text, get_interface_font_index(0), -1, 200, &again);
    EXPECT_EQ(again, first);
    EXPECT_GE(first, 3 * line - 2) << "each line advances by about the font's line height";
}

// Bad input: a text far longer than its item is cut (or wrapped) inside the
// item's rectangle, its drop shadow included; nothing lands on a neighbour.
TEST_F(demo_dialog_layout, a_text_longer_than_its_item_stays_inside_the_item)
{
    std::string longer = "A label that goes on";
    while (longer.size() < 400) longer += " and on";
    dialog_data *dialog = new_dialog(dialog_test_code("!prf"), nullptr, nullptr, NONE, 0);
    ASSERT_NE(dialog, nullptr);
    const struct
    {
        const char *what;
        int16_t item_id;
        void (*give)(dialog_data *, int16_t, const char *);
    } cases[] = {
        {"static text", 19, [](dialog_data *d, int16_t id, const char *t) { set_bitmap_dialog_static_item_text(d, id, t); }},
        {"button label", 40, [](dialog_data *d, int16_t id, const char *t) { set_button_control_name(d, id, t); }},
        {"list row", 22, [](dialog_data *d, int16_t id, const char *t) { add_string_to_list(d, id, t, 1, true); }},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        control_data *item = find_control(dialog, c.item_id);
        ASSERT_NE(item, nullptr);
        c.give(dialog, c.item_id, longer.c_str());
        screen.fill();
        param_control_draw_verb draw = {screen.bitmap, 0};
        item->handler(_control_draw_verb, dialog, c.item_id, &draw);
        EXPECT_GT(screen.count_changed(&item->bounds), 0) << "the text is drawn";
        const rectangle2d drawn = screen.changed_bounds();
        EXPECT_TRUE(inside(drawn, item->bounds)) << "drawn over " << drawn.left << ".." << drawn.right << " x "
                                                 << drawn.top << ".." << drawn.bottom;
    }
    dispose_dialog(dialog);
}

// A spinner's words and a short list's rows come from their dialog's code,
// unseen above: the longest word shows whole in the spinner's box (less its
// arrows), not cut to "Nor...", and every row of a list of a fixed few shows.
TEST_F(demo_dialog_layout, a_spinners_longest_word_and_a_short_lists_rows_fit_their_items)
{
    std::vector<std::string> rules = {"Default"}; // the gameplay selector's words
    for (int32_t i = 0; i < NUMBER_OF_GAMEPLAY_VERSIONS; ++i)
        if (const gameplay_version_definition *row = get_gameplay_version_definition(i)) rules.push_back(row->name);
    const struct { const char *subgroup; int16_t item_id, rows; std::vector<std::string> words; } cases[] = {
        {"!ngp", 41, 0, {"Very Easy", "Very Hard"}}, {"!ngp", 24, 0, rules}, {"!ngp", 20, 0, {"No Limit"}},
        {"!key", 7, 0, {"Right Handed", "Left Handed"}}, {"!ngp", 16, NUMBER_OF_DIFFICULTY_LEVELS, {}},
        {"!new", 8, NUMBER_OF_DIFFICULTY_LEVELS, {}}};
    const int32_t font = get_interface_font_index(0), leading = get_font_definition(font)->leading_width;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(std::string(c.subgroup) + " item " + std::to_string(c.item_id));
        dialog_data *dialog = new_dialog(dialog_test_code(c.subgroup), nullptr, nullptr, NONE, 0);
        const control_data *item = dialog ? find_control(dialog, c.item_id) : nullptr;
        ASSERT_NE(item, nullptr);
        const int32_t box = item->bounds.right - item->bounds.left - ICON_SPACING - 2 - leading;
        for (const std::string &word : c.words)
            EXPECT_LT(string_width(font, -1, word.c_str()), box) << "\"" << word << "\" is cut short";
        const int32_t rows_height = c.rows ? c.rows * bitmap_get_list_line_height(dialog, c.item_id) : 0;
        EXPECT_GE(item->bounds.bottom - item->bounds.top - 2, rows_height) << "its last rows are cut";
        dispose_dialog(dialog);
    }
}

} // namespace

} // namespace demo_dialog_layout_test_file
