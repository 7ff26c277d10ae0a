#!/usr/bin/env python3
"""Says where the time of `make test` went, from the steps that
scripts/timed_shell.sh added to TIMES: for each part (the builds, the
sanitized suite, the fuzz runs, the release checks...) when it ran, from
the start of the run, and how many seconds of processor its processes took,
so that a change that makes `make test` slower shows which part it slowed.

  where_the_time_went.py TIMES START

START is when the run began (seconds since the epoch).  A step that only
runs other steps (a `make` of other targets) is left out: its steps count.
"""

import os
import re
import sys
import time

# The parts, by what their steps run; the first that matches names a step.
PARTS = [
    ("dependencies", r"install_dependencies"),
    ("sanitized build", r"cmake (-S \S+ -B|--build) \S*/asan"),
    ("sanitized suite", r"ctest .*-L unit"),
    ("release build", r"cmake (-S \S+ -B|--build) \S*/release"),
    ("demo data", r"build_demo_data|make_fuzz_demo_data"),
    ("fuzz build", r"cmake (-S \S+ -B|--build) \S*/fuzz"),
    ("threaded build", r"cmake (-S \S+ -B|--build) \S*/tsan"),
    ("release checks", r"check_release|check_discovery|check_lan_join|check_silent_link"),
    ("fuzz runs", r"run_fuzzers"),
    ("threaded tests", r"ctest .*-L thread"),
]


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    start = float(sys.argv[2])
    now = time.time()
    parts = {}
    try:
        with open(sys.argv[1]) as f:
            lines = f.read().splitlines()
    except OSError:
        lines = []
    for line in lines:
        fields = line.split("\t", 4)
        if len(fields) != 5:
            continue
        begun, ended, processor, status, step = fields
        if re.search(r"(^|[ /])make( |$)", step):
            continue
        name = next((part for part, pattern in PARTS if re.search(pattern, step)), "other")
        part = parts.setdefault(name, {"from": float(begun), "to": float(ended), "wall": 0.0, "processor": 0.0,
                                       "failed": False})
        part["from"] = min(part["from"], float(begun))
        part["to"] = max(part["to"], float(ended))
        part["wall"] += float(ended) - float(begun)
        part["processor"] += float(processor)
        part["failed"] |= status != "0"
    order = [p for p, _ in PARTS] + ["other"]
    print("make test: where the time went (seconds from the start of the run; processor seconds of its processes)")
    for name in sorted(parts, key=lambda p: (parts[p]["from"], order.index(p))):
        part = parts[name]
        print("  %-16s %6.0f to %6.0f  %6.0f s  %7.0f processor s%s" %
              (name, part["from"] - start, part["to"] - start, part["to"] - part["from"], part["processor"],
               "  (failed)" if part["failed"] else ""))
    load = os.getloadavg()
    print("  %-16s %6.0f s on %d processors (load average at the end %.1f, %.1f, %.1f)" %
          ("whole run", now - start, len(os.sched_getaffinity(0)), load[0], load[1], load[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
