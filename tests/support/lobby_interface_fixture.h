#pragma once
// The lobby's dialogs over the demo's interface: the demo's string lists as
// local tags (the lobby's texts among them), the game's and the lobby's
// controls registered, and the lobby context and lists forgotten afterwards.

#include <vector>

#include "support/demo_data.h"
#include "support/dialog_input_harness.h"

class lobby_interface_test : public demo_interface_test
{
protected:
    std::vector<test_tag> local_tags;

    void SetUp() override;
    void TearDown() override;
    void store_interface_tags(void) override;
};
