#!/usr/bin/env python3
"""The layer check finds each kind of fault in a small tree, and passes it clean."""

import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # leave no cache in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402

MANIFEST = """library base 1
declares base CoreLibrary/base/
file base CoreLibrary/base/base.h
file base CoreLibrary/base/base.cpp
library side 1 base
declares side CoreLibrary/side/
file side CoreLibrary/side/side.h
library core 2 base side
declares core game/
file core game/core.h
file core game/core.cpp
library units 3 core
declares units game/units
file units game/units.h
file units game/units.cpp
program vesk all units
file vesk game/main.cpp
"""

TABLE = """# Architecture
| Directory or module | Library | Layer | Holds |
|---|---|---|---|
| `CoreLibrary/base/` | `base` | 1 | the base |
| `CoreLibrary/side/` | `side` | 1 | beside it |
| `game/` | `core` | 2 | the core |
| `game/units` | `units` | 3 | units |

Text after the table.
"""

FILES = {
    "CoreLibrary/base/base.h": "#pragma once\n#include <cstdint>\n",
    "CoreLibrary/base/base.cpp": '#include "base.h"\n#include "base/base.h"\n',
    "CoreLibrary/side/side.h": '#include "base/base.h"\n',
    "game/core.h": '#include "side/side.h"\n',
    "game/core.cpp": '#include "core.h"\n#include "version.h"\n',
    "game/units.h": '#include "core.h"\n',
    "game/units.cpp": '#include "units.h"\n',
    "game/main.cpp": '#include "units.h"\n#include "base/base.h"\n',
}


class layer_check(unittest.TestCase):
    def run_check(self, manifest=MANIFEST, table=TABLE, changes=None):
        with tempfile.TemporaryDirectory() as root:
            files = dict(FILES)
            files.update(changes or {})
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as out:
                    out.write(text)
            with open(os.path.join(root, "layers.txt"), "w") as out:
                out.write(manifest)
            with open(os.path.join(root, "architecture.md"), "w") as out:
                out.write(table)
            return check_layers.check(root, os.path.join(root, "layers.txt"), os.path.join(root, "architecture.md"))

    def faults_besides_circles(self, changes):
        # A planted upward include usually closes a circle too; that has its own case.
        return [e for e in self.run_check(changes=changes) if "include circle" not in e]

    def test_a_clean_tree_passes(self):
        self.assertEqual(self.run_check(), [])

    def test_includes_of_later_layers_or_unlinked_libraries_are_faults(self):
        cases = {
            "CoreLibrary/base/base.cpp": "later layer",  # a header of the core
            "CoreLibrary/side/side.h": "later layer",
            "game/core.cpp": "later layer",  # a module of a later subsystem in the same directory
        }
        planted = {
            "CoreLibrary/base/base.cpp": '#include "core.h"\n',
            "CoreLibrary/side/side.h": '#include "units.h"\n',
            "game/core.cpp": '#include "units.h"\n',
        }
        for path, fault in cases.items():
            errors = self.faults_besides_circles({path: planted[path]})
            self.assertEqual(len(errors), 1, errors)
            self.assertIn(fault, errors[0])
            self.assertIn(path, errors[0])
        errors = self.faults_besides_circles({"CoreLibrary/base/base.cpp": '#include "side/side.h"\n'})
        self.assertEqual(len(errors), 1, errors)
        self.assertIn("does not link", errors[0])
        errors = self.faults_besides_circles({"CoreLibrary/base/base.cpp": '#include <cstring>\n  #  include <units.h>\n'})
        self.assertEqual(len(errors), 1, errors)
        self.assertIn("base.cpp:2: includes <units.h> of units", errors[0])

    def test_includes_that_lead_round_between_libraries_are_a_circle(self):
        # The units include the core (allowed); the core including the units
        # back closes a circle, directly or through the side library.
        cases = [
            ({"game/core.cpp": '#include "units.h"\n'}, "core, units", "game/core.cpp:1"),
            ({"CoreLibrary/side/side.h": '#include "units.h"\n'}, "core, side, units", "CoreLibrary/side/side.h:1"),
        ]
        for changes, libraries, line in cases:
            circles = [e for e in self.run_check(changes=changes) if "include circle" in e]
            self.assertEqual(len(circles), 1, changes)
            self.assertIn("libraries %s:" % libraries, circles[0])
            self.assertIn(line, circles[0])
        self.assertEqual(check_layers.include_circles({"a": {"b": "x"}, "b": {"c": "y"}}), [])

    def test_upward_or_forward_links_are_faults(self):
        errors = self.run_check(manifest=MANIFEST.replace("library base 1\n", "library base 1 core\n"))
        self.assertTrue(any("declared after it" in e for e in errors), errors)
        errors = self.run_check(manifest=MANIFEST.replace("library units 3 core", "library units 1 core")
                                .replace("| `units` | 3 |", "| `units` | 1 |"),
                                table=TABLE.replace("| `units` | 3 |", "| `units` | 1 |"))
        self.assertTrue(any("later layer 2" in e for e in errors), errors)

    def test_every_file_belongs_to_exactly_one_library(self):
        errors = self.run_check(changes={"game/orphan.cpp": ""})
        self.assertEqual(errors, ["game/orphan.cpp belongs to no library: declare it in CMakeLists.txt"])
        errors = self.run_check(manifest=MANIFEST + "file units game/core.cpp\n")
        self.assertTrue(any("several libraries" in e for e in errors), errors)

    def test_a_macro_left_defined_in_a_source_file_is_a_fault(self):
        # Files compile several to a unit: a macro a file leaves defined would
        # change the files after it.  Headers keep theirs.
        defined = '#include "core.h"\n#define STEP 4\n#define LIST(x) x,\n#undef LIST\n'
        cases = [
            ("game/core.cpp", defined, ["game/core.cpp:2: defines STEP"]),
            ("tools/probe/probe.cpp", defined, ["tools/probe/probe.cpp:2: defines STEP"]),
            ("game/core.cpp", defined + "#undef STEP\n", []),
            ("game/core.h", "#pragma once\n#define STEP 4\n", []),
            ("tools/shared/harness.cpp", defined, []),  # a library, checked through the manifest, not as a tool
        ]
        for path, text, faults in cases:
            errors = self.run_check(changes={path: text})
            errors = [e for e in errors if "belongs to no library" not in e]
            self.assertEqual([e.split(" and ")[0] for e in errors], faults, path)

    def test_the_table_must_match_the_declarations(self):
        errors = self.run_check(table=TABLE.replace("| `game/units` | `units` | 3 | units |\n", ""))
        self.assertEqual(len(errors), 1, errors)
        self.assertIn("lacks `game/units`", errors[0])
        errors = self.run_check(table=TABLE.replace("| `units` | 3 |", "| `units` | 4 |"))
        self.assertEqual(len(errors), 1, errors)
        self.assertIn("layer 4", errors[0])
        with self.assertRaises(ValueError):
            self.run_check(table="# no table\n")


if __name__ == "__main__":
    unittest.main()
