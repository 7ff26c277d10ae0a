// The power-user file and the reading of sections into records.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/cseries.h"
#include "iniparser3.0b/inifile.h"
#include "iniparser3.0b/iniparser.h"
#include "support/scratch.h"

namespace inifile_test_file {

namespace {

#define SCALAR(record, field, type) {#field, type, (int32_t)offsetof(record, field), 0, 0, 0}
#define STRING(record, field) \
    {#field, _inifile_string, (int32_t)offsetof(record, field), (int32_t)sizeof(((record *)0)->field), 0, 0}
#define END_OF_ENTRIES {nullptr, 0, 0, 0, 0, 0}

void load_text(const std::string &text)
{
    ASSERT_TRUE(load_poweruser_settings_from_buffer(text.data(), text.size()));
}

// Writes the relative "preferences/poweruser.txt"; callers work in a
// scratch_directory, so one test's file never meets another's.
void write_settings(const std::string &text)
{
    mkdir(POWERUSER_DIRECTORY_NAME, 0755);
    ASSERT_TRUE(write_whole_file(POWERUSER_DIRECTORY_NAME "/" POWERUSER_FILE_NAME, text.data(), text.size()));
}

// One field of each scalar type, for the conversion table.
struct mixed_record
{
    bool flag;
    int32_t number;
    float single;
    double real;
    char text[8];
    int32_t guard; // must never be touched by the text before it
};

const mixed_record mixed_defaults = {true, 7, 2.5f, 4.25, "dflt", 12345};
mixed_record mixed_target;
const inifile_entry mixed_entries[] = {
    SCALAR(mixed_record, flag, _inifile_boolean), SCALAR(mixed_record, number, _inifile_integer),
    SCALAR(mixed_record, single, _inifile_float), SCALAR(mixed_record, real, _inifile_double),
    STRING(mixed_record, text), END_OF_ENTRIES,
};
const inifile_section mixed_section = {
    "Mixed", nullptr, nullptr, mixed_entries, &mixed_target, &mixed_defaults, sizeof(mixed_record)};

TEST(inifile, missing_file_section_or_key_keeps_the_defaults)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    memset(&mixed_target, 0xA5, sizeof(mixed_target));
    EXPECT_FALSE(load_poweruser_settings()); // no file
    EXPECT_EQ(inifile_readsec(&mixed_section), 0);
    EXPECT_EQ(memcmp(&mixed_target, &mixed_defaults, sizeof(mixed_record)), 0);
    EXPECT_FALSE(inifile_key_present(&mixed_section, "number"));

    write_settings("[Other]\nnumber = 1\n[Mixed]\nflag = 0\n");
    EXPECT_TRUE(load_poweruser_settings());
    memset(&mixed_target, 0xA5, sizeof(mixed_target));
    EXPECT_EQ(inifile_readsec(&mixed_section), 1);
    EXPECT_FALSE(mixed_target.flag);
    EXPECT_EQ(mixed_target.number, 7); // given only in another section
    EXPECT_STREQ(mixed_target.text, "dflt");
    EXPECT_TRUE(inifile_key_present(&mixed_section, "FLAG"));
    EXPECT_FALSE(inifile_key_present(&mixed_section, "number"));

    const inifile_section absent = {"Absent", nullptr, nullptr, mixed_entries, &mixed_target,
                                    &mixed_defaults, sizeof(mixed_record)};
    EXPECT_EQ(inifile_readsec(&absent), 0);
    EXPECT_TRUE(mixed_target.flag);
    dispose_poweruser_settings();
}

TEST(inifile, an_oversized_or_unreadable_file_is_refused_whole)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    quiet_message_boxes();
    std::string oversized = "[Mixed]\nnumber = 1\n";
    oversized.resize(MAXIMUM_INI_BUFFER_SIZE + 1, '\n');
    write_settings(oversized);
    EXPECT_FALSE(load_poweruser_settings());
    EXPECT_EQ(inifile_readsec(&mixed_section), 0);
    EXPECT_EQ(mixed_target.number, 7);

    // A directory where the file belongs.
    ASSERT_EQ(unlink(POWERUSER_DIRECTORY_NAME "/" POWERUSER_FILE_NAME), 0);
    ASSERT_EQ(mkdir(POWERUSER_DIRECTORY_NAME "/" POWERUSER_FILE_NAME, 0755), 0);
    EXPECT_FALSE(load_poweruser_settings());
    EXPECT_NE(take_pending_error(), 0);
    EXPECT_EQ(inifile_readsec(&mixed_section), 0);
}

// Opening a fifo for reading waits for a writer: start-up would hang.  Run in
// a child, so that a regression fails on the timeout instead of stalling.
int load_settings_in_child(const void *)
{
    quiet_message_boxes();
    return load_poweruser_settings() ? 1 : take_pending_error() != 0 ? 0 : 2;
}

TEST(inifile, a_fifo_in_the_settings_place_is_refused_without_waiting)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    ASSERT_EQ(mkdir(POWERUSER_DIRECTORY_NAME, 0755), 0);
    ASSERT_EQ(mkfifo(POWERUSER_DIRECTORY_NAME "/" POWERUSER_FILE_NAME, 0644), 0);
    EXPECT_EQ(exit_code_of(run_in_child(load_settings_in_child, nullptr, 10)), 0);
}

TEST(inifile, value_texts_become_fields_or_keep_the_default)
{
    struct
    {
        const char *key;
        const char *text;
        bool taken;
        double expected; // the field's value afterwards
    } cases[] = {
        {"flag", "1", true, 1}, {"flag", "0", true, 0}, {"flag", "yes", true, 1},
        {"flag", "false", true, 0}, {"flag", "OFF", true, 0}, {"flag", "maybe", false, 1},
        {"flag", "", false, 1}, {"flag", "10", false, 1},
        {"number", "16711680", true, 16711680}, {"number", "0xFF0000", true, 16711680},
        {"number", "-42", true, -42}, {"number", "-2147483648", true, -2147483648.0},
        {"number", "2147483647", true, 2147483647}, {"number", "2147483648", false, 7},
        {"number", "0xFFFFFFFF", false, 7}, {"number", "99999999999999999999", false, 7},
        {"number", "12abc", false, 7}, {"number", "0x", false, 7}, {"number", "-", false, 7},
        {"number", "1.5", false, 7}, {"number", "010", true, 10},
        {"single", "-0.5", true, -0.5}, {"single", "1e3", true, 1000}, {"single", "1e39", false, 2.5},
        {"single", "nan", false, 2.5}, {"single", "abc", false, 2.5},
        {"real", "-0.5", true, -0.5}, {"real", "1e300", true, 1e300}, {"real", "1e999", false, 4.25},
        {"real", "inf", false, 4.25}, {"real", "0.5x", false, 4.25},
    };
    for (const auto &c : cases)
    {
        load_text(std::string("[Mixed]\n") + c.key + " = " + c.text + "\n");
        EXPECT_EQ(inifile_readsec(&mixed_section), c.taken ? 1 : 0) << c.key << " = " << c.text;
        double actual = strcmp(c.key, "flag") == 0     ? mixed_target.flag
                        : strcmp(c.key, "number") == 0 ? mixed_target.number
                        : strcmp(c.key, "single") == 0 ? mixed_target.single
                                                       : mixed_target.real;
        EXPECT_EQ(actual, c.expected) << c.key << " = " << c.text;
    }
    dispose_poweruser_settings();
}

TEST(inifile, a_string_is_cut_to_its_capacity)
{
    load_text("[Mixed]\ntext = abcdefghijkl\n");
    EXPECT_EQ(inifile_readsec(&mixed_section), 1);
    EXPECT_STREQ(mixed_target.text, "abcdefg");
    EXPECT_EQ(mixed_target.guard, 12345);
    load_text("[Mixed]\ntext = \"\"\n");
    inifile_readsec(&mixed_section);
    EXPECT_STREQ(mixed_target.text, "");
    dispose_poweruser_settings();
}

struct list_record
{
    int32_t level;
    char names[3][6];
    int32_t name_count;
    int32_t guard;
};

TEST(inifile, a_repeated_key_gives_a_scalar_its_last_value_and_a_list_every_value)
{
    const list_record defaults = {1, {"a", "", ""}, 1, 99};
    list_record target;
    const inifile_entry entries[] = {
        SCALAR(list_record, level, _inifile_integer),
        {"Name", _inifile_string_list, (int32_t)offsetof(list_record, names), 6, 3,
         (int32_t)offsetof(list_record, name_count)},
        END_OF_ENTRIES,
    };
    const inifile_section section = {"List", nullptr, nullptr, entries, &target, &defaults,
                                     sizeof(list_record)};

    load_text("[List]\nlevel = 2\nName = first\nlevel = 3\nname = second\nNAME = toolongname\n");
    EXPECT_EQ(inifile_readsec(&section), 2);
    EXPECT_EQ(target.level, 3);
    EXPECT_EQ(target.name_count, 3);
    EXPECT_STREQ(target.names[0], "first");
    EXPECT_STREQ(target.names[1], "secon");
    EXPECT_STREQ(target.names[2], "toolo");

    // More values than the list holds: the first ones are kept, nothing beyond.
    load_text("[List]\nName = 1\nName = 2\nName = 3\nName = 4\nName = 5\n");
    inifile_readsec(&section);
    EXPECT_EQ(target.name_count, 3);
    EXPECT_STREQ(target.names[2], "3");
    EXPECT_EQ(target.guard, 99);

    load_text("[List]\nlevel = 5\n");
    inifile_readsec(&section);
    EXPECT_EQ(target.name_count, 1);
    EXPECT_STREQ(target.names[0], "a");
    dispose_poweruser_settings();
}

TEST(inifile, entries_that_do_not_fit_the_record_are_skipped)
{
    struct small_record
    {
        int32_t value;
        char text[4];
    };
    const small_record defaults = {1, "x"};
    struct
    {
        small_record record;
        char canary[64];
    } target;
    memset(target.canary, 0x5A, sizeof(target.canary));
    const inifile_entry entries[] = {
        {"Past", _inifile_double, 4, 0, 0, 0},
        {"Wide", _inifile_string, 0, 64, 0, 0},
        {"Kind", 9, 0, 0, 0, 0},
        {"List", _inifile_string_list, 0, 4, 2, 8},
        {"Value", _inifile_integer, 0, 0, 0, 0},
        END_OF_ENTRIES,
    };
    const inifile_section section = {"Small", nullptr, nullptr, entries, &target.record, &defaults,
                                     sizeof(small_record)};
    load_text("[Small]\nPast = 1\nWide = aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"
              "Kind = 1\nList = a\nValue = 9\n");
    EXPECT_EQ(inifile_readsec(&section), 1);
    EXPECT_EQ(target.record.value, 9);
    for (char c : target.canary) ASSERT_EQ(c, 0x5A);
    const inifile_section no_target = {"Small", nullptr, nullptr, entries, nullptr, &defaults,
                                       sizeof(small_record)};
    EXPECT_EQ(inifile_readsec(&no_target), NONE);
    dispose_poweruser_settings();
}

// ---- every section the game registers, from one sample file ---------------

struct screenshot_settings
{
    char HardwareIngameFormat[8];
    char SoftwareIngameFormat[8];
    char OutgameFormat[8];
    int32_t JpegQuality;
    bool PlayScreenshotSound;
    bool ShowConsoleMessage;
};

struct ui_settings
{
    bool DebugControlBounds;
    int32_t GameWidth;
    int32_t GameHeight;
};

struct opengl_settings
{
    int32_t ClearColor;
    bool ErasePreviousFrame;
    int32_t MaxAnisotropy;
    int32_t MSAASamples;
    bool ReuseContext;
    bool UseAppleClientStorage;
    float TextureLodBias;
    bool UseDepthTest;
    bool UseMipMaps;
    bool UseNPO2Textures;
    bool UseShaders;
    bool UseLightmapBlendingShader;
    bool UpdateCMapChunked;
    bool UseCMapTiles;
};

struct hosting_settings
{
    int32_t PortNumber;
};

struct plugin_lookup_settings
{
    char WebUrl[256];
};

void clamp_jpeg_quality(void *record)
{
    screenshot_settings *settings = (screenshot_settings *)record;
    if (settings->JpegQuality > 100) settings->JpegQuality = 100;
    if (settings->JpegQuality < 1) settings->JpegQuality = 1;
}

TEST(inifile, every_registered_section_reads_from_one_sample_file)
{
    const screenshot_settings screenshot_defaults = {"jpg", "png", "png", 95, true, false};
    screenshot_settings screenshots;
    const inifile_entry screenshot_entries[] = {
        STRING(screenshot_settings, HardwareIngameFormat), STRING(screenshot_settings, SoftwareIngameFormat),
        STRING(screenshot_settings, OutgameFormat), SCALAR(screenshot_settings, JpegQuality, _inifile_integer),
        SCALAR(screenshot_settings, PlayScreenshotSound, _inifile_boolean),
        SCALAR(screenshot_settings, ShowConsoleMessage, _inifile_boolean), END_OF_ENTRIES,
    };
    const inifile_section screenshot_section = {"Screenshots", nullptr, clamp_jpeg_quality,
        screenshot_entries, &screenshots, &screenshot_defaults, sizeof(screenshots)};

    const ui_settings ui_defaults = {};
    ui_settings ui;
    const inifile_entry ui_entries[] = {
        SCALAR(ui_settings, DebugControlBounds, _inifile_boolean), SCALAR(ui_settings, GameWidth, _inifile_integer),
        SCALAR(ui_settings, GameHeight, _inifile_integer), END_OF_ENTRIES,
    };
    const inifile_section ui_section = {"UI", nullptr, nullptr, ui_entries, &ui, &ui_defaults, sizeof(ui)};

    // Run-time defaults as the renderer would set them before reading.
    const opengl_settings opengl_defaults = {0, false, 0, 1, true, true, -0.5f, true,
                                             true, true, true, false, true, true};
    opengl_settings opengl;
    const inifile_entry opengl_entries[] = {
        SCALAR(opengl_settings, ClearColor, _inifile_integer),
        SCALAR(opengl_settings, ErasePreviousFrame, _inifile_boolean),
        SCALAR(opengl_settings, MaxAnisotropy, _inifile_integer),
        SCALAR(opengl_settings, MSAASamples, _inifile_integer),
        SCALAR(opengl_settings, ReuseContext, _inifile_boolean),
        SCALAR(opengl_settings, UseAppleClientStorage, _inifile_boolean),
        SCALAR(opengl_settings, TextureLodBias, _inifile_float),
        SCALAR(opengl_settings, UseDepthTest, _inifile_boolean),
        SCALAR(opengl_settings, UseNPO2Textures, _inifile_boolean),
        SCALAR(opengl_settings, UseMipMaps, _inifile_boolean),
        SCALAR(opengl_settings, UseShaders, _inifile_boolean),
        SCALAR(opengl_settings, UseLightmapBlendingShader, _inifile_boolean),
        SCALAR(opengl_settings, UpdateCMapChunked, _inifile_boolean),
        SCALAR(opengl_settings, UseCMapTiles, _inifile_boolean),
        END_OF_ENTRIES,
    };
    const inifile_section opengl_section = {"Renderer.OpenGL", nullptr, nullptr, opengl_entries,
                                            &opengl, &opengl_defaults, sizeof(opengl)};

    const hosting_settings hosting_defaults = {3453};
    hosting_settings hosting;
    const inifile_entry hosting_entries[] = {SCALAR(hosting_settings, PortNumber, _inifile_integer), END_OF_ENTRIES};
    const inifile_section hosting_section = {"Net.Hosting", nullptr, nullptr, hosting_entries, &hosting,
                                             &hosting_defaults, sizeof(hosting)};

    plugin_lookup_settings lookup;
    const inifile_entry lookup_entries[] = {STRING(plugin_lookup_settings, WebUrl), END_OF_ENTRIES};
    auto lookup_default = [](void *record) {
        strcpy(((plugin_lookup_settings *)record)->WebUrl, "http://lookup.invalid/find");
    };
    const inifile_section lookup_section = {"Net.PluginLookup", lookup_default, nullptr, lookup_entries,
                                            &lookup, nullptr, sizeof(lookup)};

    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    write_settings(
        "; power-user settings\r\n"
        "[Screenshots]\r\n"
        "HardwareIngameFormat = bmp\r\n"
        "OutgameFormat = \"jpg\"\r\n"
        "JpegQuality = 150 ; clamped by the section's verify procedure\r\n"
        "PlayScreenshotSound = no\r\n"
        "ShowConsoleMessage = yes\r\n"
        "\r\n"
        "[ui]\n"
        "debugcontrolbounds = true\n"
        "GameWidth = 1024\n"
        "GameHeight = 768\n"
        "# the renderer\n"
        "[Renderer.OpenGL]\n"
        "ClearColor = 0xFF0000\n"
        "ErasePreviousFrame = 1\n"
        "MaxAnisotropy = 8\n"
        "MSAASamples = 4\n"
        "ReuseContext = 0\n"
        "UseAppleClientStorage = off\n"
        "TextureLodBias = 0.25\n"
        "UseDepthTest = 0\n"
        "UseNPO2Textures = 0\n"
        "UseMipMaps = 1\n"
        "UseShaders = 0\n"
        "UseLightmapBlendingShader = 1\n"
        "UpdateCMapChunked = 0\n"
        "UseCMapTiles = 0\n"
        "[Net.Hosting]\n"
        "PortNumber = 4000\n"
        "[Net.PluginLookup]\n"
        "WebUrl = http://plugins.invalid/lookup?name=x#top\n");
    ASSERT_TRUE(load_poweruser_settings());

    EXPECT_EQ(inifile_readsec(&screenshot_section), 5);
    EXPECT_STREQ(screenshots.HardwareIngameFormat, "bmp");
    EXPECT_STREQ(screenshots.SoftwareIngameFormat, "png");
    EXPECT_STREQ(screenshots.OutgameFormat, "jpg");
    EXPECT_EQ(screenshots.JpegQuality, 100);
    EXPECT_FALSE(screenshots.PlayScreenshotSound);
    EXPECT_TRUE(screenshots.ShowConsoleMessage);

    EXPECT_EQ(inifile_readsec(&ui_section), 3);
    EXPECT_TRUE(ui.DebugControlBounds);
    EXPECT_EQ(ui.GameWidth, 1024);
    EXPECT_EQ(ui.GameHeight, 768);

    EXPECT_EQ(inifile_readsec(&opengl_section), 14);
    EXPECT_EQ(opengl.ClearColor, 16711680);
    EXPECT_TRUE(opengl.ErasePreviousFrame);
    EXPECT_EQ(opengl.MaxAnisotropy, 8);
    EXPECT_EQ(opengl.MSAASamples, 4);
    EXPECT_FALSE(opengl.ReuseContext);
    EXPECT_FALSE(opengl.UseAppleClientStorage);
    EXPECT_EQ(opengl.TextureLodBias, 0.25f);
    EXPECT_FALSE(opengl.UseDepthTest);
    EXPECT_TRUE(opengl.UseMipMaps); // the table lists it after UseNPO2Textures
    EXPECT_FALSE(opengl.UseNPO2Textures);
    EXPECT_FALSE(opengl.UseShaders);
    EXPECT_TRUE(opengl.UseLightmapBlendingShader);
    EXPECT_FALSE(opengl.UpdateCMapChunked);
    EXPECT_FALSE(opengl.UseCMapTiles);

    EXPECT_EQ(inifile_readsec(&hosting_section), 1);
    EXPECT_EQ(hosting.PortNumber, 4000);

    EXPECT_EQ(inifile_readsec(&lookup_section), 1);
    EXPECT_TRUE(inifile_key_present(&lookup_section, "WebUrl"));
    EXPECT_STREQ(lookup.WebUrl, "http://plugins.invalid/lookup?name=x#top");

    // Without the file every section falls back to its defaults.
    dispose_poweruser_settings();
    EXPECT_EQ(inifile_readsec(&hosting_section), 0);
    EXPECT_EQ(hosting.PortNumber, 3453);
    EXPECT_EQ(inifile_readsec(&lookup_section), 0);
    EXPECT_FALSE(inifile_key_present(&lookup_section, "WebUrl"));
    EXPECT_STREQ(lookup.WebUrl, "http://lookup.invalid/find");
}

} // namespace

} // namespace inifile_test_file

// The test programs compile their files together: this file's macros end here.
#undef SCALAR
#undef STRING
#undef END_OF_ENTRIES
