#!/usr/bin/env python3
"""The steps of `make test` around the suite: a build beside the suite yields
to it and gets its priority back when the suite ends, and the summary at the
end names every part of the run."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def wait_for(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


class BesideTheSuite(unittest.TestCase):
    def test_a_build_beside_the_suite_yields_in_the_callers_session_then_runs_at_the_normal_level(self):
        with tempfile.TemporaryDirectory() as directory:
            ended = os.path.join(directory, "ended")
            seen = os.path.join(directory, "seen")
            # The command starts, in a process group of its own (as a build
            # tool starts each compiler), a process that writes its session,
            # process group and nice level until the file `stop` appears.
            # (It ends as well once the directory is gone: a command the test
            # failed to stop must not go on.)
            writer = ("while [ -d %s ] && [ ! -e %s/stop ]; do "
                      "echo $(ps -o sid=,pgid=,ni= -p $$) > %s.partial && mv %s.partial %s; sleep 0.05; done"
                      ) % (directory, directory, seen, seen, seen)
            in_own_group = "import os, sys; os.setpgid(0, 0); os.execvp('sh', ['sh', '-c', sys.argv[1]])"
            runner = subprocess.Popen([os.path.join(HERE, "beside_the_suite.sh"), ended, "sh", "-c",
                                       '"$0" -c "$1" "$2" & wait', sys.executable, in_own_group, writer],
                                      stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(wait_for(lambda: os.path.exists(seen)))
                sid, pgid, nice = open(seen).read().split()
                # Not a session of its own: where the system shares the
                # processor evenly between sessions, a nice level counts only
                # inside its session.
                self.assertEqual(int(sid), os.getsid(0))
                self.assertNotEqual(int(pgid), os.getpgid(0))
                self.assertEqual(int(nice), 19)
                open(ended, "w").close()
                self.assertTrue(wait_for(lambda: open(seen).read().split()[2:] == [str(os.nice(0))]))
            finally:
                open(os.path.join(directory, "stop"), "w").close()
                status = runner.wait(60)
            self.assertEqual(status, 0)


class WhereTheTimeWent(unittest.TestCase):
    def test_each_part_is_named_with_its_time_and_a_step_that_only_runs_others_is_left_out(self):
        steps = [
            (0, 10, 9, "cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug"),
            (10, 250, 1276, "cmake --build build/asan -j 8"),
            (2, 113, 465, "cmake --build build/release -j 8"),
            (113, 171, 58, "./scripts/build_demo_data.sh build/release/bin"),
            (171, 268, 548, "cmake --build build/fuzz -j 8 --target fuzz_targets"),
            (268, 450, 197, "cmake --build build/tsan -j 8 --target thread_tests"),
            (251, 925, 4100, "cd build/asan && ctest --output-on-failure -j 13 -L unit; status=$?"),
            (925, 975, 28, "./scripts/check_release.sh build/release/bin"),
            (925, 951, 200, "FUZZ_JOBS=8 ./scripts/run_fuzzers.sh build/fuzz/fuzz 45"),
            (925, 938, 30, "cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j 8 -L thread"),
            (0, 975, 7000, "make --no-print-directory release-checks"),
        ]
        with tempfile.NamedTemporaryFile("w", suffix=".txt") as times:
            for begun, ended, processor, step in steps:
                times.write("%d\t%d\t%d\t0\t%s\n" % (1000 + begun, 1000 + ended, processor, step))
            times.flush()
            out = subprocess.run([sys.executable, os.path.join(HERE, "where_the_time_went.py"), times.name, "1000"],
                                 capture_output=True, text=True, check=True).stdout
        rows = {line[2:19].strip(): line.split() for line in out.splitlines()[1:]}
        for part, processor in [("sanitized build", "1285"), ("release build", "465"), ("demo data", "58"),
                                ("fuzz build", "548"), ("threaded build", "197"), ("sanitized suite", "4100"),
                                ("release checks", "28"), ("fuzz runs", "200"), ("threaded tests", "30")]:
            self.assertIn(part, rows, out)
            self.assertIn(processor, rows[part], out)
        self.assertNotIn("other", rows, out)


if __name__ == "__main__":
    unittest.main()
