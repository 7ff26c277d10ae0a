#!/usr/bin/env python3
"""The runner of shared case processes (case_processes.py) against a program
whose cases crash, hang, leak, fail and leave a process running on purpose:
each of those is named, the run fails, and the passing cases around them keep
their results; and its plan of which cases share a process.

  case_processes_test.py PLANTED_FAULTS_PROGRAM
"""

import os
import re
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
program = sys.argv[1]
cases = ["planted.passes_first", "planted.leaks", "planted.crashes", "planted.fails", "planted.hangs",
         "planted.leaves_a_process_running", "planted.passes_last"]
sys.path.insert(0, here)
import machine_pace  # noqa: E402

# The runner lives with the scripts that run the suite.
runner = os.path.join(here, "..", "..", "scripts", "case_processes.py")

# Only a bound for the planted hang: the other cases end at once.
limit = max(5, int(machine_pace.scaled_seconds(5)))
plan_problems = []

with tempfile.TemporaryDirectory() as work:
    listed = os.path.join(work, "planted.txt")
    with open(listed, "w") as f:
        f.write("".join(c + "\n" for c in cases))
    results = os.path.join(work, "results")
    run = subprocess.run([sys.executable, runner, "run", program, "--cases", listed, "--case-timeout", str(limit),
                          "--left-running-grace", "1", "--results", results], capture_output=True, text=True)
    summary = subprocess.run([sys.executable, runner, "summary", results],
                             capture_output=True, text=True)
    with open(os.path.join(results, "planted.txt")) as f:
        recorded = dict((fields[2], fields[0]) for fields in (line.rstrip("\n").split("\t") for line in f)
                        if fields[0] != "fault")

# The plan: a case listed alone gets an entry of its own; the cases of a
# suite listed "apart" share processes with no other suite's cases; a shard
# costs what its cases are listed to cost (1 s each unlisted), a case whose
# value prints as its bytes by a name without them.
valued = "opaque/planted_value.passes/0"
with tempfile.TemporaryDirectory() as work:
    files = {name: os.path.join(work, name) for name in ("programs", "alone", "long", "plan")}
    for alone_lines, wanted in (([], {"planted_faults.shared_1_of_1.txt": (cases + [valued], 27)}),
                                (["planted.crashes", "apart planted.*"],
                                 {"planted_faults.shared_1_of_1.txt": ([valued], 20),
                                  "planted_faults.planted_1_of_1.txt":
                                      ([c for c in cases if c != "planted.crashes"], 6)})):
        for name, text in (("programs", "planted_faults\t%s\tunit\n" % os.path.abspath(program)),
                           ("long", "20 %s\n" % valued),
                           ("alone", "".join(line + "\n" for line in alone_lines))):
            with open(files[name], "w") as f:
                f.write(text)
        subprocess.run([sys.executable, runner, "plan", "--programs", files["programs"], "--working-directory", work,
                        "--alone", files["alone"], "--long-cases", files["long"], "--out", files["plan"]])
        text = open(files["plan"]).read() if os.path.exists(files["plan"]) else ""
        runs = {os.path.basename(shard): (open(shard).read().split(), int(cost))
                for shard, cost in re.findall(r"--cases \[==\[([^]]*)\]==\].*\n.* COST ([0-9]+)\)", text)}
        alone = re.findall(r"--case \[==\[([^]]*)\]==\]", text)
        if runs != wanted or alone != [c for c in cases if c in alone_lines]:
            plan_problems.append("with %s: shared %s, alone %s" % (alone_lines, runs, alone))

problems = plan_problems
if run.returncode != 1:
    problems.append("the runner's status is %d, not 1" % run.returncode)
if summary.returncode != 1:
    problems.append("the summary's status is %d, not 1" % summary.returncode)
expected = {"planted.passes_first": "ok", "planted.leaks": "crashed", "planted.crashes": "crashed",
            "planted.fails": "failed", "planted.hangs": "crashed", "planted.leaves_a_process_running": "crashed",
            "planted.passes_last": "ok"}
for case, outcome in expected.items():
    if recorded.get(case) != outcome:
        problems.append("%s is recorded as %s, not %s" % (case, recorded.get(case), outcome))
    named = [line for line in run.stdout.splitlines() if line.startswith("case_processes: FAILED") and case in line]
    if (outcome != "ok") != bool(named):
        problems.append("%s is %snamed as failed" % (case, "" if named else "not "))
    if outcome != "ok" and not any(case in line for line in summary.stdout.splitlines() if "FAILED" in line):
        problems.append("the summary does not name %s" % case)
for case, word in (("planted.leaks", "leaked"), ("planted.crashes", "crashed"), ("planted.hangs", "hung"),
                   ("planted.leaves_a_process_running", "left running")):
    if not any(case in line and word in line for line in run.stdout.splitlines() if "FAILED" in line):
        problems.append("%s is not said to have %s" % (case, word))
if problems:
    print(run.stdout[-20000:])
    print(summary.stdout)
    print("\n".join(problems))
    sys.exit(1)
print("every planted fault named; the passing cases kept their results")
