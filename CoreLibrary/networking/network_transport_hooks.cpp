#include "network_transport_hooks.h"

#include "networking_procedures.h"
#include "uber/uber.h"

void register_network_transport_hooks(void)
{
    // The transport offers the program one procedure, the start of the net
    // module manager, which `main` calls once after start-up.
    register_start_network_module_manager_procedure(InitUber);
}
