#pragma once
// Static text.
