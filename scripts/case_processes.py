#!/usr/bin/env python3
"""How the cases of the test programs become processes, and the runner of a
process shared by several cases.

Starting a sanitized test program costs more than most of its cases: the
sanitizers' run time starts, every case registers, and the leak check runs at
exit.  So the cases that share nothing a process would carry from one to the
next run several to a process, split into shards of about the same length
that run side by side; a case that needs a process of its own (it waits on a
real-time network game, kills or crashes a process, turns the leak check off,
changes what later cases would find) runs alone, as every case did before;
the cases of a suite that only finds what other suites' cases left share
processes with none but each other (tests/cases_alone.txt).

  case_processes.py plan  --programs FILE --out FILE ...   (ctest runs it)
  case_processes.py run   PROGRAM LIST_FILE ...            (one shard)

The runner names every case that fails, and one that crashes, hangs or leaks
in the shared process too: a crash or hang is the case that had started and
not ended (the rest then run in a new process); a fault the process shows
only at its exit (a leak, a crash in a destructor, a process it started in a
group of its own and left running) is found by running each case of that
process again alone.  The other cases' results are kept, and
the run fails naming the case.
"""

# The runner starts once for each of the suite's hundreds of processes: it
# imports at its start only what a run uses (the plan imports the rest), and
# starts without the site hooks (-S), which an interpreter installed with
# extra packages can make cost three times the rest of its start.
import argparse
import math
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time

# ---- the plan ---------------------------------------------------------------


def filter_patterns(text):
    """A gtest filter's positive patterns ("a.*:*b.c") as compiled expressions."""
    patterns = []
    for pattern in text.split(":"):
        if not pattern:
            continue
        expression = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c) for c in pattern)
        patterns.append(re.compile(expression + r"\Z"))
    return patterns


def matches(patterns, name):
    return any(p.match(name) for p in patterns)


def list_cases(program, working_directory, list_file, timeout):
    """The program's cases, in its order: (suite, name, pretty name, file).
    The list is kept beside the program and made again when the program is
    newer."""
    import json
    if not (os.path.exists(list_file) and os.path.getmtime(list_file) >= os.path.getmtime(program)):
        listed = list_file + ".json"
        subprocess.run([program, "--gtest_list_tests", "--gtest_output=json:" + listed],
                       cwd=working_directory, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       timeout=timeout, check=True)
        with open(listed) as f:
            data = json.load(f)
        os.unlink(listed)
        with open(list_file + ".partial", "w") as f:
            json.dump(data, f)
        os.replace(list_file + ".partial", list_file)
    with open(list_file) as f:
        data = json.load(f)
    cases = []
    for suite in data.get("testsuites", []):
        for case in suite.get("testsuite", []):
            name = case["name"]
            # As ctest named them when each was found on its own: a value
            # parameter's comment kept, its index replaced; but not a value
            # with no printer of its own, which prints as its bytes (pointers
            # and padding among them, other in every build and run).
            pretty = name
            if "value_param" in case and not re.match(r"[0-9]+-byte object <", case["value_param"]):
                parameter = "  # GetParam() = " + case["value_param"]
                pretty = re.sub(r"/[0-9]+$", "/" + case["value_param"], name) if re.search(r"/[0-9]+$", name) \
                    else name + parameter
            if "type_param" in case:
                suite_name = re.sub(r"/.*", "", suite["name"])
                full = "%s.%s<%s>" % (suite_name, pretty, case["type_param"])
            else:
                full = "%s.%s" % (suite["name"], pretty)
            cases.append((suite["name"], name, re.sub(r"(^|[./])DISABLED_", r"\1", full), case.get("file", "")))
    return cases


def without_parameter(pretty):
    """A case's name without the comment of the value its parameter prints
    as: a listed case is found by its name alone."""
    return pretty.split("  # GetParam() = ", 1)[0]


def cmake_quote(text):
    return "[==[" + text + "]==]"


def shard_entries(name, path, labels, group, cases, lists, results, arguments):
    """The ctest entries of the processes that share `cases` of program
    `name`: shards of about --shard-seconds each, each a run of the cases in
    the program's order.  Whatever the shards, the cases before a case in its
    process are some of those before it in the program's own order, which one
    process of all its group's cases tries (a case that fails only after
    others goes to cases_alone.txt).  From the cases' known costs only, never
    from what a run measured, so that a process's cases change only when the
    cases do."""
    total = sum(cost for _, cost in cases)
    count = max(1, min(len(cases), math.ceil(total / arguments.shard_seconds)))
    shards = []
    done = 0.0
    for full, cost in cases:
        if not shards or (done >= total * len(shards) / count and len(shards) < count):
            shards.append([0.0, []])
        shards[-1][0] += cost
        shards[-1][1].append(full)
        done += cost
    count = len(shards)
    out = []
    for index, (cost, members) in enumerate(shards):
        shard = "%s:%s_%d_of_%d" % (name, group, index + 1, count)
        list_file = os.path.join(lists, "%s.%s_%d_of_%d.txt" % (name, group, index + 1, count))
        with open(list_file + ".partial", "w") as f:
            f.write("".join(m + "\n" for m in members))
        os.replace(list_file + ".partial", list_file)
        out.append("add_test(%s %s -S %s run %s --cases %s --case-timeout %d --results %s)\n" %
                   (cmake_quote(shard), cmake_quote(arguments.python), cmake_quote(os.path.abspath(__file__)),
                    cmake_quote(path), cmake_quote(list_file), arguments.timeout, cmake_quote(results)))
        # The limit only guards against the runner itself hanging: it
        # bounds each case on its own.
        out.append("set_tests_properties(%s PROPERTIES WORKING_DIRECTORY %s LABELS %s TIMEOUT %d "
                   "RESOURCE_GROUPS processor:1 COST %d)\n" %
                   (cmake_quote(shard), cmake_quote(arguments.working_directory), labels,
                    arguments.timeout * (len(members) + 1), math.ceil(cost)))
    return out


def plan(arguments):
    """Writes the ctest entries of every program to --out."""
    with open(arguments.programs) as f:
        programs = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    waiting = filter_patterns(arguments.waiting)
    alone_patterns = []
    alone_files = []
    apart_patterns = []
    with open(arguments.alone) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("file "):
                alone_files.append(line[5:].strip())
            elif line.startswith("apart "):
                apart_patterns.extend(filter_patterns(line[6:].strip()))
            else:
                alone_patterns.extend(filter_patterns(line))
    costs = {}
    with open(arguments.long_cases) as f:
        for line in f:
            found = re.match(r"^([0-9]+) (.+)$", line.rstrip("\n"))
            if found:
                costs[without_parameter(found.group(2))] = int(found.group(1))
    lists = os.path.join(arguments.working_directory, "case_lists")
    os.makedirs(lists, exist_ok=True)
    results = os.path.join(arguments.working_directory, "case_results")

    def listed(entry):
        name, path = entry[0], entry[1]
        if not os.path.exists(path):
            return name, None, None
        try:
            return name, list_cases(path, arguments.working_directory, os.path.join(lists, name + ".json"),
                                    arguments.discovery_timeout), None
        except (subprocess.SubprocessError, OSError, ValueError) as error:
            why = getattr(error, "stderr", b"") or b""
            return name, None, "%s (%s)" % (error, why.decode(errors="replace")[-2000:])

    import concurrent.futures
    workers = max(1, min(len(programs), os.cpu_count() or 1))
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        found = {name: (cases, error) for name, cases, error in pool.map(listed, programs)}

    out = []
    for name, path, labels in programs:
        cases, error = found[name]
        if error:
            sys.stderr.write("case_processes: %s could not list its cases: %s\n" % (name, error))
            return 1
        if cases is None:
            out.append("add_test(%s_NOT_BUILT %s)\n" % (name, name + "_NOT_BUILT"))
            continue
        shared = []
        apart = {}  # suite: its cases that share a process with no other suite's
        for suite, case, pretty, source in cases:
            full = suite + "." + case
            entry = cmake_quote(pretty)
            disabled = "DISABLED_" in full
            own = disabled or matches(waiting, full) or matches(alone_patterns, full) or \
                any(("/" + f) in source for f in alone_files)
            # Every case is also an entry of its own, for `ctest -R <case>`;
            # the suite (label unit) runs it once: in a shard, or, when it
            # needs a process of its own, as this entry, through the runner.
            if own:
                out.append("add_test(%s %s -S %s run %s --case %s --case-timeout %d --results %s)\n" %
                           (entry, cmake_quote(arguments.python), cmake_quote(os.path.abspath(__file__)),
                            cmake_quote(path), cmake_quote(full), arguments.timeout, cmake_quote(results)))
            else:
                out.append("add_test(%s %s --gtest_filter=%s --gtest_also_run_disabled_tests)\n" %
                           (entry, cmake_quote(path), cmake_quote(full)))
            properties = ["WORKING_DIRECTORY", cmake_quote(arguments.working_directory),
                          "LABELS", labels if own else "alone", "TIMEOUT", str(arguments.timeout),
                          "RESOURCE_GROUPS", "waiting:1" if matches(waiting, full) else "processor:1"]
            if not own:
                properties += ["SKIP_REGULAR_EXPRESSION", cmake_quote(r"\[  SKIPPED \]")]
            if disabled:
                properties += ["DISABLED", "TRUE"]
            cost = costs.get(without_parameter(pretty))
            if cost is not None:
                properties += ["COST", str(cost)]
            out.append("set_tests_properties(%s PROPERTIES %s)\n" % (entry, " ".join(properties)))
            if not own:
                (apart.setdefault(suite, []) if matches(apart_patterns, full) else shared).append(
                    (full, arguments.case_seconds if cost is None else cost))
        groups = [("shared", shared)] if shared else []
        groups += [(suite.replace("/", "+"), members) for suite, members in apart.items()]
        for group, members in groups:
            out += shard_entries(name, path, labels, group, members, lists, results, arguments)
    with open(arguments.out + ".partial", "w") as f:
        f.write("".join(out))
    os.replace(arguments.out + ".partial", arguments.out)
    return 0


# ---- the runner of a shared process --------------------------------------------

RUN = re.compile(r"^\[ RUN      \] (\S+)")
# (A value-parameterized case's failure adds ", where GetParam() = ..." before the time.)
ENDED = re.compile(r"^\[ +(OK|FAILED|SKIPPED) +\] ([^ ,]+)(?:, where .*)? \((\d+) ms\)$")
LEAK = "ERROR: LeakSanitizer"


class process_run:
    """One process of the program over `cases`; afterwards `outcome` holds
    what each case that ran came to, `current` the case that had started and
    not ended, `hung` whether it was stopped for the time it took."""

    def __init__(self, program, cases, case_timeout, echo):
        self.outcome = {}
        self.milliseconds = {}
        self.current = None
        self.hung = False
        self.leaked = False
        self.left_running = []
        self.status = None
        command = [program, "--gtest_filter=" + ":".join(cases)]
        # A process group of its own, to stop it whole; not a session: where
        # the system shares the processor evenly between sessions, each case
        # in a session of its own took an even share from everything else of
        # `make test`, whatever its nice level.  The cases' own starts of
        # python3 find this interpreter first, not a launcher in front of it
        # (a version manager's shim runs a dozen processes at each start).
        environment = dict(os.environ)
        environment["PATH"] = os.path.dirname(sys.executable) + os.pathsep + environment.get("PATH", "")
        child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, process_group=0, env=environment)
        running_children.add(child)
        lines = queue.Queue()

        def read():
            for raw in child.stdout:
                lines.put(raw.decode(errors="replace"))
            lines.put(None)

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        started = time.monotonic()
        ended = None
        while True:
            try:
                line = lines.get(timeout=1)
            except queue.Empty:
                # The program has ended, but what it left running holds its
                # output open: that is ended, or the output never would.
                if ended is None and child.poll() is not None:
                    ended = time.monotonic()
                if ended is not None:
                    self.left_running += end_left_running(child, ended, wait=False)
                if not self.hung and time.monotonic() - started > case_timeout:
                    # (Outside a case: the program's start, its global set-up or its exit.)
                    self.hung = True
                    echo("case_processes: %s has run %d s: stopped as hung\n" %
                         (self.current or "the process outside its cases", case_timeout))
                    kill_group(child)
                continue
            if line is None:
                break
            echo(line)
            if LEAK in line:
                self.leaked = True
            found = RUN.match(line)
            if found:
                self.current = found.group(1)
                started = time.monotonic()
                continue
            found = ENDED.match(line)
            if found and found.group(2) == self.current:
                self.outcome[self.current] = found.group(1).lower()
                self.milliseconds[self.current] = int(found.group(3))
                self.current = None
                started = time.monotonic()
        self.status = child.wait()
        running_children.discard(child)
        # Whatever it started itself (an X server, a game) goes with it, and
        # what it started in a group of its own is named.
        self.left_running += end_left_running(child, ended or time.monotonic(), wait=True)


running_children = set()

# What a program leaves running when it ends comes to the runner (a
# subreaper), to be named and ended; a process still running this long after
# the program ended is not a helper finishing its last step (run's
# --left-running-grace sets it).
left_running_grace = 10.0


def own_processes():
    """This runner's child processes: pid, state and process group each."""
    me = str(os.getpid())
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if fields[1] == me:
            found.append((int(entry), fields[0], int(fields[2])))
    return found


def end_left_running(child, ended, wait):
    """Ends what the program `child` left running when it `ended`: its own
    process group at once, and what it started in groups of their own once
    left_running_grace has passed (sooner when they end by themselves); reaps
    them all.  The command lines of the latter, each once (a call returns only
    when none is left, or with `wait` false, at once while the grace has not
    passed)."""
    kill_group(child)
    named = {}
    while True:
        running = []
        for pid, state, own_group in own_processes():
            if state != "Z":
                running.append((pid, own_group))
                continue
            try:
                os.waitpid(pid, 0)
            except ChildProcessError:
                pass
        waited = time.monotonic() - ended
        # (Twice the grace: one that SIGKILL cannot end is left to the system.)
        if not running or (waited < left_running_grace and not wait) or waited > 2 * left_running_grace:
            return list(named.values())
        if waited >= left_running_grace:
            for pid, own_group in running:
                try:
                    with open("/proc/%d/cmdline" % pid, "rb") as f:
                        command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    continue
                if own_group != child.pid:
                    named.setdefault(pid, command or str(pid))
        time.sleep(0.1)


def kill_group(child):
    try:
        os.killpg(child.pid, signal.SIGKILL)
    except OSError:
        pass


def describe_status(status):
    if status is None:
        return "did not end"
    if status < 0:
        return "killed by signal %d (%s)" % (-status, signal.Signals(-status).name)
    return "exit status %d" % status


def run(arguments):
    # What a program leaves running comes here, not to the system's first
    # process (process_run).
    import ctypes
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    global left_running_grace
    left_running_grace = arguments.left_running_grace
    if arguments.case:
        cases = [arguments.case]
        results_name = "%s.%s.txt" % (os.path.basename(arguments.program), re.sub(r"[^A-Za-z0-9_.-]", "_", arguments.case))
    else:
        with open(arguments.cases) as f:
            cases = [line.strip() for line in f if line.strip()]
        results_name = os.path.basename(arguments.cases)
    program = arguments.program
    name = os.path.basename(program)
    outcome = {}
    milliseconds = {}
    faults = []  # (case, what happened)
    pending = list(cases)
    echo = sys.stdout.write

    # The cases that passed in a process that never reached its exit (a
    # later case crashed or hung there) had no leak check: they run again,
    # together, at the end.
    unchecked = []
    rechecked = set()
    while pending or unchecked:
        batch, again = (pending, False) if pending else (unchecked, True)
        if again:
            unchecked = []
            rechecked.update(batch)
            echo("case_processes: %d cases whose process ended in a crash or hang run again for the leak check\n"
                 % len(batch))
        attempt = process_run(program, batch, arguments.case_timeout, echo)
        ran = [c for c in batch if c in attempt.outcome]
        outcome.update(attempt.outcome)
        milliseconds.update(attempt.milliseconds)
        if attempt.current:
            what = "hung (stopped after %d s)" % arguments.case_timeout if attempt.hung else \
                "crashed: the process ended inside it (%s)" % describe_status(attempt.status)
            outcome[attempt.current] = "crashed"
            faults.append((attempt.current, what))
            unchecked += [c for c in ran if outcome[c] == "ok" and c not in rechecked]
            ran.append(attempt.current)
        elif attempt.leaked or attempt.left_running or \
                (attempt.status != 0 and "failed" not in attempt.outcome.values()):
            # Seen only at the exit: each case of that process again alone.
            echo("case_processes: the process of %d cases ended with %s%s; each runs again alone\n" %
                 (len(ran), describe_status(attempt.status), ", reporting a leak" if attempt.leaked else
                  ", leaving running: " + "; ".join(attempt.left_running) if attempt.left_running else ""))
            named = False
            for case in ran:
                if outcome.get(case) != "ok":
                    continue
                alone = process_run(program, [case], arguments.case_timeout, lambda line: None)
                if alone.status != 0 or alone.leaked or alone.current or alone.left_running:
                    echo("case_processes: alone, %s ends with %s%s\n" %
                         (case, describe_status(alone.status), ", reporting a leak" if alone.leaked else ""))
                    outcome[case] = "crashed"
                    what = "leaked" if alone.leaked else \
                        "left running: " + "; ".join(alone.left_running) if alone.left_running else \
                        "failed at the process's exit"
                    faults.append((case, what + " (%s when run alone)" % describe_status(alone.status)))
                    named = True
            # (After a case that failed, what it left undone may be the leak: it is named already.)
            if not named and not any(outcome.get(c) == "failed" for c in ran):
                faults.append((",".join(ran) or "(no case)", "the process failed at its exit (%s), "
                               "but no case fails alone: they fail only together" % describe_status(attempt.status)))
        if not ran:
            # Nothing started: the program cannot run these at all.
            for case in batch:
                outcome[case] = "not run"
            faults.append((batch[0] if len(batch) == 1 else "%d cases from %s" % (len(batch), batch[0]),
                           "the program ran none of them (%s)" % describe_status(attempt.status)))
            if not again:
                pending = []
            continue
        if not again:
            pending = [c for c in pending if c not in outcome]

    # A case that failed beside others runs again alone, to say whether it
    # fails by itself or only after the cases before it in its process.
    failed = []
    for case in [c for c in cases if outcome.get(c) == "failed"]:
        if len(cases) == 1:
            failed.append((case, "failed"))
            continue
        alone = process_run(program, [case], arguments.case_timeout, lambda line: None)
        failed.append((case, "failed (and alone too)" if alone.outcome.get(case) != "ok" else
                       "failed, but passes alone: it depends on what the cases before it in its process left"))
    faults = failed + faults
    counts = {}
    for c in cases:
        counts[outcome.get(c, "not run")] = counts.get(outcome.get(c, "not run"), 0) + 1
    echo("case_processes: %s: %d cases: %s\n" % (name, len(cases), ", ".join(
        "%d %s" % (n, s) for s, n in sorted(counts.items()))))
    for case, what in faults:
        echo("case_processes: FAILED %s %s: %s\n" % (name, case, what))
    if arguments.results:
        os.makedirs(arguments.results, exist_ok=True)
        path = os.path.join(arguments.results, results_name)
        with open(path + ".partial", "w") as f:
            for c in cases:
                f.write("%s\t%s\t%s\t%.3f\n" % (outcome.get(c, "not run"), name, c, milliseconds.get(c, 0) / 1000))
            for case, what in faults:
                f.write("fault\t%s\t%s: %s\n" % (name, case, what))
        os.replace(path + ".partial", path)
    sys.stdout.flush()
    return 1 if faults else 0


def summary(arguments):
    """Counts the cases that the runners of one ctest run recorded and names
    every one that failed; 1 when one did."""
    counts = {}
    faults = []
    try:
        names = sorted(os.listdir(arguments.results))
    except OSError:
        names = []
    for name in names:
        if not name.endswith(".txt"):
            continue
        with open(os.path.join(arguments.results, name)) as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                if fields[0] == "fault" and len(fields) >= 3:
                    faults.append("%s %s" % (fields[1], "\t".join(fields[2:])))
                elif len(fields) == 4:
                    counts[fields[0]] = counts.get(fields[0], 0) + 1
    total = sum(counts.values())
    print("case_processes: %d cases run by the runner: %s" %
          (total, ", ".join("%d %s" % (n, s) for s, n in sorted(counts.items())) or "none"))
    for fault in faults:
        print("case_processes: FAILED %s" % fault)
    return 1 if faults else 0


def stop_children(number, frame):
    for child in list(running_children):
        kill_group(child)
    sys.exit(128 + number)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("plan")
    p.add_argument("--programs", required=True, help="lines: name, path, labels (tab-separated)")
    p.add_argument("--working-directory", required=True)
    p.add_argument("--waiting", default="", help="gtest filter of the cases that wait on real-time games")
    p.add_argument("--alone", required=True, help="file of the cases that need a process each")
    p.add_argument("--long-cases", required=True)
    p.add_argument("--timeout", type=int, default=600)
    p.add_argument("--discovery-timeout", type=int, default=120)
    p.add_argument("--case-seconds", type=float, default=1.0, help="what a case not in --long-cases is taken to cost")
    p.add_argument("--shard-seconds", type=float, default=30.0)
    p.add_argument("--python", default=sys.executable)
    p.add_argument("--out", required=True)
    r = commands.add_parser("run")
    r.add_argument("program")
    which = r.add_mutually_exclusive_group(required=True)
    which.add_argument("--cases", help="file of the cases, one a line")
    which.add_argument("--case", help="one case")
    r.add_argument("--case-timeout", type=int, default=600)
    r.add_argument("--left-running-grace", type=float, default=left_running_grace)
    r.add_argument("--results", default="")
    m = commands.add_parser("summary")
    m.add_argument("results", help="the directory the runners wrote their results to")
    arguments = parser.parse_args()
    if arguments.command == "plan":
        return plan(arguments)
    if arguments.command == "summary":
        return summary(arguments)
    signal.signal(signal.SIGTERM, stop_children)
    signal.signal(signal.SIGINT, stop_children)
    return run(arguments)


if __name__ == "__main__":
    sys.exit(main())
