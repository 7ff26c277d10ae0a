#include "support/dialog_input_harness.h"

#include <functional>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/carnage_header_control.h"
#include "bitmap_dialogs/postgame_report_control.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "bitmap_dialogs/status_bar_control.h"
#include "support/expected_assertions.h"

namespace control_records_test_file {

namespace {

// A type whose record is the default handler's copy of the item's text: for
// an empty text, one byte, shorter than any control's cookie.
#define SHORT_RECORD_TAG FOUR_CHARACTER_CODE('s', 'h', 'r', 't')

enum
{
    SHORT_ITEM = 1,
};

class control_records : public dialog_input_test
{
};

// A control's accessor compares the item's procedure before it reads the
// record: an item of another type under the identifier is refused (with the
// type's own assertion, or quietly) and its record is never read, which ASan
// would report for a record shorter than a cookie.
TEST_F(control_records, an_item_of_another_type_is_refused_before_its_record_is_read)
{
    ASSERT_TRUE(register_control_procedure(SHORT_RECORD_TAG, default_control_handler));
    dialog_data *dialog = open_test_dialog("shrt", {dialog_test_item("shrt", SHORT_ITEM, {10, 10, 30, 100})});
    ASSERT_NE(dialog, nullptr);
    const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    const struct
    {
        const char *name;
        std::function<void(void)> call;
        const char *assertion; // NULL: refused quietly
    } cases[] = {
        {"carnage header", [&] { set_carnage_header_type(dialog, SHORT_ITEM, 1, false); }, nullptr},
        {"carnage graph", [&] { set_carnage_graph_type(dialog, SHORT_ITEM, 1); }, nullptr},
        {"postgame report", [&] { set_postgame_report_control_colors(dialog, SHORT_ITEM, &white, &white, &white); },
         "data->cookie==POSTGAME_REPORT_CONTROL_COOKIE"},
        {"progress bar", [&] { set_progress_bar_fraction(dialog, SHORT_ITEM, 100); }, "not a progress bar"},
        {"status bar", [&] { set_status_bar_fraction(dialog, SHORT_ITEM, 100); }, "not a status bar"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        expected_assertions expect(c.assertion ? 1 : 0, c.assertion);
        c.call();
    }
}

} // namespace

} // namespace control_records_test_file

// The test programs compile their files together: this file's macros end here.
#undef SHORT_RECORD_TAG
