#pragma once
// The unit status line of the status bar.
