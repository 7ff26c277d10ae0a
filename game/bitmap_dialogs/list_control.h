#pragma once
// The list control over the list engine, with type-ahead.
