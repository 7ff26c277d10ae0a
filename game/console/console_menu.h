#pragma once
// The console's menu line.
