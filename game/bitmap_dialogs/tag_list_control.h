#pragma once
// Lists of tags of one group.
