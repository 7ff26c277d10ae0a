#pragma once
// The demo map as the tests see it: its mesh, every object source under
// data/objects and the media and preload lists under data/media and
// data/preload, made by the project's data tool from the sources in data/,
// the way the demo data script makes them.

#include <string>
#include <vector>

#include "support/tag_file_builder.h"

// The data tool beside the test programs ("<working directory>/../bin/vesk_tags").
std::string data_tool_path(void);

// Makes the demo map 'demo' and its object tags with `tool`, working in the
// current directory, and appends them to `tags`.  False (a test failure added)
// when the tool fails on a source; nothing is appended then.
bool make_demo_map_tags(const std::string &tool, std::vector<test_tag> *tags);
