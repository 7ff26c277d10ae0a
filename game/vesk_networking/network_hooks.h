#pragma once
// Joins the networking library's roles to the transport below them: the
// connection manager asks about the game record through the roles' table.
// Called once from register_built_subsystems.

void register_network_hooks(void);
