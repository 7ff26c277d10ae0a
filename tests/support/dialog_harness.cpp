// The dialog tests' screen, probe control and fixture.

#include "dialog_harness.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/cstrings.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "interface_definitions.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "tag_files/definitions.h"
#include "vesk/string_lists.h"

// ---- the memory screen -----------------------------------------------------------

dialog_test_screen::dialog_test_screen(void)
{
    bitmap = new_bitmap(DIALOG_TEST_SCREEN_WIDTH, DIALOG_TEST_SCREEN_HEIGHT, 0, _32bit_encoding, 0);
    if (bitmap) fill();
}

dialog_test_screen::~dialog_test_screen(void) { free(bitmap); }

void dialog_test_screen::fill(uint32_t value)
{
    if (!bitmap) return;
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        uint32_t *row = (uint32_t *)bitmap->row_addresses[y];
        for (int32_t x = 0; x < bitmap->width; ++x) row[x] = value;
    }
}

uint32_t dialog_test_screen::pixel(int32_t x, int32_t y) const
{
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) return DIALOG_TEST_SENTINEL;
    return ((const uint32_t *)bitmap->row_addresses[y])[x];
}

int32_t dialog_test_screen::count_changed(const rectangle2d *area) const
{
    const rectangle2d whole = {0, 0, DIALOG_TEST_SCREEN_HEIGHT, DIALOG_TEST_SCREEN_WIDTH};
    const rectangle2d *r = area ? area : &whole;
    int32_t count = 0;
    for (int32_t y = r->top; y < r->bottom; ++y)
        for (int32_t x = r->left; x < r->right; ++x)
            if (pixel(x, y) != DIALOG_TEST_SENTINEL) ++count;
    return count;
}

rectangle2d dialog_test_screen::changed_bounds(void) const
{
    rectangle2d r = {0, 0, 0, 0};
    bool any = false;
    for (int32_t y = 0; y < DIALOG_TEST_SCREEN_HEIGHT; ++y)
        for (int32_t x = 0; x < DIALOG_TEST_SCREEN_WIDTH; ++x)
        {
            if (pixel(x, y) == DIALOG_TEST_SENTINEL) continue;
            if (!any) r = {(int16_t)y, (int16_t)x, (int16_t)(y + 1), (int16_t)(x + 1)};
            any = true;
            if (y < r.top) r.top = (int16_t)y;
            if (x < r.left) r.left = (int16_t)x;
            if (y + 1 > r.bottom) r.bottom = (int16_t)(y + 1);
            if (x + 1 > r.right) r.right = (int16_t)(x + 1);
        }
    return r;
}

void use_dialog_test_screen_bounds(void)
{
    active_screen.screen_initialized = true;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.bit_depth = 32;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = DIALOG_TEST_SCREEN_WIDTH;
    active_screen.height = DIALOG_TEST_SCREEN_HEIGHT;
}

void restore_dialog_test_screen_bounds(void) { active_screen = initial_active_screen(); }

// ---- the probe control -------------------------------------------------------------

namespace {

struct probe_state
{
    std::vector<probe_call> calls;
    std::map<int16_t, probe_answers> answers;
    probe_answers default_answers;
    std::function<void(const probe_call &)> hook;
};

probe_state &probe(void)
{
    static probe_state state;
    return state;
}

const probe_answers &answers_for(int16_t item_id)
{
    const auto found = probe().answers.find(item_id);
    return found == probe().answers.end() ? probe().default_answers : found->second;
}

// The item as the dialog holds it, read without the dialog layer's checks:
// the probe must not add assertions of its own to what a test sees.
const control_data *probe_item_record(const dialog_data *dialog, int16_t item_id)
{
    if (!dialog) return nullptr;
    for (const control_data *c = dialog->first_control; c; c = c->next)
        if (c->item_id == item_id) return c;
    return nullptr;
}

} // namespace

bool register_probe_control(void) { return register_control_procedure(PROBE_CONTROL_TAG, probe_control_def_proc); }

intptr_t probe_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    probe_call call;
    memset((void *)&call, 0, offsetof(probe_call, text));
    call.verb = verb;
    call.dialog = dialog;
    call.item_id = item_id;
    call.data = nullptr;
    call.has_action = false;
    memset(&call.action, 0, sizeof(call.action));
    call.gaining_focus = false;
    call.dialog_bitmap = nullptr;
    call.draw_flags = 0;
    call.enabled = call.visible = 0;
    call.result = 0;
    if (const control_data *item = probe_item_record(dialog, item_id))
    {
        call.item_flags = item->flags;
        call.item_state = item->state;
    }
    const probe_answers answers = answers_for(item_id);
    intptr_t result = 0;
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        call.definition = *p->definition;
        call.text = p->text ? p->text : "(null)";
        probe_record *record = (probe_record *)malloc(sizeof(probe_record));
        if (record)
        {
            record->cookie = PROBE_RECORD_COOKIE;
            record->item_id = item_id;
            strlcpy(record->text, p->text ? p->text : "", sizeof(record->text));
        }
        result = (intptr_t)record;
        break;
    }
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        call.data = p->data;
        probe_record *record = (probe_record *)p->data;
        if (record && record->cookie == PROBE_RECORD_COOKIE)
        {
            record->cookie = 0;
            free(record);
        }
        break;
    }
    case _control_click_verb:
        call.has_action = true;
        call.action = *((const param_control_click_verb *)parameter)->action;
        if (answers.click == _probe_click_always) result = 1;
        else if (answers.click == _probe_click_tracks) result = default_control_handler(verb, dialog, item_id, parameter);
        break;
    case _control_key_verb:
        call.has_action = true;
        call.action = *((const param_control_key_verb *)parameter)->action;
        result = answers.uses_keys;
        break;
    case _control_focus_verb:
        call.gaining_focus = ((const param_control_focus_verb *)parameter)->gaining_focus;
        result = call.gaining_focus && answers.accepts_focus;
        break;
    case _control_draw_verb:
        call.dialog_bitmap = ((const param_control_draw_verb *)parameter)->dialog_bitmap;
        call.draw_flags = ((const param_control_draw_verb *)parameter)->draw_flags;
        break;
    case _control_accept_new_state_verb:
        call.enabled = ((const param_control_accept_new_state_verb *)parameter)->enabled;
        call.visible = ((const param_control_accept_new_state_verb *)parameter)->visible;
        break;
    case _control_requires_idle_time_verb: result = answers.wants_idle; break;
    case _control_idle_verb: result = answers.idle_redraws; break;
    case _control_wheel_verb:
        call.has_action = true;
        call.action = *((const param_control_wheel_verb *)parameter)->action;
        result = answers.uses_wheel;
        break;
    case _control_new_completion_verb: break;
    default: result = default_control_handler(verb, dialog, item_id, parameter); break;
    }
    call.result = result;
    probe().calls.push_back(call);
    if (probe().hook)
    {
        const std::function<void(const probe_call &)> hook = probe().hook;
        hook(call);
    }
    return result;
}

void reset_probe(void)
{
    probe().calls.clear();
    probe().answers.clear();
    probe().default_answers = probe_answers();
    probe().hook = nullptr;
}

void set_probe_answers(int16_t item_id, const probe_answers &answers) { probe().answers[item_id] = answers; }
void set_default_probe_answers(const probe_answers &answers) { probe().default_answers = answers; }
void set_probe_hook(std::function<void(const probe_call &)> hook) { probe().hook = std::move(hook); }
const std::vector<probe_call> &probe_calls(void) { return probe().calls; }
void clear_probe_calls(void) { probe().calls.clear(); }

std::vector<probe_call> probe_calls_for(int16_t item_id, int16_t verb)
{
    std::vector<probe_call> calls;
    for (const probe_call &c : probe().calls)
        if (c.item_id == item_id && (verb == NONE || c.verb == verb)) calls.push_back(c);
    return calls;
}

std::vector<int16_t> probe_verbs(int16_t item_id)
{
    std::vector<int16_t> verbs;
    for (const probe_call &c : probe().calls)
        if (item_id == NONE || c.item_id == item_id) verbs.push_back(c.verb);
    return verbs;
}

dialog_item_description probe_item(int16_t item_id, rectangle2d bounds, const char *text, uint16_t flags)
{
    dialog_item_description item;
    item.type = PROBE_CONTROL_TAG;
    item.item_id = item_id;
    item.bounds = bounds;
    item.flags = flags;
    item.text = text;
    return item;
}

// ---- the fixture ---------------------------------------------------------------------

void dialog_test::SetUp()
{
    store_test::SetUp();
    ASSERT_TRUE(initialize_shapes());
    start_store();
    initialize_shapes_for_new_map();
    use_dialog_test_screen_bounds();
    ASSERT_TRUE(register_probe_control());
    reset_probe();
    game_->local_time = 0;
}

void dialog_test::TearDown()
{
    close_all_dialogs();
    reset_probe();
    dispose_string_lists();
    dispose_shapes_from_old_map();
    dispose_definitions();
    restore_dialog_test_screen_bounds();
    store_test::TearDown();
}

void dialog_test::store_dialog(const char *subgroup, const dialog_description &dialog, bool with_string_list)
{
    store_dialog_bytes(subgroup, build_dialog_tag_data(dialog));
    if (with_string_list) store_dialog_string_list(subgroup, dialog_string_list_rows(dialog));
}

void dialog_test::store_dialog_bytes(const char *subgroup, const std::vector<uint8_t> &bytes)
{
    write_local_tag(DIALOG_GROUP_TAG, subgroup, CURRENT_DIALOG_VERSION, bytes.data(), (int32_t)bytes.size());
}

void dialog_test::store_dialog_string_list(const char *subgroup, const std::vector<std::string> &rows)
{
    std::vector<const char *> texts;
    for (const std::string &row : rows) texts.push_back(row.c_str());
    const int32_t size = encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0);
    ASSERT_GT(size, 0);
    std::vector<uint8_t> data(size);
    ASSERT_EQ(encode_string_list_data(texts.data(), (int32_t)texts.size(), data.data(), size), size);
    write_local_tag(DIALOG_STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, data.data(), size);
}

dialog_data *dialog_test::open_dialog(const char *subgroup, const dialog_description &dialog, uint16_t flags,
                                      dialog_handler_proc handler, dialog_inhibition_proc inhibitor,
                                      int16_t sleep_time)
{
    store_dialog(subgroup, dialog);
    return new_dialog(dialog_test_code(subgroup), handler, inhibitor, sleep_time, flags);
}

// ---- the demo's controls -------------------------------------------------------------

void demo_shapes_test::SetUp()
{
    store_test::SetUp();
    if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
    started = true;
    clear_all_registrations();
    register_shapes_hooks();
    ASSERT_TRUE(initialize_shapes());
    current_gameplay_version = 1811;
    WRITE_DEMO_FOUNDATION_FILES();
    start_store();
    use_dialog_test_screen_bounds();
    initialize_shapes_for_new_map();
}

void demo_shapes_test::TearDown()
{
    if (started)
    {
        close_all_dialogs();
        dispose_shapes_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        clear_all_registrations();
        restore_dialog_test_screen_bounds();
    }
    store_test::TearDown();
}

void demo_controls_test::SetUp()
{
    demo_shapes_test::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    ASSERT_TRUE(initialize_font_definitions());
    ASSERT_TRUE(initialize_interface());
    ASSERT_TRUE(initialize_interface_without_map());
    ASSERT_NE(try_and_get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG), NONE);
    register_vesk_controls();
}

void demo_controls_test::TearDown()
{
    if (started)
    {
        close_all_dialogs();
        dispose_interface_from_old_map();
        dispose_font_definitions_from_old_map();
    }
    demo_shapes_test::TearDown();
}
