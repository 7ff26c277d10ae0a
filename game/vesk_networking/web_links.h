#pragma once
// The web: looking a missing plug-in up at the community's lookup service
// (an HTTP POST through libcurl, opened at run time so that the game runs
// without it), opening web links in the desktop's browser, and the small
// modal box for network errors.
//
// The service's address is the power-user setting "WebUrl" of the section
// "Net.PluginLookup"; without it, PLUGIN_LOOKUP_DEFAULT_URL (docs/network.md).
// The service answers a POST of plugin_name, plugin_url and plugin_checksum
// with a download address beginning "http://", or with anything else when it
// has none.
//
// Main thread only: a lookup blocks the caller for the transfer, bounded by
// its connect and total time-outs.

#include <cstddef>
#include <cstdint>

#define PLUGIN_LOOKUP_SECTION_NAME "Net.PluginLookup"
#define PLUGIN_LOOKUP_DEFAULT_URL "http://127.0.0.1/vesk/plugin_lookup"
#define WEB_LINK_PROGRAM_NAME "xdg-open"

enum
{
    PLUGIN_LOOKUP_URL_SIZE = 256,
    NUMBER_OF_CURL_LIBRARY_NAMES = 4,
    NUMBER_OF_CURL_SYMBOLS = 8,
    // A silent service no longer holds the game: the connection must open
    // within the first, the whole transfer end within the second.
    PLUGIN_LOOKUP_CONNECT_TIMEOUT_MS = 10000,
    PLUGIN_LOOKUP_TOTAL_TIMEOUT_MS = 30000,
    // A reply is an address; a longer one is not kept (no download).
    MAXIMUM_PLUGIN_LOOKUP_REPLY_SIZE = 65536,
};

// The libcurl entry points the lookup uses, in the order of CURLsymbols.
// The handles and forms are opaque here.
struct CURLFNTABLE
{
    int (*_curl_global_init)(long flags);
    void (*_curl_global_cleanup)(void);
    void *(*_curl_easy_init)(void);
    int (*_curl_easy_setopt)(void *handle, int option, ...);
    int (*_curl_easy_perform)(void *handle);
    void (*_curl_easy_cleanup)(void *handle);
    int (*_curl_formadd)(void **first, void **last, ...);
    void (*_curl_formfree)(void *form);
};

extern const char *const CURLdllnames[NUMBER_OF_CURL_LIBRARY_NAMES];
extern const char *const CURLsymbols[NUMBER_OF_CURL_SYMBOLS];

// The reply of the service as it arrives: `length` counts the bytes received
// and one terminating zero after them (0 when nothing came or memory ran out).
struct libcurl_reply
{
    char *data;
    size_t length;
};

// Opens the first library of the name list that loads and looks its eight
// entry points up.  True when all are there (also when already open); false,
// logged, when no library opens or one entry point is missing.
bool init_libcurl(void);

// Clears the entry points and closes the library when it is open.
void dispose_libcurl(void);

// The entry points, all null while no library is open.
const CURLFNTABLE *get_curl_functions(void);

// libcurl's write procedure: appends size × count bytes of `data` to the
// reply (a libcurl_reply), always followed by a zero byte; returns that
// number, or 0 (the transfer then stops, the reply is emptied) when memory
// runs out or the reply would pass MAXIMUM_PLUGIN_LOOKUP_REPLY_SIZE.
size_t libcurl_write_callback(void *data, size_t size, size_t count, void *reply);

// Asks the service for a download address of the plug-in.  True with the
// address in `download_url` (cut to `download_url_size` bytes, terminator
// included); false when libcurl is unavailable, the service is silent or
// unreachable, or its reply does not begin "http://".  The first call reads
// the setting and tries libcurl; later calls reuse both.
bool web_lookup_plugin(const char *name, const char *url, uint32_t checksum, char *download_url,
                       int32_t download_url_size);

// Whether `url` may be handed to the browser: "http://" or "https://" with
// something after it and no control character.
bool web_link_is_acceptable(const char *url);

// Opens `url` in the desktop's browser (WEB_LINK_PROGRAM_NAME, found on the
// search path, run without a shell).  An unacceptable address is logged and
// nothing starts.  The browser is started by a child that exits at once, so
// no child of the game is left behind and nobody else's wait is disturbed.
void web_go_to_url(const char *url);

// A modal box ('bina' 'prdn' over the collection 'innb'): item 1 shows the
// message, item 2 the button with `button_title`; returns when it is pressed.
// Nothing is shown (logged) without a screen or the dialog.
void show_network_error(const char *message, const char *button_title);

// What tests replace: the library names tried (null: CURLdllnames), the
// browser program (null: WEB_LINK_PROGRAM_NAME) and the two time-outs (0:
// the defaults above).  The arrays and texts must outlive their use.
void set_curl_library_names(const char *const *names, int32_t count);
void set_web_link_program(const char *program);
void set_plugin_lookup_timeouts(int32_t connect_ms, int32_t total_ms);

// Closes libcurl and forgets the setting, the loading result and every
// replacement above; the next lookup starts afresh.
void dispose_web_links(void);
