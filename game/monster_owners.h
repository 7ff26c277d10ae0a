#pragma once
// Death notices and change of owner: who is told of a death, and units changing hands.
