#pragma once
// Target scanning and switching.
