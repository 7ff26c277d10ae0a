#pragma once
// Registration of the core control types.
