#include "uber.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cseries/log.h"
#include "cseries/timers.h"

// One loaded module: what is bound to it and its live endpoints.
struct loaded_modules_data
{
    NMType type;
    int32_t connection_binded_count; // configurations and endpoints bound
    int32_t endpoints_instantiated;
    Endpoint *first_loaded_endpoint;
    loaded_modules_data *next;
};

static struct uber_globals
{
    protocol_identifier *modules;
    loaded_modules_data *loaded_modules; // newest first
    int32_t module_count;
    int32_t cache_size;
    int32_t doomed_endpoint_count;
    Endpoint *endpoint_cache[MAXIMUM_CACHED_ENDPOINTS];
    // Chained through `next`: a doomed record is in no module's list any
    // more, so the list grows without allocating and never overflows.
    Endpoint *doomed_endpoints;
} uber_globals;

static const protocol_identifier listed_modules[] = {
    {UBER_IDENTIFIER_VERSION, kModuleID, "TCP/IP (Internet)"},
};

// The 'Inet' module's procedures by number.
static void *const inet_procedures[NUMBER_OF_MODULE_FUNCTIONS] = {
    (void *)tcp_NMGetModuleInfo,
    (void *)tcp_NMOpen,
    (void *)tcp_NMClose,
    (void *)tcp_NMAcceptConnection,
    (void *)tcp_NMRejectConnection,
    (void *)tcp_NMIsAlive,
    (void *)tcp_NMSetTimeout,
    (void *)tcp_NMCreateConfig,
    (void *)tcp_NMGetConfigLen,
    (void *)tcp_NMGetConfig,
    (void *)tcp_NMDeleteConfig,
    (void *)tcp_NMIdle,
    (void *)tcp_NMFunctionPassThrough,
    (void *)tcp_NMInitProtocol,
    (void *)tcp_NMShutdownProtocol,
    (void *)tcp_NMSendDatagram,
    (void *)tcp_NMReceiveDatagram,
    (void *)tcp_NMSend,
    (void *)tcp_NMReceive,
    (void *)tcp_NMBindEnumerationItemToConfig,
    (void *)tcp_NMStartEnumeration,
    (void *)tcp_NMIdleEnumeration,
    (void *)tcp_NMEndEnumeration,
    (void *)tcp_NMStopAdvertising,
    (void *)tcp_NMStartAdvertising,
};

void *get_net_proc(NMType type, int32_t number)
{
    if (!VASSERT(type == kModuleID, "type == 'Inet'")) return nullptr;
    const bool in_range = number >= 0 && number < NUMBER_OF_MODULE_FUNCTIONS;
    if (!VASSERT(in_range, "n_proc_id >= 0 && n_proc_id < NUMBER_OF_MODULE_FUNCTIONS")) return nullptr;
    return inet_procedures[number];
}

template <typename P>
static P net_proc(NMType type, int32_t number)
{
    return reinterpret_cast<P>(get_net_proc(type, number));
}

static bool module_is_listed(NMType type)
{
    for (int32_t index = 0; index < uber_globals.module_count; index++)
        if (uber_globals.modules[index].type == type) return true;
    return false;
}

// ---------- loaded modules

static loaded_modules_data *find_loaded_module(NMType type)
{
    for (loaded_modules_data *module = uber_globals.loaded_modules; module; module = module->next)
        if (module->type == type) return module;
    return nullptr;
}

static NMErr bind_to_protocol(NMType type)
{
    loaded_modules_data *module = find_loaded_module(type);
    if (!module)
    {
        module = (loaded_modules_data *)calloc(1, sizeof(loaded_modules_data));
        if (!module) return errNoMem;
        module->type = type;
        module->next = uber_globals.loaded_modules;
        uber_globals.loaded_modules = module;
    }
    module->connection_binded_count++;
    return kNMNoError;
}

static void unbind_from_protocol(NMType type, bool free_when_unused)
{
    loaded_modules_data *module = find_loaded_module(type);
    // A configuration disposed after EndUber finds its module gone.
    if (!module) return;
    module->connection_binded_count--;
    if (module->connection_binded_count > 0 || !free_when_unused) return;
    VASSERT(!module->first_loaded_endpoint, "a module freed with endpoints in its list");
    for (loaded_modules_data **link = &uber_globals.loaded_modules; *link; link = &(*link)->next)
    {
        if (*link == module)
        {
            *link = module->next;
            break;
        }
    }
    free(module);
}

static void add_endpoint_to_module(Endpoint *endpoint)
{
    loaded_modules_data *module = find_loaded_module(endpoint->type);
    if (!VASSERT(module, "adding an endpoint to a module that is not loaded")) return;
    endpoint->next = module->first_loaded_endpoint;
    module->first_loaded_endpoint = endpoint;
    module->endpoints_instantiated++;
}

static void remove_endpoint_from_module(Endpoint *endpoint)
{
    loaded_modules_data *module = find_loaded_module(endpoint->type);
    if (!module) return;
    for (Endpoint **link = &module->first_loaded_endpoint; *link; link = &(*link)->next)
    {
        if (*link == endpoint)
        {
            *link = endpoint->next;
            endpoint->next = nullptr;
            module->endpoints_instantiated--;
            return;
        }
    }
}

// ---------- records

static Endpoint *allocate_endpoint_record(void)
{
    return (Endpoint *)calloc(1, sizeof(Endpoint));
}

// Refills the cache and frees the records that died since the last call.
static void uber_idle_synchronous(void)
{
    while (uber_globals.cache_size < MAXIMUM_CACHED_ENDPOINTS)
    {
        Endpoint *record = allocate_endpoint_record();
        if (!record) break;
        uber_globals.endpoint_cache[uber_globals.cache_size++] = record;
    }
    while (uber_globals.doomed_endpoints)
    {
        Endpoint *doomed = uber_globals.doomed_endpoints;
        uber_globals.doomed_endpoints = doomed->next;
        free(doomed);
    }
    uber_globals.doomed_endpoint_count = 0;
}

// A record from the cache, which each synchronous idle refills; null when
// the cache is spent (an accept is then refused with errNoMem, and the peer
// may try again after the next idle).
static Endpoint *take_endpoint_record(void)
{
    Endpoint *record = nullptr;
    if (uber_globals.cache_size > 0) record = uber_globals.endpoint_cache[--uber_globals.cache_size];
    if (record) memset(record, 0, sizeof(*record));
    return record;
}

static void doom_endpoint_record(Endpoint *endpoint)
{
    endpoint->next = uber_globals.doomed_endpoints;
    uber_globals.doomed_endpoints = endpoint;
    uber_globals.doomed_endpoint_count++;
}

bool valid_endpoint(const Endpoint *endpoint)
{
    if (!endpoint) return false;
    for (const loaded_modules_data *module = uber_globals.loaded_modules; module; module = module->next)
        for (const Endpoint *listed = module->first_loaded_endpoint; listed; listed = listed->next)
            if (listed == endpoint) return true;
    return false;
}

// A live endpoint of this layer, or a logged refusal.
static bool live_endpoint(const Endpoint *endpoint, const char *operation)
{
    if (!endpoint) return false;
    if (!valid_endpoint(endpoint))
    {
        LOG_REPEATED("%s: ep %p is not valid", operation, (const void *)endpoint);
        return false;
    }
    if (!VASSERT(endpoint->cookie == PENDPOINT_COOKIE, "endpoint->cookie==PENDPOINT_COOKIE")) return false;
    return true;
}

int32_t count_endpoints_of_type(NMType type)
{
    const loaded_modules_data *module = find_loaded_module(type);
    int32_t count = 0;
    if (module)
        for (const Endpoint *listed = module->first_loaded_endpoint; listed; listed = listed->next) count++;
    return count;
}

// Called by the module when a close completes (the endpoint had become
// alive).  Even an abortive close leaves the record readable until the next
// synchronous idle: its owner may be inside its own callback.
static void clean_up_endpoint(Endpoint *endpoint, bool orderly)
{
    if (!valid_endpoint(endpoint))
    {
        LOG_REPEATED("clean up: ep %p is not valid (orderly: %d)", (void *)endpoint, orderly);
        return;
    }
    remove_endpoint_from_module(endpoint);
    endpoint->cookie = PENDPOINT_BAD_COOKIE;
    endpoint->state = _state_closed;
    endpoint->module = nullptr;
    unbind_from_protocol(endpoint->type, true);
    if (orderly && uber_globals.cache_size < MAXIMUM_CACHED_ENDPOINTS)
    {
        // A cached record is reused only by an accept; until then it reads as closed.
        uber_globals.endpoint_cache[uber_globals.cache_size++] = endpoint;
        return;
    }
    doom_endpoint_record(endpoint);
}

static void module_clean_up(void *context, bool orderly)
{
    clean_up_endpoint((Endpoint *)context, orderly);
}

static void net_module_callback_function(NMEndpointPriv *module_endpoint, void *context, int32_t code, NMErr error,
                                         void *cookie)
{
    Endpoint *endpoint = (Endpoint *)context;
    if (!endpoint) return;
    endpoint->module = module_endpoint;
    if (code == kNMHandoffComplete) return; // the layer raises its own, before the new endpoint's event
    if (code == kNMAcceptComplete && endpoint->parent && valid_endpoint(endpoint->parent))
    {
        Endpoint *parent = endpoint->parent;
        if (parent->callback.user_callback)
            parent->callback.user_callback(parent, parent->callback.user_context, kNMHandoffComplete, error, endpoint);
    }
    if (code == kNMCloseComplete)
    {
        char text[96];
        snprintf(text, sizeof(text), "endpoint state was %d should have been _state_closing (%d) for kNMCloseComplete",
                 endpoint->state, _state_closing);
        VASSERT(endpoint->state == _state_closing, text);
    }
    if (endpoint->callback.user_callback)
        endpoint->callback.user_callback(endpoint, endpoint->callback.user_context, code, error, cookie);
}

static void copy_endpoint_procedures(Endpoint *endpoint, NMType type)
{
    endpoint->NMGetModuleInfo = net_proc<NMGetModuleInfoPtr>(type, kNMGetModuleInfo);
    endpoint->NMGetConfigLen = net_proc<NMGetConfigLenPtr>(type, kNMGetConfigLen);
    endpoint->NMGetConfig = net_proc<NMGetConfigPtr>(type, kNMGetConfig);
    endpoint->NMOpen = net_proc<NMOpenPtr>(type, kNMOpen);
    endpoint->NMClose = net_proc<NMClosePtr>(type, kNMClose);
    endpoint->NMAcceptConnection = net_proc<NMAcceptConnectionPtr>(type, kNMAcceptConnection);
    endpoint->NMRejectConnection = net_proc<NMRejectConnectionPtr>(type, kNMRejectConnection);
    endpoint->NMSendDatagram = net_proc<NMSendDatagramPtr>(type, kNMSendDatagram);
    endpoint->NMReceiveDatagram = net_proc<NMReceiveDatagramPtr>(type, kNMReceiveDatagram);
    endpoint->NMSend = net_proc<NMSendPtr>(type, kNMSend);
    endpoint->NMReceive = net_proc<NMReceivePtr>(type, kNMReceive);
    endpoint->NMSetTimeout = net_proc<NMSetTimeoutPtr>(type, kNMSetTimeout);
    endpoint->NMIsAlive = net_proc<NMIsAlivePtr>(type, kNMIsAlive);
    endpoint->NMFunctionPassThrough = net_proc<NMFunctionPassThroughPtr>(type, kNMFunctionPassThrough);
    endpoint->NMIdle = net_proc<NMIdlePtr>(type, kNMIdle);
    endpoint->NMStopAdvertising = net_proc<NMStopAdvertisingPtr>(type, kNMStopAdvertising);
    endpoint->NMStartAdvertising = net_proc<NMStartAdvertisingPtr>(type, kNMStartAdvertising);
}

// ---------- start and modules

void InitUber(void)
{
    memset(&uber_globals, 0, sizeof(uber_globals));
    uber_idle_synchronous();
    const int32_t count = (int32_t)(sizeof(listed_modules) / sizeof(listed_modules[0]));
    uber_globals.modules = (protocol_identifier *)calloc((size_t)count, sizeof(protocol_identifier));
    if (uber_globals.modules)
    {
        memcpy(uber_globals.modules, listed_modules, sizeof(listed_modules));
        uber_globals.module_count = count;
    }
    tcp_set_clean_up_procedure(module_clean_up);
}

static Endpoint *first_open_endpoint(void)
{
    for (loaded_modules_data *module = uber_globals.loaded_modules; module; module = module->next)
        for (Endpoint *endpoint = module->first_loaded_endpoint; endpoint; endpoint = endpoint->next)
            if (endpoint->state == _state_unknown) return endpoint;
    return nullptr;
}

void EndUber(void)
{
    // Every close marks its endpoint closing at least, so the loop ends even
    // on a frozen clock; a close may free a module record, so each turn
    // starts again from the head of the list.
    const uint32_t start = machine_tick_count();
    while ((uint32_t)(machine_tick_count() - start) < (uint32_t)END_UBER_CLOSE_TIMEOUT)
    {
        Endpoint *endpoint = first_open_endpoint();
        if (!endpoint) break;
        LOG_REPEATED("Trying to free endpoint at %p (this was abortive)", (void *)endpoint);
        ProtocolCloseEndpoint(endpoint, false);
    }
    for (const loaded_modules_data *module = uber_globals.loaded_modules; module; module = module->next)
    {
        if (module->first_loaded_endpoint)
        {
            log_message(__FILE__, __LINE__, "WARNING: release_uber was unable to close all netmodules!!");
            break;
        }
    }
    while (uber_globals.loaded_modules)
    {
        loaded_modules_data *module = uber_globals.loaded_modules;
        uber_globals.loaded_modules = module->next;
        free(module);
    }
    uber_idle_synchronous();
    for (int32_t index = 0; index < uber_globals.cache_size; index++) free(uber_globals.endpoint_cache[index]);
    uber_globals.cache_size = 0;
    free(uber_globals.modules);
    uber_globals.modules = nullptr;
    uber_globals.module_count = 0;
    tcp_set_clean_up_procedure(nullptr);
}

NMErr GetIndexedProtocol(int32_t index, protocol_identifier *identifier)
{
    uber_idle_synchronous();
    if (!identifier) return errParamErr;
    if (identifier->version != UBER_IDENTIFIER_VERSION) return errBadVersion;
    if (index < 0) return errParamErr;
    if (index >= uber_globals.module_count) return errNoMoreNetModules;
    *identifier = uber_globals.modules[index];
    return kNMNoError;
}

NMErr ProtocolInit(NMType type)
{
    if (module_is_listed(type)) net_proc<NMInitProtocolPtr>(type, kNMInitProtocol)();
    return kNMNoError;
}

NMErr ProtocolShutdown(NMType type)
{
    if (module_is_listed(type)) net_proc<NMShutdownProtocolPtr>(type, kNMShutdownProtocol)();
    return kNMNoError;
}

// ---------- configurations

NMErr ProtocolCreateConfig(NMType type, int32_t game_id, const char *name, const void *enumeration_data,
                           int32_t enumeration_data_length, const char *config_string, ProtocolConfig **result)
{
    uber_idle_synchronous();
    if (!result) return errParamErr;
    *result = nullptr;
    if (!module_is_listed(type)) return errModuleNotFound;
    const NMErr bind_error = bind_to_protocol(type);
    if (bind_error != kNMNoError) return bind_error;
    ProtocolConfig *config = (ProtocolConfig *)calloc(1, sizeof(ProtocolConfig));
    if (!config)
    {
        unbind_from_protocol(type, true);
        return errNoMem;
    }
    config->type = type;
    config->NMInitProtocol = net_proc<NMInitProtocolPtr>(type, kNMInitProtocol);
    config->NMShutdownProtocol = net_proc<NMShutdownProtocolPtr>(type, kNMShutdownProtocol);
    config->NMCreateConfig = net_proc<NMCreateConfigPtr>(type, kNMCreateConfig);
    config->NMGetConfigLen = net_proc<NMGetConfigLenPtr>(type, kNMGetConfigLen);
    config->NMGetConfig = net_proc<NMGetConfigPtr>(type, kNMGetConfig);
    config->NMDeleteConfig = net_proc<NMDeleteConfigPtr>(type, kNMDeleteConfig);
    config->NMFunctionPassThrough = net_proc<NMFunctionPassThroughPtr>(type, kNMFunctionPassThrough);
    config->NMBindEnumerationItemToConfig =
        net_proc<NMBindEnumerationItemToConfigPtr>(type, kNMBindEnumerationItemToConfig);
    config->NMStartEnumeration = net_proc<NMStartEnumerationPtr>(type, kNMStartEnumeration);
    config->NMIdleEnumeration = net_proc<NMIdleEnumerationPtr>(type, kNMIdleEnumeration);
    config->NMEndEnumeration = net_proc<NMEndEnumerationPtr>(type, kNMEndEnumeration);
    const NMErr error = config->NMCreateConfig(config_string, game_id, name, enumeration_data,
                                               enumeration_data_length, &config->configuration_data);
    if (error != kNMNoError)
    {
        ProtocolDisposeConfig(config);
        return error;
    }
    *result = config;
    return kNMNoError;
}

NMErr ProtocolDisposeConfig(ProtocolConfig *config)
{
    uber_idle_synchronous();
    if (!config) return errBadConfig;
    NMErr error = kNMNoError;
    if (config->configuration_data && config->NMDeleteConfig)
        error = config->NMDeleteConfig(config->configuration_data);
    unbind_from_protocol(config->type, true);
    free(config);
    return error;
}

NMErr ProtocolGetConfigString(ProtocolConfig *config, char *buffer, int32_t *length)
{
    uber_idle_synchronous();
    if (!config) return errBadConfig;
    if (!config->NMGetConfig) return errFunctionNotBound;
    return config->NMGetConfig(config->configuration_data, buffer, length);
}

NMErr ProtocolGetConfigStringLen(ProtocolConfig *config, int32_t *result)
{
    uber_idle_synchronous();
    if (!config) return errBadConfig;
    if (!config->NMGetConfigLen) return errFunctionNotBound;
    if (!result) return errParamErr;
    *result = config->NMGetConfigLen(config->configuration_data);
    return kNMNoError;
}

NMErr ProtocolConfigPassThrough(ProtocolConfig *config, uint32_t selector, void *data)
{
    uber_idle_synchronous();
    if (!config) return errParamErr;
    if (!config->NMFunctionPassThrough) return errFunctionNotBound;
    // The module's pass-through works on endpoints; a configuration has none.
    return config->NMFunctionPassThrough(nullptr, selector, data);
}

NMErr ProtocolStartEnumeration(ProtocolConfig *config, NMEnumerationCallback callback, void *context, bool active)
{
    uber_idle_synchronous();
    if (!config) return errParamErr;
    if (!config->NMStartEnumeration) return errFunctionNotBound;
    config->NMStartEnumeration(config->configuration_data, callback, context, active);
    return kNMNoError;
}

NMErr ProtocolIdleEnumeration(ProtocolConfig *config)
{
    uber_idle_synchronous();
    if (!config) return errParamErr;
    if (!config->NMIdleEnumeration) return errFunctionNotBound;
    config->NMIdleEnumeration(config->configuration_data);
    return kNMNoError;
}

NMErr ProtocolEndEnumeration(ProtocolConfig *config)
{
    uber_idle_synchronous();
    if (!config) return errParamErr;
    if (!config->NMEndEnumeration) return errFunctionNotBound;
    config->NMEndEnumeration(config->configuration_data);
    return kNMNoError;
}

NMErr ProtocolBindEnumerationToConfig(ProtocolConfig *config, NMHostID host)
{
    uber_idle_synchronous();
    if (!config) return errParamErr;
    if (!config->NMBindEnumerationItemToConfig) return errFunctionNotBound;
    config->NMBindEnumerationItemToConfig(config->configuration_data, host);
    return kNMNoError;
}

// ---------- endpoints

NMErr ProtocolOpenEndpoint(ProtocolConfig *config, ProtocolEndpointCallback callback, void *context,
                           Endpoint **result, uint32_t flags)
{
    uber_idle_synchronous();
    if (!config || !result) return errParamErr;
    *result = nullptr;
    Endpoint *endpoint = allocate_endpoint_record();
    if (!endpoint) return errNoMem;
    const NMErr bind_error = bind_to_protocol(config->type);
    if (bind_error != kNMNoError)
    {
        free(endpoint);
        return bind_error;
    }
    endpoint->cookie = PENDPOINT_COOKIE;
    endpoint->type = config->type;
    endpoint->state = _state_unknown;
    endpoint->parent = nullptr;
    copy_endpoint_procedures(endpoint, config->type);
    if (!endpoint->NMOpen)
    {
        unbind_from_protocol(config->type, true);
        free(endpoint);
        return errFunctionNotBound;
    }
    add_endpoint_to_module(endpoint);
    endpoint->callback.user_callback = callback;
    endpoint->callback.user_context = context;
    NMEndpointPriv *module_endpoint = nullptr;
    const NMErr error = endpoint->NMOpen(config->configuration_data, net_module_callback_function, endpoint,
                                         &module_endpoint, (flags & 1) != 0);
    if (error != kNMNoError)
    {
        // The module never made it alive, so it raises no close for it.
        remove_endpoint_from_module(endpoint);
        unbind_from_protocol(config->type, true);
        free(endpoint);
        return error;
    }
    endpoint->module = module_endpoint;
    *result = endpoint;
    return kNMNoError;
}

NMErr ProtocolAcceptConnection(Endpoint *listener, void *cookie, ProtocolEndpointCallback callback, void *context)
{
    if (!live_endpoint(listener, "ProtocolAcceptConnection")) return errParamErr;
    if (!listener->NMAcceptConnection) return errFunctionNotBound;
    Endpoint *endpoint = take_endpoint_record();
    if (!endpoint) return errNoMem;
    const NMErr bind_error = bind_to_protocol(listener->type);
    if (bind_error != kNMNoError)
    {
        log_message(__FILE__, __LINE__, "Err %d binding to protocol", bind_error);
        doom_endpoint_record(endpoint);
        return bind_error;
    }
    endpoint->cookie = PENDPOINT_COOKIE;
    endpoint->type = listener->type;
    endpoint->state = _state_unknown;
    endpoint->parent = listener;
    copy_endpoint_procedures(endpoint, listener->type);
    add_endpoint_to_module(endpoint);
    endpoint->callback.user_callback = callback;
    endpoint->callback.user_context = context;
    const NMErr error =
        listener->NMAcceptConnection(listener->module, cookie, net_module_callback_function, endpoint);
    if (error != kNMNoError)
    {
        LOG_REPEATED("Open failed creating the %d endpoint of type 0x%x for accept Error: %d",
                     count_endpoints_of_type(listener->type), (unsigned)listener->type, error);
        clean_up_endpoint(endpoint, true);
    }
    return error;
}

NMErr ProtocolRejectConnection(Endpoint *listener, void *cookie)
{
    if (!live_endpoint(listener, "ProtocolRejectConnection")) return errParamErr;
    if (!listener->NMRejectConnection) return errFunctionNotBound;
    return listener->NMRejectConnection(listener->module, cookie);
}

NMErr ProtocolCloseEndpoint(Endpoint *endpoint, bool orderly)
{
    if (!live_endpoint(endpoint, "ProtocolCloseEndpoint")) return errParamErr;
    if (endpoint->state == _state_closing) return errParamErr;
    if (!endpoint->NMClose) return errFunctionNotBound;
    if (endpoint->state != _state_unknown) return kNMNoError;
    endpoint->state = _state_closing;
    return endpoint->NMClose(endpoint->module, orderly);
}

NMErr ProtocolIdle(Endpoint *endpoint)
{
    uber_idle_synchronous();
    if (!live_endpoint(endpoint, "ProtocolIdle")) return errParamErr;
    if (endpoint->state == _state_closing) return errParamErr;
    if (!endpoint->NMIdle) return errFunctionNotBound;
    return endpoint->NMIdle(endpoint->module);
}

int32_t ProtocolSend(Endpoint *endpoint, const void *data, uint32_t length, uint32_t flags)
{
    if (!live_endpoint(endpoint, "ProtocolSend")) return errParamErr;
    if (!endpoint->NMSend) return errFunctionNotBound;
    return endpoint->NMSend(endpoint->module, data, length, flags);
}

NMErr ProtocolReceive(Endpoint *endpoint, void *buffer, uint32_t *length, uint32_t *flags)
{
    if (!live_endpoint(endpoint, "ProtocolReceive")) return errParamErr;
    if (!endpoint->NMReceive) return errFunctionNotBound;
    return endpoint->NMReceive(endpoint->module, buffer, length, flags);
}

NMErr ProtocolSendPacket(Endpoint *endpoint, const void *data, uint32_t length, uint32_t flags)
{
    if (!live_endpoint(endpoint, "ProtocolSendPacket")) return errParamErr;
    if (!endpoint->NMSendDatagram) return errFunctionNotBound;
    return endpoint->NMSendDatagram(endpoint->module, data, length, flags);
}

NMErr ProtocolReceivePacket(Endpoint *endpoint, void *buffer, uint32_t *length, uint32_t *flags)
{
    if (!live_endpoint(endpoint, "ProtocolReceivePacket")) return errParamErr;
    if (!endpoint->NMReceiveDatagram) return errFunctionNotBound;
    return endpoint->NMReceiveDatagram(endpoint->module, buffer, length, flags);
}

NMErr ProtocolSetTimeout(Endpoint *endpoint, uint32_t milliseconds)
{
    uber_idle_synchronous();
    if (!live_endpoint(endpoint, "ProtocolSetTimeout")) return errParamErr;
    if (!endpoint->NMSetTimeout) return errFunctionNotBound;
    return endpoint->NMSetTimeout(endpoint->module, milliseconds);
}

bool ProtocolIsAlive(Endpoint *endpoint)
{
    if (!live_endpoint(endpoint, "ProtocolIsAlive")) return false;
    if (!endpoint->NMIsAlive) return false;
    return endpoint->NMIsAlive(endpoint->module);
}

NMErr ProtocolFunctionPassThrough(Endpoint *endpoint, uint32_t selector, void *data)
{
    if (!live_endpoint(endpoint, "ProtocolFunctionPassThrough")) return errParamErr;
    if (!endpoint->NMFunctionPassThrough) return errFunctionNotBound;
    return endpoint->NMFunctionPassThrough(endpoint->module, selector, data);
}

NMErr ProtocolGetEndpointInfo(Endpoint *endpoint, NMModuleInfo *info)
{
    if (!live_endpoint(endpoint, "ProtocolGetEndpointInfo")) return errParamErr;
    if (!endpoint->NMGetModuleInfo) return errFunctionNotBound;
    return endpoint->NMGetModuleInfo(info);
}

NMErr ProtocolStartAdvertising(Endpoint *endpoint)
{
    if (!live_endpoint(endpoint, "ProtocolStartAdvertising")) return errParamErr;
    if (!endpoint->NMStartAdvertising) return errFunctionNotBound;
    return endpoint->NMStartAdvertising(endpoint->module);
}

NMErr ProtocolStopAdvertising(Endpoint *endpoint)
{
    if (!live_endpoint(endpoint, "ProtocolStopAdvertising")) return errParamErr;
    if (!endpoint->NMStopAdvertising) return errFunctionNotBound;
    return endpoint->NMStopAdvertising(endpoint->module);
}

int32_t uber_cached_endpoint_count(void) { return uber_globals.cache_size; }
int32_t uber_doomed_endpoint_count(void) { return uber_globals.doomed_endpoint_count; }
