#pragma once
// What every dialog test shares: a 640 x 480 screen of the 32-bit encoding
// in memory, filled with a sentinel so that a test sees every pixel a draw
// touched; the probe control type 'tprb', which records every verb it gets
// with its parameters and answers focus, keys, clicks, the wheel and idle
// time as a test configures; and a fixture that stores dialog tags (and
// their string lists) written by the data tool's own writer in a scratch
// tag store, so that dialogs are always loaded from stored bytes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tag_files/store_fixture.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "dialog_tag_writer.h"
#include "screen.h"

// ---- the memory screen -----------------------------------------------------------

enum
{
    DIALOG_TEST_SCREEN_WIDTH = 640,
    DIALOG_TEST_SCREEN_HEIGHT = 480,
};
constexpr uint32_t DIALOG_TEST_SENTINEL = 0x5AA55AA5u;

struct dialog_test_screen
{
    bitmap_data *bitmap; // _32bit_encoding, DIALOG_TEST_SCREEN_WIDTH x DIALOG_TEST_SCREEN_HEIGHT

    dialog_test_screen(void);
    ~dialog_test_screen(void);
    dialog_test_screen(const dialog_test_screen &) = delete;
    dialog_test_screen &operator=(const dialog_test_screen &) = delete;

    void fill(uint32_t pixel = DIALOG_TEST_SENTINEL);
    uint32_t pixel(int32_t x, int32_t y) const;
    // Pixels that no longer hold the sentinel, inside `area` (the whole screen when NULL).
    int32_t count_changed(const rectangle2d *area = nullptr) const;
    // The bounds of every pixel that no longer holds the sentinel; empty
    // (0, 0, 0, 0) when none does.
    rectangle2d changed_bounds(void) const;
};

// The active screen as a 640 x 480 software screen of the 32-bit encoding,
// which get_screen_bounds reports; restore_dialog_test_screen_bounds puts
// back the start-up state.
void use_dialog_test_screen_bounds(void);
void restore_dialog_test_screen_bounds(void);

// ---- the probe control -------------------------------------------------------------

#define PROBE_CONTROL_TAG FOUR_CHARACTER_CODE('t', 'p', 'r', 'b')
#define PROBE_RECORD_COOKIE FOUR_CHARACTER_CODE('P', 'R', 'O', 'B')

enum probe_click_answer
{
    _probe_click_tracks = 0, // default_control_handler's press tracking
    _probe_click_always,     // 1 on every click
    _probe_click_never,      // 0 on every click
};

// How a probe item answers.  Set before the dialog is made: verb 8 is asked
// at creation.
struct probe_answers
{
    bool accepts_focus = false;  // verb 5 with gaining = true
    bool uses_keys = false;      // verb 4
    int16_t click = _probe_click_tracks; // verb 3
    bool uses_wheel = false;     // verb 10
    bool wants_idle = false;     // verb 8
    bool idle_redraws = false;   // verb 9
};

// One verb as the probe got it; parameters copied out of their records.
struct probe_call
{
    int16_t verb;
    dialog_data *dialog;
    int16_t item_id;
    uint16_t item_flags;    // the item's flags when the verb came (0 when it was not found)
    uint16_t item_state;
    // verb 0
    file_control_data definition;
    std::string text;
    // verb 2
    void *data;
    // verbs 3, 4, 10
    bool has_action;
    action_data action;
    // verb 5
    bool gaining_focus;
    // verb 6
    bitmap_data *dialog_bitmap;
    uint16_t draw_flags;
    // verb 7
    int16_t enabled, visible;
    intptr_t result;
};

// The probe's extra data: made by verb 0, freed by verb 2 (so ASan sees a
// leak or a second free).
struct probe_record
{
    int32_t cookie; // PROBE_RECORD_COOKIE
    int16_t item_id;
    char text[64];
};

// Registers 'tprb' (again is harmless: the first registration stays).
bool register_probe_control(void);
intptr_t probe_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Forgets the calls, the answers and the hook.
void reset_probe(void);
// Answers for items with this identifier, in every dialog; other items get `set_default_probe_answers`.
void set_probe_answers(int16_t item_id, const probe_answers &answers);
void set_default_probe_answers(const probe_answers &answers);
// Run inside the verb after it is recorded and answered (a test may dispose
// the dialog from it, as a control's own code could).
void set_probe_hook(std::function<void(const probe_call &)> hook);

const std::vector<probe_call> &probe_calls(void);
void clear_probe_calls(void);
// The calls of one item (and one verb, unless NONE), in order.
std::vector<probe_call> probe_calls_for(int16_t item_id, int16_t verb = NONE);
// The verbs received, in order (all items, or one item).
std::vector<int16_t> probe_verbs(int16_t item_id = NONE);

// A probe item of the description.
dialog_item_description probe_item(int16_t item_id, rectangle2d bounds, const char *text = "", uint16_t flags = 0);

// ---- the fixture ---------------------------------------------------------------------

// A scratch tag store with the collections group set up (a test stores the
// collections it draws with), the 640 x 480 test screen bounds, the probe
// control registered and reset, and the game's local time at 0.  TearDown
// closes the dialogs a test left open and forgets the string lists and
// collections it loaded.
class dialog_test : public store_fixture::store_test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Stores the dialog tag `subgroup` (four characters) written from the
    // description, and with `with_string_list` its dialog string list.
    void store_dialog(const char *subgroup, const dialog_description &dialog, bool with_string_list = false);
    void store_dialog_bytes(const char *subgroup, const std::vector<uint8_t> &bytes);
    void store_dialog_string_list(const char *subgroup, const std::vector<std::string> &rows);

    // store_dialog, then new_dialog on it.
    dialog_data *open_dialog(const char *subgroup, const dialog_description &dialog, uint16_t flags = 0,
                             dialog_handler_proc handler = nullptr, dialog_inhibition_proc inhibitor = nullptr,
                             int16_t sleep_time = NONE);
};

// The demo's art without the dialog layer's input: a store of the demo tags
// (the test skipped when the data tool is not built, failed under CI) under
// gameplay version 1811, with the shapes started and every registration
// cleared first, over the 640 x 480 test screen bounds.  `started` is true
// once the test is not skipped.  TearDown closes the dialogs and disposes of
// the shapes, string lists and definitions.
class demo_shapes_test : public store_fixture::store_test
{
protected:
    bool started = false;

    void SetUp() override;
    void TearDown() override;
};

// demo_shapes_test with the interface fonts and definitions and the game's
// controls, for tests that draw controls with the demo's art.
class demo_controls_test : public demo_shapes_test
{
protected:
    dialog_test_screen screen;

    void SetUp() override;
    void TearDown() override;
};

// The tag code of four characters.
inline file_tag dialog_test_code(const char *text)
{
    return FOUR_CHARACTER_CODE(text[0], text[1], text[2], text[3]);
}

// An item of the control type `code` (four characters) for a test dialog.
inline dialog_item_description dialog_test_item(const char *code, int16_t id, rectangle2d bounds, const char *text = "")
{
    dialog_item_description d;
    d.type = dialog_test_code(code);
    d.item_id = id;
    d.bounds = bounds;
    d.text = text;
    return d;
}
