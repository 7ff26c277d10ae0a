#pragma once
// The tabbed button.
