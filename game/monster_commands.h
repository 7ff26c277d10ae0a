#pragma once
// Unit commands: the order records, their builders and the executor's unit verbs.
