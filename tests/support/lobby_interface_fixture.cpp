// The lobby dialogs' test set-up.  See lobby_interface_fixture.h.

#include "support/lobby_interface_fixture.h"

#include <string>

#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lists.h"

void lobby_interface_test::SetUp()
{
    std::string tool;
    REQUIRE_DATA_TOOL(tool);
    ASSERT_TRUE(make_string_list_tags(tool, &local_tags));
    demo_interface_test::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    register_metaserver_hooks(); // the lobby's controls and its table, as the program has them
    // The tests' clocks run faster than the machine's: a login is bounded by
    // each step's own wait, not by the program's limit.
    set_metaserver_login_time_limit(0);
}

void lobby_interface_test::TearDown()
{
    set_metaserver_lobby_lists(nullptr);
    *get_metaserver_context() = {};
    set_metaserver_login_time_limit(METASERVER_LOGIN_TIME_LIMIT);
    demo_interface_test::TearDown();
}

void lobby_interface_test::store_interface_tags(void)
{
    for (const test_tag &t : local_tags)
        write_local_tag(t.group_tag, tag_to_string(t.subgroup_tag), t.version, t.data.data(), (int32_t)t.data.size());
}
