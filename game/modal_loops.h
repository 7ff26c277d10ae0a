#pragma once
// Modal loops: nested main loops that feed actions to one procedure.
