#pragma once
// Progress bars.
