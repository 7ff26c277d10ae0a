#pragma once
// What a net module shares with the endpoint layer above it: the error codes,
// the event codes its callbacks receive, the module information record and the
// enumeration callback.  Networking failures are a negative code, never a stop.

#include <cstdint>

#include "cseries/cseries.h"

typedef int32_t NMErr;
typedef uint32_t NMType;
typedef uint32_t NMHostID; // an IPv4 address, host order

enum : NMErr
{
    kNMNoError = 0,
    kNMOpenEndpointFailedErr = -5000,
    kNMOutOfMemoryErr = -4999,
    kNMParameterErr = -4998,
    kNMTimeoutErr = -4997,
    kNMInvalidConfigErr = -4996,
    kNMNewerVersionErr = -4995,
    kNMOpenFailedErr = -4994,
    kNMAcceptFailedErr = -4993,
    kNMConfigStringTooSmallErr = -4992,
    kNMResourceErr = -4991,
    kNMAlreadyEnumeratingErr = -4990,
    kNMNotEnumeratingErr = -4989,
    kNMEnumerationFailedErr = -4988,
    kNMNoDataErr = -4987,
    kNMProtocolInitFailedErr = -4985,
    kNMInternalErr = -4984,
    kNMMoreDataErr = -4983,
    kNMUnknownPassThrough = -4982,
    kNMAddressNotFound = -4981,
    kNMAddressNotValidYet = -4980,
    kNMWrongModeErr = -4979,
    kNMBadStateErr = -4978,
    kNMTooMuchDataErr = -4977,
    kNMCantBlockErr = -4976,
    kNMInitFailedErr = -4975,
    kNMFlowErr = -4974,
    kNMProtocolErr = -4793,
    kNMModuleInfoTooSmall = -4792,
};

// What went wrong, in words a player can act on ("nothing answered at that
// address ..."), for the messages the game shows; never NULL, and never a
// bare number: a code without words of its own reads as an unexpected fault.
const char *describe_net_module_error(NMErr error);

// Events a module raises through an endpoint's callback, always synchronously
// inside the caller's call (the poll, an accept, a close or the open wait).
enum NMCallbackCode : int32_t
{
    kNMConnectRequest = 1, // a listener has a pending connection; cookie: the listener
    kNMDatagramData = 2,
    kNMStreamData = 3,
    kNMFlowClear = 4, // a socket that refused data takes it again
    kNMAcceptComplete = 5, // to the new endpoint; cookie: the listener
    kNMHandoffComplete = 6, // to the listener; cookie: the new endpoint
    kNMEndpointDied = 7,
    kNMCloseComplete = 8,
    kNMOpenConnectionIdle = 9, // once per turn of the open wait: pump the window's events
};

// Send flags.
enum : uint32_t
{
    kNMBlocking = 1, // loop until everything is sent
};

// Connection modes: which sockets an endpoint has.
enum : int32_t
{
    _datagram_socket = 0,
    _stream_socket = 1,
    NUMBER_OF_SOCKET_KINDS = 2,
    kNMDatagramMode = 1 << _datagram_socket,
    kNMStreamMode = 1 << _stream_socket,
    kNMNormalMode = kNMDatagramMode | kNMStreamMode, // 3: both, with the port exchange
};

enum : uint32_t
{
    kNMModuleHasStream = 1,
    kNMModuleHasDatagram = 2,
    kNMModuleHasExpedited = 4,
    kNMNoEndpointLimit = 0xFFFFFFFFu,
};

// Module information as reported to callers.  In memory only.
struct NMModuleInfo
{
    int16_t size; // in: the caller's size of this record; out: 84
    int16_t pad;
    NMType type;
    char name[32];
    char copyright[32];
    uint32_t maxPacketSize;
    uint32_t maxEndpoints;
    uint32_t flags;
};
static_assert(sizeof(NMModuleInfo) == 84, "NMModuleInfo is 84 bytes");

struct NMEndpointPriv;

// An endpoint's callback: (module endpoint, the owner's context, code, error,
// cookie).  It may close any endpoint, its own included.
typedef void (*NMEndpointCallback)(NMEndpointPriv *endpoint, void *context, int32_t code,
                                   NMErr error, void *cookie);

// Local-network game enumeration.
enum NMEnumerationCommand : int32_t
{
    kNMEnumAdd = 1,
    kNMEnumDelete = 2,
    kNMEnumClear = 3, // no item
};

struct NMEnumerationItem
{
    NMHostID id;
    const char *name;
    uint32_t customEnumDataLen; // always 0 here
    const void *customEnumData; // always none here
};

// `item` is null for kNMEnumClear and valid only during the call.
typedef void (*NMEnumerationCallback)(void *context, int32_t command, const NMEnumerationItem *item);

// The endpoint layer's clean-up of its own record once a module endpoint that
// became alive has closed (its `user_context`), orderly or not.
typedef void (*NMCleanUpProcedure)(void *context, bool orderly);
