#pragma once
// Joins the network transport (queues, wire format, the net module and its
// endpoints) to the game core.  Called once from register_built_subsystems.

void register_network_transport_hooks(void);
