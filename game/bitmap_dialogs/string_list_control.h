#pragma once
// Lists of strings with identifiers and enable masks.
