#pragma once
// The mission objectives the console shows.
