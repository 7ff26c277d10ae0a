#pragma once
// Joins the networking library's roles to the transport below them: the
// connection manager asks about the game record through the roles' table,
// and a client's packet pass asks the game whether it can take more.
// Called once from register_built_subsystems.

void register_network_hooks(void);
