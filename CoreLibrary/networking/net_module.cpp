// The words for the net modules' failures.

#include "networking/net_module.h"

const char *describe_net_module_error(NMErr error)
{
    static const struct
    {
        NMErr error;
        const char *words;
    } described[] = {
        {kNMNoError, "no fault"},
        {kNMOpenFailedErr, "nothing answered at that address: no game is hosted there, or a firewall stands between"},
        {kNMOpenEndpointFailedErr, "this machine could not open a connection (its port may be in use)"},
        {kNMAddressNotFound, "that address could not be found"},
        {kNMInvalidConfigErr, "that is not an address and port to connect to"},
        {kNMTimeoutErr, "the host did not answer in time"},
        {kNMAcceptFailedErr, "the host did not take the connection"},
        {kNMOutOfMemoryErr, "this machine ran out of memory"},
        {kNMProtocolInitFailedErr, "the network could not be started on this machine"},
        {kNMInitFailedErr, "the network could not be started on this machine"},
    };
    for (const auto &d : described)
        if (d.error == error) return d.words;
    return "an unexpected network fault";
}
