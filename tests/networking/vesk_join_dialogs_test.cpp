// The join-failed message and the missing plug-ins list on the demo's
// dialogs, worked through the real modal loop with scripted passes.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cstrings.h"
#include "support/dialog_input_harness.h"
#include "support/dialog_script.h"
#include "tag_files/plugins.h"
#include "vesk_networking/vesk_join_dialogs.h"

namespace
{

class join_dialogs : public demo_interface_test
{
protected:
    static std::vector<missing_plugin_info> two_missing(void)
    {
        std::vector<missing_plugin_info> missing(2);
        memset(missing.data(), 0, sizeof(missing_plugin_info) * missing.size());
        strlcpy(missing[0].name, "Red Hills", sizeof(missing[0].name));
        strlcpy(missing[0].url, "http://plugins.example/red", sizeof(missing[0].url));
        strlcpy(missing[1].name, "Blue Coast", sizeof(missing[1].name));
        return missing;
    }
};

TEST_F(join_dialogs, the_message_or_the_descriptions_own_reason_waits_for_ok)
{
    net_game_description obsolete = {};
    obsolete.parameters.version = 2180;
    struct
    {
        const net_game_description *description;
        const char *shown;
    } cases[] = {
        {nullptr, "The host left."},
        {&obsolete, "Join failed: The host is running an obsolete build of Vesk II 1.8."},
    };
    for (const auto &c : cases)
    {
        restart_main_loop_script();
        std::string shown;
        inspect([&](dialog_data *dialog) {
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->tag, JOIN_GAME_FAILED_DIALOG_TAG);
            char text[JOIN_FAILED_MESSAGE_SIZE];
            shown = get_bitmap_dialog_static_item_text(dialog, _join_failed_message_item, text, sizeof(text));
        });
        press(_join_failed_ok_item);
        EXPECT_FALSE(do_join_game_failed_dialog("The host left.", c.description));
        EXPECT_EQ(shown, c.shown);
    }
}

TEST_F(join_dialogs, the_missing_plugins_list_answers_false_to_ok_and_true_when_closed_from_outside)
{
    const std::vector<missing_plugin_info> missing = two_missing();
    restart_main_loop_script();
    int16_t rows = 0;
    inspect([&](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        rows = bitmap_get_listbox_row_count(dialog, _missing_plugins_list_item);
    });
    press(_missing_plugins_ok_item);
    EXPECT_FALSE(open_missing_plugins_dialog(missing.data(), (int32_t)missing.size()));
    EXPECT_EQ(rows, 2);
    EXPECT_FALSE(missing_plugins_dialog_is_open());

    // A playable description arriving closes it; a second list replaces the first.
    restart_main_loop_script();
    inspect([&](dialog_data *dialog) {
        EXPECT_TRUE(open_missing_plugins_dialog(missing.data(), 1));
        rows = bitmap_get_listbox_row_count(dialog, _missing_plugins_list_item);
        close_missing_plugins_dialog();
    });
    settle(2);
    EXPECT_TRUE(open_missing_plugins_dialog(missing.data(), (int32_t)missing.size()));
    EXPECT_EQ(rows, 1);
    EXPECT_FALSE(missing_plugins_dialog_is_open());
}

} // namespace
