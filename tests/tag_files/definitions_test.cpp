// The definitions registry over a real tag-file store: loading (short tags,
// versions, postprocess), dependencies (self, mutual, too deep), slots (full,
// holes, copies, disposal), reloads and precedence.

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include "cseries/byte_swapping.h"
#include "tag_files/definitions.h"

namespace definitions_test_file {

namespace {

using store_fixture::packed_tag;

#define TEST_GROUP FOUR_CHARACTER_CODE('t', 's', 't', 'd')

// The test record as stored: 16 big-endian bytes.
struct test_definition
{
    int32_t value;
    int16_t small;
    int16_t tail;
    tag dependency_tag;
    int16_t dependency_index; // run time
    int16_t converted_from; // run time: the version convert saw
};
static_assert(sizeof(test_definition) == 16);

const byte_swap_code test_definition_bs[] = {_begin_bs_array, 1, _4byte, _2byte, _2byte, _4byte, 4,
                                              _end_bs_array};

struct test_runtime
{
    void *pointer; // a host pointer the record could not hold
    int32_t postprocess_calls;
};

int32_t postprocess_calls;
int32_t convert_calls;
int32_t release_calls;

// Counts the side records handed back that a postprocess had filled.
void release_test_runtime(void *runtime)
{
    if (((test_runtime *)runtime)->postprocess_calls > 0) release_calls += 1;
}

void default_test_definition(void *record)
{
    test_definition *definition = (test_definition *)record;
    definition->value = 111;
    definition->small = 222;
    definition->tail = 333;
    definition->dependency_tag = NONE;
    definition->dependency_index = NONE;
    definition->converted_from = 0;
}

void test_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                  definition_dependency_report report)
{
    test_definition *definition = (test_definition *)record;
    report(TEST_GROUP, definition->dependency_tag, &definition->dependency_index, 0);
}

bool postprocess_test_definition(definition_globals *group, int32_t index, int32_t, void *record)
{
    postprocess_calls += 1;
    test_runtime *runtime = (test_runtime *)get_definition_runtime(group, index);
    if (runtime)
    {
        runtime->postprocess_calls += 1;
        runtime->pointer = record;
    }
    return ((test_definition *)record)->value != 666;
}

// Version 1 becomes 2; version 0 is refused.
bool convert_test_definition(definition_globals *, int32_t, void *record, int16_t version)
{
    convert_calls += 1;
    ((test_definition *)record)->converted_from = version;
    return version == 1;
}

std::string stored(int32_t value, int16_t small, int16_t tail, tag dependency)
{
    uint8_t bytes[16] = {};
    write_be32(bytes, (uint32_t)value);
    write_be16(bytes + 4, (uint16_t)small);
    write_be16(bytes + 6, (uint16_t)tail);
    write_be32(bytes + 8, (uint32_t)dependency);
    return std::string((const char *)bytes, sizeof(bytes));
}

class definitions : public store_fixture::store_test
{
protected:
    definition_globals group;

    void SetUp() override
    {
        store_test::SetUp();
        memset(&group, 0, sizeof(group));
        strlcpy(group.name, "test", sizeof(group.name));
        group.group = TEST_GROUP;
        group.current_version = 2;
        group.maximum_count = 100;
        group.size = sizeof(test_definition);
        group.runtime_size = sizeof(test_runtime);
        group.dependencies = test_definition_dependencies;
        group.postprocess = postprocess_test_definition;
        group.convert = convert_test_definition;
        group.default_definition = default_test_definition;
        group.byte_swapping_data = test_definition_bs;
        group.release_runtime = release_test_runtime;
        ASSERT_TRUE(initialize_definitions(&group));
        postprocess_calls = 0;
        convert_calls = 0;
        release_calls = 0;
    }

    void TearDown() override
    {
        dispose_definitions();
        store_test::TearDown();
    }

    int32_t add(const char *name, int16_t version, const std::string &data)
    {
        return write_local_tag(TEST_GROUP, name, version, data.data(), (int32_t)data.size());
    }

    // Loads when needed; a missing tag is reported unless quiet.
    int32_t load(const char *name, bool error_if_not_found = true, bool reload = false)
    {
        const uint32_t flags = (error_if_not_found ? 0u : (uint32_t)_definition_lookup_quiet_flag) |
                               (reload ? (uint32_t)_definition_lookup_reload_flag : 0u);
        return try_definition_tag_to_index(&group, string_to_tag(name), true, flags);
    }

    const test_definition *record(int32_t index)
    {
        return (const test_definition *)try_and_get_definition(&group, index);
    }
};

TEST_F(definitions, load_swaps_the_record_and_defaults_the_tail_of_a_short_tag)
{
    start_store();
    add("full", 2, stored(0x01020304, -2, 7, NONE));
    add("shrt", 2, stored(0x0A0B0C0D, 5, 9, NONE).substr(0, 6)); // value and small only
    initialize_definitions_for_new_map(&group);

    const int32_t full = load("full");
    ASSERT_NE(full, NONE);
    EXPECT_EQ(record(full)->value, 0x01020304);
    EXPECT_EQ(record(full)->small, -2);
    EXPECT_EQ(record(full)->tail, 7);
    EXPECT_STREQ(get_definition_name(&group, full), "full");
    EXPECT_EQ(get_definition_subgroup(&group, full), string_to_tag("full"));
    EXPECT_NE(get_definition_tag_header(&group, full), NONE);

    const int32_t short_one = load("shrt");
    ASSERT_NE(short_one, NONE);
    EXPECT_EQ(record(short_one)->value, 0x0A0B0C0D);
    EXPECT_EQ(record(short_one)->small, 5);
    EXPECT_EQ(record(short_one)->tail, 333); // default, in host order
    EXPECT_EQ(record(short_one)->dependency_tag, NONE);
    EXPECT_EQ(load("shrt"), short_one); // loaded once
    EXPECT_EQ(postprocess_calls, 2);
    EXPECT_EQ(take_pending_error(), 0);
}

TEST_F(definitions, versions_convert_older_and_refuse_newer_with_code_9)
{
    start_store();
    add("v1  ", 1, stored(1, 1, 1, NONE));
    add("v0  ", 0, stored(2, 2, 2, NONE));
    add("v3  ", 3, stored(3, 3, 3, NONE));
    initialize_definitions_for_new_map(&group);

    const int32_t converted = load("v1  ");
    ASSERT_NE(converted, NONE);
    EXPECT_EQ(record(converted)->converted_from, 1);
    EXPECT_EQ(record(converted)->value, 1); // swapped before the converter saw it

    struct row
    {
        const char *name;
        bool error_if_not_found;
    };
    for (const row &r : {row{"v0  ", false}, row{"v3  ", false}, row{"v0  ", true}})
    {
        take_pending_error();
        EXPECT_EQ(load(r.name, r.error_if_not_found), NONE) << r.name;
        EXPECT_EQ(take_pending_error(), _error_data_version_mismatch) << r.name;
    }
    EXPECT_EQ(group.count, 1); // refused tags leave no slot behind
}

TEST_F(definitions, failed_postprocess_leaves_a_hole_and_reports_only_when_asked)
{
    start_store();
    add("good", 2, stored(1, 0, 0, NONE));
    add("bad ", 2, stored(666, 0, 0, NONE));
    add("late", 2, stored(2, 0, 0, NONE));
    initialize_definitions_for_new_map(&group);

    ASSERT_EQ(load("good"), 0);
    take_pending_error();
    EXPECT_EQ(load("bad ", false), NONE);
    EXPECT_EQ(take_pending_error(), 0);
    EXPECT_EQ(load("bad ", true), NONE);
    EXPECT_EQ(take_pending_error(), _error_data_missing);
    EXPECT_EQ(group.count, 1);
    EXPECT_EQ(subgroup_tag_to_definition_index(&group, string_to_tag("bad ")), NONE);

    EXPECT_EQ(load("none", false), NONE); // a missing tag is quiet unless asked
    EXPECT_EQ(take_pending_error(), 0);
    EXPECT_EQ(load("none", true), NONE);
    EXPECT_EQ(take_pending_error(), _error_data_missing);
    EXPECT_EQ(load("late"), 1);
}

TEST_F(definitions, the_load_flag_decides_whether_a_definition_not_yet_loaded_is_read)
{
    start_store();
    add("lazy", 2, stored(5, 0, 0, NONE));
    initialize_definitions_for_new_map(&group);

    // Without load nothing is read and nothing reported, whatever the flags.
    struct row
    {
        const char *name;
        uint32_t flags;
    };
    for (const row &r : {row{"lazy", 0u}, row{"lazy", (uint32_t)_definition_lookup_reload_flag},
                         row{"gone", 0u}})
    {
        EXPECT_EQ(try_definition_tag_to_index(&group, string_to_tag(r.name), false, r.flags), NONE) << r.name;
        EXPECT_EQ(take_pending_error(), 0) << r.name;
    }
    EXPECT_EQ(group.count, 0);
    EXPECT_EQ(postprocess_calls, 0);

    // With load the tag is read once; a later lookup without load finds it.
    const int32_t index = try_definition_tag_to_index(&group, string_to_tag("lazy"), true, 0);
    ASSERT_NE(index, NONE);
    EXPECT_EQ(try_definition_tag_to_index(&group, string_to_tag("lazy"), false, 0), index);
    EXPECT_EQ(postprocess_calls, 1);
    // A missing tag asked to load is code 11 by default, quiet on request.
    EXPECT_EQ(try_definition_tag_to_index(&group, string_to_tag("gone"), true, 0), NONE);
    EXPECT_EQ(take_pending_error(), _error_data_missing);
    EXPECT_EQ(try_definition_tag_to_index(&group, string_to_tag("gone"), true, _definition_lookup_quiet_flag), NONE);
    EXPECT_EQ(take_pending_error(), 0);
}

TEST_F(definitions, self_and_mutual_dependencies_resolve_to_the_reserved_slots)
{
    start_store();
    add("self", 2, stored(1, 0, 0, string_to_tag("self")));
    add("mu_a", 2, stored(2, 0, 0, string_to_tag("mu_b")));
    add("mu_b", 2, stored(3, 0, 0, string_to_tag("mu_a")));
    initialize_definitions_for_new_map(&group);

    const int32_t self = load("self");
    ASSERT_NE(self, NONE);
    EXPECT_EQ(record(self)->dependency_index, self);

    const int32_t a = load("mu_a");
    ASSERT_NE(a, NONE);
    const int32_t b = subgroup_tag_to_definition_index(&group, string_to_tag("mu_b"));
    ASSERT_NE(b, NONE);
    EXPECT_EQ(record(a)->dependency_index, b);
    EXPECT_EQ(record(b)->dependency_index, a);
    EXPECT_EQ(postprocess_calls, 3); // each loaded once
    EXPECT_EQ(take_pending_error(), 0);
    EXPECT_EQ(group.flags[a] & _definition_loading_flag, 0);
}

TEST_F(definitions, a_chain_deeper_than_the_limit_reports_code_14)
{
    start_store();
    // c000 -> c001 -> ... -> c069: 70 nested loads.
    const int32_t length = MAXIMUM_DEFINITION_LOAD_DEPTH + 6;
    for (int32_t i = 0; i < length; ++i)
    {
        char name[8], next[8];
        snprintf(name, sizeof(name), "c%03d", (int)i);
        snprintf(next, sizeof(next), "c%03d", (int)(i + 1));
        add(name, 2, stored(i, 0, 0, i + 1 < length ? string_to_tag(next) : NONE));
    }
    initialize_definitions_for_new_map(&group);

    const int32_t first = load("c000");
    EXPECT_NE(first, NONE); // the outer definitions still load; the deepest link is cut
    EXPECT_EQ(take_pending_error(), _error_fatal_recursion);
    EXPECT_EQ(group.count, MAXIMUM_DEFINITION_LOAD_DEPTH);

    // A shorter chain loads whole.
    initialize_definitions_for_new_map(&group);
    EXPECT_NE(load("c020"), NONE);
    EXPECT_EQ(take_pending_error(), 0);
    EXPECT_EQ(group.count, length - 20);
}

TEST_F(definitions, slots_fill_up_reuse_holes_and_shrink_from_the_end)
{
    group.maximum_count = 3;
    dispose_definitions();
    ASSERT_TRUE(initialize_definitions(&group));
    start_store();
    for (const char *name : {"s0  ", "s1  ", "s2  ", "s3  "}) add(name, 2, stored(1, 0, 0, NONE));
    initialize_definitions_for_new_map(&group);

    EXPECT_EQ(load("s0  "), 0);
    EXPECT_EQ(load("s1  "), 1);
    EXPECT_EQ(load("s2  "), 2);
    EXPECT_EQ(load("s3  "), NONE);
    EXPECT_EQ(take_pending_error(), _error_array_full);

    // A hole in the middle is reused by a copy; the copy is not found by tag.
    EXPECT_TRUE(delete_definition(&group, 1));
    EXPECT_FALSE(delete_definition(&group, 1));
    EXPECT_EQ(get_definition_subgroup(&group, 1), NONE);
    EXPECT_EQ(try_and_get_definition(&group, 1), nullptr);
    EXPECT_EQ(group.count, 3);
    test_definition copy = *record(0);
    copy.value = 4242;
    EXPECT_EQ(new_definition(&group, string_to_tag("s0  "), &copy), 1);
    EXPECT_EQ(record(1)->value, 4242);
    EXPECT_EQ(get_definition_subgroup(&group, 1), string_to_tag("s0  "));
    EXPECT_STREQ(get_definition_name(&group, 1), "<unknown>");
    EXPECT_EQ(subgroup_tag_to_definition_index(&group, string_to_tag("s0  ")), 0);
    EXPECT_EQ(new_definition(&group, string_to_tag("s0  "), &copy), NONE);
    EXPECT_EQ(take_pending_error(), _error_array_full);

    // Deleting the last shrinks the count past the holes below it.
    EXPECT_TRUE(delete_definition(&group, 1));
    EXPECT_TRUE(delete_definition(&group, 2));
    EXPECT_EQ(group.count, 1);

    dispose_definitions_from_old_map(&group);
    EXPECT_EQ(group.count, NONE);
    EXPECT_EQ(try_and_get_definition(&group, 0), nullptr);
    {
        expected_assertions expect(1, "group_is_set_up");
        EXPECT_EQ(load("s0  "), NONE); // not set up for a map
    }
    initialize_definitions_for_new_map(&group);
    EXPECT_EQ(group.count, 0);
}

TEST_F(definitions, side_records_are_zeroed_per_definition_and_hold_host_pointers)
{
    start_store();
    add("rt_a", 2, stored(1, 0, 0, NONE));
    add("rt_b", 2, stored(2, 0, 0, NONE));
    initialize_definitions_for_new_map(&group);

    const int32_t a = load("rt_a");
    const int32_t b = load("rt_b");
    test_runtime *runtime_a = (test_runtime *)get_definition_runtime(&group, a);
    test_runtime *runtime_b = (test_runtime *)get_definition_runtime(&group, b);
    ASSERT_NE(runtime_a, nullptr);
    ASSERT_NE(runtime_b, nullptr);
    EXPECT_NE(runtime_a, runtime_b);
    EXPECT_EQ(runtime_a->pointer, try_and_get_definition(&group, a));
    EXPECT_EQ(runtime_a->postprocess_calls, 1);

    // Whatever a module kept in a side record is handed back before the
    // registry zeroes it: on delete, on reload and at the end of the map.
    delete_definition(&group, a);
    EXPECT_EQ(release_calls, 1);
    EXPECT_EQ(get_definition_runtime(&group, a), nullptr);
    const int32_t copy = new_definition(&group, string_to_tag("rt_a"), record(b));
    EXPECT_EQ(copy, a);
    EXPECT_EQ(((test_runtime *)get_definition_runtime(&group, copy))->pointer, nullptr);
    EXPECT_EQ(load("rt_b", true, true), b);
    EXPECT_EQ(release_calls, 2);
    EXPECT_EQ(((test_runtime *)get_definition_runtime(&group, b))->postprocess_calls, 1);
    dispose_definitions_from_old_map(&group);
    EXPECT_EQ(release_calls, 3);
}

TEST_F(definitions, reload_reads_the_tag_that_now_wins)
{
    write_foundation_file({packed_tag{TEST_GROUP, string_to_tag("over"), "over", 2, stored(10, 0, 0, NONE)}});
    write_plugin_file("override", {packed_tag{TEST_GROUP, string_to_tag("over"), "over", 2, stored(20, 0, 0, NONE)}});
    start_store();
    add("chng", 2, stored(1, 0, 0, NONE));
    initialize_definitions_for_new_map(&group);

    const int32_t base = load("over");
    ASSERT_NE(base, NONE);
    EXPECT_EQ(record(base)->value, 10);

    // The local tag changes: a plain lookup keeps the loaded record, a reload reads it.
    const int32_t changing = load("chng");
    int32_t tag_index = tag_file_open(TEST_GROUP, string_to_tag("chng"));
    const std::string changed = stored(2, 0, 0, NONE);
    ASSERT_TRUE(tag_file_write(&tag_index, 0, (int32_t)changed.size(), changed.data()));
    EXPECT_EQ(record(load("chng"))->value, 1);
    EXPECT_EQ(load("chng", true, true), changing);
    EXPECT_EQ(record(changing)->value, 2);

    // The store reopens with the plug-in that overrides the tag.
    ASSERT_EQ(tag_file_get_plugin_count(), 1);
    const int16_t plugins[] = {0};
    reopen_store(0, plugins, 1);
    EXPECT_EQ(load("over", true, true), base);
    EXPECT_EQ(record(base)->value, 20);
    EXPECT_NE(get_definition_tag_header(&group, base), NONE);

    // A reload that fails (the tag is gone) leaves a hole.
    ASSERT_TRUE(tag_file_delete(tag_file_open(TEST_GROUP, string_to_tag("chng"))));
    take_pending_error();
    EXPECT_EQ(load("chng", false, true), NONE);
    EXPECT_EQ(try_and_get_definition(&group, changing), nullptr);
}

TEST_F(definitions, malformed_groups_are_refused_at_registration)
{
    definition_globals copy = group;
    copy.registered = false;
    copy.group = FOUR_CHARACTER_CODE('o', 't', 'h', 'r');
    copy.size = 12; // the swap description walks 16
    expected_assertions expect(3);
    EXPECT_FALSE(initialize_definitions(&copy));
    copy.size = 16;
    copy.group = TEST_GROUP; // already registered
    EXPECT_FALSE(initialize_definitions(&copy));
    EXPECT_FALSE(initialize_definitions(&group)); // twice
    EXPECT_EQ(get_definition_group(TEST_GROUP), &group);
}

} // namespace

} // namespace definitions_test_file

// The test programs compile their files together: this file's macros end here.
#undef TEST_GROUP
