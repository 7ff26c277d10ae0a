#include "network_transport_hooks.h"

void register_network_transport_hooks(void)
{
    // The transport offers the program one procedure, the start of the net
    // module manager, which `main` calls once after start-up.  It is joined
    // here when the module manager exists; until then there is nothing to
    // start and the networking table's member stays empty.
}
