#pragma once
// The endpoint layer: a module-independent face on the net modules.  It lists
// the available modules, binds protocol configurations and endpoints to a
// loaded module, gives each endpoint a copy of its module's procedures, and
// hands every operation on with uniform error codes.  Each endpoint has an
// owner callback, to which the module's events are relayed; an accepted
// connection also raises a hand-off event on its listener first.
//
// Records that die inside a module callback are not freed at once: they go to
// a small cache for reuse or to a doomed list freed at the next entry into the
// layer, so an owner that closes an endpoint from inside its own callback may
// still read it (its cookie is then 'bad ') until the layer's next idle.
//
// Main thread only; callbacks run inside the caller's call.

#include <cstdint>

#include "networking/net_module.h"
#include "networking/tcp_module.h"

// The layer's own errors; module errors pass through unchanged.
enum : NMErr
{
    errBadPacketDefinition = -1000,
    errBadShortAlignment = -1001,
    errBadLongAlignment = -1002,
    errBadPacketDefinitionSize = -1003,
    errBadVersion = -1004,
    errParamErr = -1005,
    errNoMoreNetModules = -1006,
    errModuleNotFound = -1007,
    errBadConfig = -1008,
    errFunctionNotBound = -1009,
    errNoMem = -1010,
};

// The module procedure numbers.
enum : int32_t
{
    kNMGetModuleInfo = 0,
    kNMOpen,
    kNMClose,
    kNMAcceptConnection,
    kNMRejectConnection,
    kNMIsAlive,
    kNMSetTimeout,
    kNMCreateConfig,
    kNMGetConfigLen,
    kNMGetConfig,
    kNMDeleteConfig,
    kNMIdle,
    kNMFunctionPassThrough,
    kNMInitProtocol,
    kNMShutdownProtocol,
    kNMSendDatagram,
    kNMReceiveDatagram,
    kNMSend,
    kNMReceive,
    kNMBindEnumerationItemToConfig,
    kNMStartEnumeration,
    kNMIdleEnumeration,
    kNMEndEnumeration,
    kNMStopAdvertising,
    kNMStartAdvertising,
    NUMBER_OF_MODULE_FUNCTIONS
};
static_assert(kNMStartAdvertising == 24, "25 module procedures");

enum : uint32_t
{
    PENDPOINT_COOKIE = FOUR_CHARACTER_CODE('U', 'B', 'E', 'R'),
    PENDPOINT_BAD_COOKIE = FOUR_CHARACTER_CODE('b', 'a', 'd', ' '),
};

enum : int32_t
{
    UBER_IDENTIFIER_VERSION = 1,
    MAXIMUM_CACHED_ENDPOINTS = 8,
    // Places in the doomed list before it grows (it never overflows).
    MAXIMUM_DOOMED_ENDPOINTS = 8,
    // How long EndUber tries to close a module's endpoints.
    END_UBER_CLOSE_TIMEOUT = 10000,
};

enum : int16_t
{
    _state_unknown = 0, // open
    _state_closing = 1,
    _state_closed = 2,
};

struct protocol_identifier
{
    int32_t version; // in: must be 1
    NMType type;
    char name[32];
};

// The module's procedures, as the layer copies them.
typedef NMErr (*NMGetModuleInfoPtr)(NMModuleInfo *info);
typedef NMErr (*NMOpenPtr)(NMProtocolConfigPriv *config, NMEndpointCallback callback, void *context,
                           NMEndpointPriv **endpoint, bool active);
typedef NMErr (*NMClosePtr)(NMEndpointPriv *endpoint, bool orderly);
typedef NMErr (*NMAcceptConnectionPtr)(NMEndpointPriv *listener, void *cookie, NMEndpointCallback callback,
                                       void *context);
typedef NMErr (*NMRejectConnectionPtr)(NMEndpointPriv *listener, void *cookie);
typedef bool (*NMIsAlivePtr)(NMEndpointPriv *endpoint);
typedef NMErr (*NMSetTimeoutPtr)(NMEndpointPriv *endpoint, uint32_t milliseconds);
typedef NMErr (*NMCreateConfigPtr)(const char *text, int32_t game_id, const char *name, const void *enumeration_data,
                                   int32_t enumeration_data_length, NMProtocolConfigPriv **config);
typedef int32_t (*NMGetConfigLenPtr)(NMProtocolConfigPriv *config);
typedef NMErr (*NMGetConfigPtr)(NMProtocolConfigPriv *config, char *buffer, int32_t *length);
typedef NMErr (*NMDeleteConfigPtr)(NMProtocolConfigPriv *config);
typedef NMErr (*NMIdlePtr)(NMEndpointPriv *endpoint);
typedef NMErr (*NMFunctionPassThroughPtr)(NMEndpointPriv *endpoint, uint32_t selector, void *data);
typedef NMErr (*NMInitProtocolPtr)(void);
typedef NMErr (*NMShutdownProtocolPtr)(void);
typedef NMErr (*NMSendDatagramPtr)(NMEndpointPriv *endpoint, const void *data, uint32_t length, uint32_t flags);
typedef NMErr (*NMReceiveDatagramPtr)(NMEndpointPriv *endpoint, void *buffer, uint32_t *length, uint32_t *flags);
typedef int32_t (*NMSendPtr)(NMEndpointPriv *endpoint, const void *data, uint32_t length, uint32_t flags);
typedef NMErr (*NMReceivePtr)(NMEndpointPriv *endpoint, void *buffer, uint32_t *length, uint32_t *flags);
typedef NMErr (*NMBindEnumerationItemToConfigPtr)(NMProtocolConfigPriv *config, NMHostID host);
typedef NMErr (*NMStartEnumerationPtr)(NMProtocolConfigPriv *config, NMEnumerationCallback callback, void *context,
                                       bool active);
typedef NMErr (*NMIdleEnumerationPtr)(NMProtocolConfigPriv *config);
typedef NMErr (*NMEndEnumerationPtr)(NMProtocolConfigPriv *config);
typedef NMErr (*NMStopAdvertisingPtr)(NMEndpointPriv *endpoint);
typedef NMErr (*NMStartAdvertisingPtr)(NMEndpointPriv *endpoint);

// The module's procedure `number` for `type` (only 'Inet' is listed); null
// with an assertion for another type or a number outside 0..24.
void *get_net_proc(NMType type, int32_t number);

// A protocol configuration, owned by its caller until ProtocolDisposeConfig.
struct ProtocolConfig
{
    NMType type;
    NMProtocolConfigPriv *configuration_data;
    NMInitProtocolPtr NMInitProtocol;
    NMShutdownProtocolPtr NMShutdownProtocol;
    NMCreateConfigPtr NMCreateConfig;
    NMGetConfigLenPtr NMGetConfigLen;
    NMGetConfigPtr NMGetConfig;
    NMDeleteConfigPtr NMDeleteConfig;
    NMFunctionPassThroughPtr NMFunctionPassThrough;
    NMBindEnumerationItemToConfigPtr NMBindEnumerationItemToConfig;
    NMStartEnumerationPtr NMStartEnumeration;
    NMIdleEnumerationPtr NMIdleEnumeration;
    NMEndEnumerationPtr NMEndEnumeration;
};

struct Endpoint;

// An endpoint's owner callback: (endpoint, the owner's context, code, error,
// cookie).  kNMConnectRequest's cookie goes to ProtocolAcceptConnection or
// ProtocolRejectConnection; kNMHandoffComplete's is the new endpoint.
typedef void (*ProtocolEndpointCallback)(Endpoint *endpoint, void *context, int32_t code, NMErr error,
                                         void *cookie);

// One connection or listener.  In memory only.
struct Endpoint
{
    uint32_t cookie; // PENDPOINT_COOKIE while alive, PENDPOINT_BAD_COOKIE once cleaned up
    NMType type;
    int16_t state;
    int16_t pad;
    Endpoint *parent; // the listener an accepted endpoint came from
    struct
    {
        ProtocolEndpointCallback user_callback;
        void *user_context;
    } callback;
    NMEndpointPriv *module;
    NMGetModuleInfoPtr NMGetModuleInfo;
    NMGetConfigLenPtr NMGetConfigLen;
    NMGetConfigPtr NMGetConfig;
    NMOpenPtr NMOpen;
    NMClosePtr NMClose;
    NMAcceptConnectionPtr NMAcceptConnection;
    NMRejectConnectionPtr NMRejectConnection;
    NMSendDatagramPtr NMSendDatagram;
    NMReceiveDatagramPtr NMReceiveDatagram;
    NMSendPtr NMSend;
    NMReceivePtr NMReceive;
    NMSetTimeoutPtr NMSetTimeout;
    NMIsAlivePtr NMIsAlive;
    NMFunctionPassThroughPtr NMFunctionPassThrough;
    NMIdlePtr NMIdle;
    NMStopAdvertisingPtr NMStopAdvertising;
    NMStartAdvertisingPtr NMStartAdvertising;
    Endpoint *next; // the next endpoint of the same loaded module (or doomed record)
};

// Start and modules.

// Zeroes the layer, fills the record cache and lists the modules.  Once at
// program start (the module manager's start); again only after EndUber.
void InitUber(void);
// Closes abortively every endpoint still open (trying for at most 10 s on
// machine_tick_count), then frees the layer's records.
void EndUber(void);
// errBadVersion when `identifier->version` is not 1, errParamErr for a
// negative index, errNoMoreNetModules past the last module; else fills it.
NMErr GetIndexedProtocol(int32_t index, protocol_identifier *identifier);
// The module's own start and stop; always 0.
NMErr ProtocolInit(NMType type);
NMErr ProtocolShutdown(NMType type);

// Configurations.

// A configuration of `type` from `config_string` (null: the module's
// defaults).  errModuleNotFound for an unlisted type, errNoMem, or the
// module's error (no configuration is returned then).
NMErr ProtocolCreateConfig(NMType type, int32_t game_id, const char *name, const void *enumeration_data,
                           int32_t enumeration_data_length, const char *config_string, ProtocolConfig **result);
// The module's delete result; errBadConfig without a configuration.
NMErr ProtocolDisposeConfig(ProtocolConfig *config);
// errBadConfig without a configuration, errFunctionNotBound without the
// procedure, else the module's result (`*length`: room in, text length out).
NMErr ProtocolGetConfigString(ProtocolConfig *config, char *buffer, int32_t *length);
NMErr ProtocolGetConfigStringLen(ProtocolConfig *config, int32_t *result);
// errParamErr without a configuration, errFunctionNotBound, else the module's result.
NMErr ProtocolConfigPassThrough(ProtocolConfig *config, uint32_t selector, void *data);

// Local-network enumeration: errParamErr without a configuration,
// errFunctionNotBound without the procedure, else 0 (the module's own result
// is not passed on).
NMErr ProtocolStartEnumeration(ProtocolConfig *config, NMEnumerationCallback callback, void *context, bool active);
NMErr ProtocolIdleEnumeration(ProtocolConfig *config);
NMErr ProtocolEndEnumeration(ProtocolConfig *config);
NMErr ProtocolBindEnumerationToConfig(ProtocolConfig *config, NMHostID host);

// Endpoints.  A call on a record that is not a live endpoint of this layer
// (null, closed, or never one) is logged and refused with errParamErr.

// Bit 0 of `flags`: an active open (a connection), else a listener.  Blocks
// like the module's open.  On failure nothing is returned and the error is
// errNoMem, errFunctionNotBound or the module's.
NMErr ProtocolOpenEndpoint(ProtocolConfig *config, ProtocolEndpointCallback callback, void *context,
                           Endpoint **result, uint32_t flags);
// Accepts the listener's pending connection (`cookie` from kNMConnectRequest)
// into a new endpoint: the listener gets kNMHandoffComplete (cookie: the new
// endpoint) before the new endpoint's own kNMAcceptComplete.
NMErr ProtocolAcceptConnection(Endpoint *listener, void *cookie, ProtocolEndpointCallback callback, void *context);
NMErr ProtocolRejectConnection(Endpoint *listener, void *cookie);
// errParamErr when not live or already closing; the module raises
// kNMCloseComplete before returning.  The record then stays readable (cookie
// 'bad ') until the layer's next idle.
NMErr ProtocolCloseEndpoint(Endpoint *endpoint, bool orderly);
// Frees the records that died since the last call, then polls the module.
NMErr ProtocolIdle(Endpoint *endpoint);

// Pass-throughs: errParamErr without a live endpoint, errFunctionNotBound
// without the procedure, else the module's result.
int32_t ProtocolSend(Endpoint *endpoint, const void *data, uint32_t length, uint32_t flags);
NMErr ProtocolReceive(Endpoint *endpoint, void *buffer, uint32_t *length, uint32_t *flags);
NMErr ProtocolSendPacket(Endpoint *endpoint, const void *data, uint32_t length, uint32_t flags);
NMErr ProtocolReceivePacket(Endpoint *endpoint, void *buffer, uint32_t *length, uint32_t *flags);
NMErr ProtocolSetTimeout(Endpoint *endpoint, uint32_t milliseconds);
// False for anything but a live endpoint.
bool ProtocolIsAlive(Endpoint *endpoint);
NMErr ProtocolFunctionPassThrough(Endpoint *endpoint, uint32_t selector, void *data);
NMErr ProtocolGetEndpointInfo(Endpoint *endpoint, NMModuleInfo *info);
NMErr ProtocolStartAdvertising(Endpoint *endpoint);
NMErr ProtocolStopAdvertising(Endpoint *endpoint);

// True when `endpoint` is in its module's list (found by address alone, so a
// freed or foreign pointer is never read).
bool valid_endpoint(const Endpoint *endpoint);
int32_t count_endpoints_of_type(NMType type);

// For tests: the records waiting in the cache and on the doomed list.
int32_t uber_cached_endpoint_count(void);
int32_t uber_doomed_endpoint_count(void);
