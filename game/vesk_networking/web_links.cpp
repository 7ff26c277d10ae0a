// Plug-in lookup over HTTP, web links and the network error box.

#include "vesk_networking/web_links.h"
#include "vesk_networking/vesk_network_interface.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "iniparser3.0b/inifile.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

const char *const CURLdllnames[NUMBER_OF_CURL_LIBRARY_NAMES] = {"libcurl.so", "libcurl.so.4", "libcurl-gnutls.so.4",
                                                                 "libcurl.so.3"};
const char *const CURLsymbols[NUMBER_OF_CURL_SYMBOLS] = {
    "curl_global_init",  "curl_global_cleanup", "curl_easy_init", "curl_easy_setopt",
    "curl_easy_perform", "curl_easy_cleanup",   "curl_formadd",   "curl_formfree"};

// libcurl's constants, part of its stable interface (the header is not
// needed to build the game): option numbers are a type base plus an index.
enum
{
    _curl_global_all = 3,
    _curlopttype_long = 0,
    _curlopttype_objectpoint = 10000,
    _curlopttype_functionpoint = 20000,
    _curlopt_writedata = _curlopttype_objectpoint + 1,
    _curlopt_url = _curlopttype_objectpoint + 2,
    _curlopt_useragent = _curlopttype_objectpoint + 18,
    _curlopt_httppost = _curlopttype_objectpoint + 24,
    _curlopt_writefunction = _curlopttype_functionpoint + 11,
    _curlopt_nosignal = _curlopttype_long + 99,
    _curlopt_timeout_ms = _curlopttype_long + 155,
    _curlopt_connecttimeout_ms = _curlopttype_long + 156,
    _curlform_copyname = 1,
    _curlform_copycontents = 4,
    _curlform_end = 17,
};

#define PLUGIN_LOOKUP_USER_AGENT "libcurl-agent/vesk2 (Linux; Build 443)"
#define CURL_DISABLED_SENTENCE "Plugin Lookup and Automatic Update features will be disabled."

struct plugin_lookup_preferences
{
    char WebUrl[PLUGIN_LOOKUP_URL_SIZE];
};

static const plugin_lookup_preferences plugin_lookup_defaults = {PLUGIN_LOOKUP_DEFAULT_URL};

static const inifile_entry plugin_lookup_entries[] = {
    {"WebUrl", _inifile_string, (int32_t)offsetof(plugin_lookup_preferences, WebUrl), PLUGIN_LOOKUP_URL_SIZE, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
};

static struct web_links_globals
{
    void *CURLdll;
    CURLFNTABLE CURLfunctions;
    bool lookup_tried; // the setting read and libcurl tried, once
    bool curl_functions_available;
    bool url_refused; // the setting is no web address: no lookup
    plugin_lookup_preferences preferences;
    const char *const *library_names; // null: CURLdllnames
    int32_t library_name_count;
    const char *program; // null: WEB_LINK_PROGRAM_NAME
    int32_t connect_timeout_ms, total_timeout_ms; // 0: the defaults
} web_links_globals;

static const inifile_section plugin_lookup_section = {
    PLUGIN_LOOKUP_SECTION_NAME, nullptr, nullptr, plugin_lookup_entries, &web_links_globals.preferences,
    &plugin_lookup_defaults, (int32_t)sizeof(plugin_lookup_preferences),
};

// ---- libcurl ----------------------------------------------------------------------

bool init_libcurl(void)
{
    auto &g = web_links_globals;
    if (g.CURLdll) return true;
    const char *const *names = g.library_names ? g.library_names : CURLdllnames;
    const int32_t count = g.library_names ? g.library_name_count : (int32_t)NUMBER_OF_CURL_LIBRARY_NAMES;
    for (int32_t i = 0; i < count && !g.CURLdll; i++)
    {
        g.CURLdll = dlopen(names[i], RTLD_NOW);
        if (g.CURLdll) log_message(__FILE__, __LINE__, "CURL: Loaded CURL library '%s'.", names[i]);
    }
    if (!g.CURLdll)
    {
        log_message(__FILE__, __LINE__, "CURL: CURL library not found. %s", CURL_DISABLED_SENTENCE);
        return false;
    }
    // The table's fields are in the order of the symbol names.
    static_assert(sizeof(CURLFNTABLE) == NUMBER_OF_CURL_SYMBOLS * sizeof(void *), "one field per symbol");
    void *symbols[NUMBER_OF_CURL_SYMBOLS];
    for (int32_t i = 0; i < NUMBER_OF_CURL_SYMBOLS; i++)
    {
        symbols[i] = dlsym(g.CURLdll, CURLsymbols[i]);
        if (!symbols[i])
        {
            log_message(__FILE__, __LINE__, "CURL: Could not load CURL functions. %s", CURL_DISABLED_SENTENCE);
            dispose_libcurl();
            return false;
        }
    }
    memcpy(&g.CURLfunctions, symbols, sizeof(symbols));
    return true;
}

void dispose_libcurl(void)
{
    auto &g = web_links_globals;
    if (!g.CURLdll) return;
    g.CURLfunctions = CURLFNTABLE{};
    dlclose(g.CURLdll);
    g.CURLdll = nullptr;
}

const CURLFNTABLE *get_curl_functions(void) { return &web_links_globals.CURLfunctions; }

size_t libcurl_write_callback(void *data, size_t size, size_t count, void *reply_pointer)
{
    libcurl_reply *reply = (libcurl_reply *)reply_pointer;
    const size_t received = size * count;
    if (count && received / count != size) return 0;
    const size_t kept = reply->length ? reply->length - 1 : 0; // bytes before the terminator
    if (received > MAXIMUM_PLUGIN_LOOKUP_REPLY_SIZE - kept - 1)
    {
        log_message(__FILE__, __LINE__, "the plug-in lookup's reply passes %d bytes: dropped",
                    (int)MAXIMUM_PLUGIN_LOOKUP_REPLY_SIZE);
        free(reply->data);
        *reply = libcurl_reply{};
        return 0;
    }
    char *grown = (char *)realloc(reply->data, kept + received + 1);
    if (!grown)
    {
        free(reply->data);
        *reply = libcurl_reply{};
        return 0;
    }
    if (received) memcpy(grown + kept, data, received);
    grown[kept + received] = 0;
    reply->data = grown;
    reply->length = kept + received + 1;
    return received;
}

// ---- the lookup -------------------------------------------------------------------

bool web_lookup_plugin(const char *name, const char *url, uint32_t checksum, char *download_url,
                       int32_t download_url_size)
{
    auto &g = web_links_globals;
    if (!g.lookup_tried)
    {
        inifile_readsec(&plugin_lookup_section);
        if (inifile_key_present(&plugin_lookup_section, "WebUrl"))
            log_message(nullptr, -1, "Using Plugin Lookup URL = %s", g.preferences.WebUrl);
        // libcurl would as readily read a local file or speak another
        // protocol: only a web address is asked.
        if (!web_link_is_acceptable(g.preferences.WebUrl))
        {
            log_message(nullptr, -1, "[%s] WebUrl is not an http:// or https:// address: plug-in lookup disabled",
                        PLUGIN_LOOKUP_SECTION_NAME);
            g.url_refused = true;
        }
        g.curl_functions_available = !g.url_refused && init_libcurl();
        g.lookup_tried = true;
    }
    if (!g.curl_functions_available || !download_url || download_url_size < 1) return false;
    const CURLFNTABLE &curl = g.CURLfunctions;

    char checksum_text[16];
    snprintf(checksum_text, sizeof(checksum_text), "%u", (unsigned)checksum);
    curl._curl_global_init(_curl_global_all);
    void *first = nullptr, *last = nullptr;
    curl._curl_formadd(&first, &last, _curlform_copyname, "plugin_name", _curlform_copycontents, name ? name : "",
                       _curlform_end);
    curl._curl_formadd(&first, &last, _curlform_copyname, "plugin_url", _curlform_copycontents, url ? url : "",
                       _curlform_end);
    curl._curl_formadd(&first, &last, _curlform_copyname, "plugin_checksum", _curlform_copycontents, checksum_text,
                       _curlform_end);

    libcurl_reply reply = {};
    void *handle = curl._curl_easy_init();
    if (handle)
    {
        curl._curl_easy_setopt(handle, _curlopt_useragent, PLUGIN_LOOKUP_USER_AGENT);
        curl._curl_easy_setopt(handle, _curlopt_url, g.preferences.WebUrl);
        curl._curl_easy_setopt(handle, _curlopt_httppost, first);
        curl._curl_easy_setopt(handle, _curlopt_writefunction, libcurl_write_callback);
        curl._curl_easy_setopt(handle, _curlopt_writedata, &reply);
        // A silent service must not hold the game: bounded connect and
        // transfer, and no alarm signal for the name lookup's time-out.
        curl._curl_easy_setopt(handle, _curlopt_nosignal, 1L);
        curl._curl_easy_setopt(handle, _curlopt_connecttimeout_ms,
                               (long)(g.connect_timeout_ms ? g.connect_timeout_ms : PLUGIN_LOOKUP_CONNECT_TIMEOUT_MS));
        curl._curl_easy_setopt(handle, _curlopt_timeout_ms,
                               (long)(g.total_timeout_ms ? g.total_timeout_ms : PLUGIN_LOOKUP_TOTAL_TIMEOUT_MS));
        // Only the reply decides, not the transfer's result.
        curl._curl_easy_perform(handle);
        curl._curl_easy_cleanup(handle);
    }
    curl._curl_formfree(first);

    bool found = false;
    if (reply.length > 1 && strncmp(reply.data, "Not found", 9) != 0 && strncmp(reply.data, "http://", 7) == 0)
    {
        snprintf(download_url, (size_t)download_url_size, "%s", reply.data);
        found = true;
    }
    free(reply.data);
    curl._curl_global_cleanup();
    return found;
}

// ---- web links --------------------------------------------------------------------

bool web_link_is_acceptable(const char *url)
{
    if (!url) return false;
    size_t scheme = 0;
    if (strncmp(url, "http://", 7) == 0) scheme = 7;
    else if (strncmp(url, "https://", 8) == 0) scheme = 8;
    if (!scheme || !url[scheme]) return false;
    for (const unsigned char *c = (const unsigned char *)url; *c; c++)
        if (*c < 0x20 || *c == 0x7F) return false;
    return true;
}

void web_go_to_url(const char *url)
{
    if (!web_link_is_acceptable(url))
    {
        // The address may itself hold control characters: logged with them escaped.
        char shown[128];
        size_t n = 0;
        for (const unsigned char *c = (const unsigned char *)(url ? url : ""); *c && n + 5 < sizeof(shown); c++)
            n += (size_t)snprintf(shown + n, sizeof(shown) - n, (*c < 0x20 || *c == 0x7F) ? "\\x%02X" : "%c", *c);
        shown[n] = 0;
        log_message(__FILE__, __LINE__, "web link \"%s\" refused: only http:// and https:// addresses open", shown);
        return;
    }
    const char *program = web_links_globals.program ? web_links_globals.program : WEB_LINK_PROGRAM_NAME;
    // Two forks: the child starts the browser and exits at once, so the game
    // reaps it now and the browser is nobody's child to wait for (other
    // waits, the cutscene player's, keep their own children).
    const pid_t child = fork();
    if (child < 0)
    {
        log_message(__FILE__, __LINE__, "web link \"%s\": cannot start %s", url, program);
        return;
    }
    if (child == 0)
    {
        const pid_t browser = fork();
        if (browser == 0)
        {
            const char *arguments[] = {program, url, nullptr};
            execvp(program, (char *const *)arguments);
            _exit(1);
        }
        _exit(browser < 0 ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) break;
}

// ---- the error box ----------------------------------------------------------------

enum
{
    _network_error_message_item = 1,
    _network_error_button_item = 2,
};

void show_network_error(const char *message, const char *button_title)
{
    if (vesk_is_headless() || !active_screen.screen_initialized ||
        tag_file_open(DIALOG_GROUP_TAG, WAIT_DIALOG_TAG) == NONE)
    {
        log_message(__FILE__, __LINE__, "network error \"%s\" not shown: no screen or no dialog '%s'",
                    message ? message : "", tag_to_string(WAIT_DIALOG_TAG));
        return;
    }
    dialog_data *dialog =
        new_dialog(WAIT_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return;
    static const dialog_item_requirement items[] = {{_network_error_message_item, STATIC_TEXT_CONTROL_TAG},
                                                    {_network_error_button_item, BUTTON_CONTROL_TAG}};
    if (!dialog_has_items(dialog, items, 2))
    {
        log_message(__FILE__, __LINE__, "network error \"%s\" not shown: '%s' lacks its text or button",
                    message ? message : "", tag_to_string(WAIT_DIALOG_TAG));
        dispose_dialog(dialog);
        return;
    }
    const int32_t background = get_collection_index(WAIT_DIALOG_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    set_bitmap_dialog_static_item_text(dialog, _network_error_message_item, message ? message : "");
    if (button_title) set_button_control_name(dialog, _network_error_button_item, button_title);
    set_default_dialog_item(dialog, _network_error_button_item);
    set_dialog_cancel_item(dialog, _network_error_button_item);
    // A dialog that ends without its button (its time ran out) ends the box too.
    for (int16_t hit = NONE; dialog_is_open(dialog) && hit != _network_error_button_item;)
        if ((hit = network_modal_dialog(dialog)) == NONE) break;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

// ---- replacements -----------------------------------------------------------------

void set_curl_library_names(const char *const *names, int32_t count)
{
    web_links_globals.library_names = count > 0 ? names : nullptr;
    web_links_globals.library_name_count = count > 0 ? count : 0;
}

void set_web_link_program(const char *program) { web_links_globals.program = program; }

void set_plugin_lookup_timeouts(int32_t connect_ms, int32_t total_ms)
{
    web_links_globals.connect_timeout_ms = connect_ms > 0 ? connect_ms : 0;
    web_links_globals.total_timeout_ms = total_ms > 0 ? total_ms : 0;
}

void dispose_web_links(void)
{
    dispose_libcurl();
    web_links_globals = {};
}

#undef PLUGIN_LOOKUP_USER_AGENT
#undef CURL_DISABLED_SENTENCE
