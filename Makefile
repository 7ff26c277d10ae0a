# A thin layer over CMake.  `make run` and `make test` are the two commands a
# fresh Debian 12 machine needs; both install what is missing first.

JOBS ?= $(shell nproc)
BUILD ?= build

.PHONY: all run test deps release release-build demo-data check-sanitized thread-build check-thread check-release \
	release-checks fuzz-build fuzz-demo-data check-fuzz fuzz bench clean \
	test-sanitized test-beside-release test-beside-fuzz test-beside-thread test-release-checks test-fuzz test-thread

all: release

deps:
	./scripts/install_dependencies.sh

define RELEASE_BUILD
cmake -S . -B $(BUILD)/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TESTS=OFF -DVESK_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
cmake --build $(BUILD)/release -j $(JOBS)
endef
release: deps
	$(RELEASE_BUILD)

# (The same without the dependencies, for `make test`, which has them.)
release-build:
	$(RELEASE_BUILD)

DEMO_DATA = ./scripts/build_demo_data.sh $(BUILD)/release/bin
demo-data: release
	$(DEMO_DATA)

# Builds the game and its demo data, then starts it from its own directory.
run: demo-data
	cd $(BUILD)/release/bin && ./vesk --version && ./vesk

# Every test: the whole suite with g++ under AddressSanitizer, the code under test
# also under UndefinedBehaviorSanitizer (tests/CMakeLists.txt), with the layer check;
# the threaded tests under ThreadSanitizer with
# clang++, the release game and its demo data built as `make run` builds them
# and checked end to end, and a short run of the fuzz targets sharing one time
# budget.  (README.md, "What `make test` takes", says how long.)  Every build here keeps line
# tables only (-g1): reports and backtraces need files and lines, and full debug
# information costs compile time.
#
# The sanitized suite runs first, and no other check beside it: it ends
# sooner with the processors to itself (no case of it holds a wall-clock
# figure of one machine; README.md, "Tests and time").  Its cases leave a processor idle for a good
# part of their time (they wait on X servers, child programs and real-time
# network games), so the other builds run beside it at the lowest nice level
# (scripts/beside_the_suite.sh): they take little more than what it leaves,
# one build at a time, the release game first, then the fuzz targets, then the
# threaded tests, and once the suite has ended the one still going goes on at
# the normal level.  (Not the idle class: on a machine kept busy by other
# work it gets no processor at all, and `make test` would never end.)  After
# the suite, as each build is done, its checks run at the normal priority:
# the release checks (which mostly wait on real-time network games, the four
# side by side: -j 8 leaves make slots for them beside the three chains of
# builds) beside the builds still going, then the fuzz targets and the
# threaded tests.  -O keeps the output of each of those steps together; the
# sanitized suite's shows as it comes.
# Each step says how long it took (scripts/timed_shell.sh), and at the end a
# table says where the run's time went (scripts/where_the_time_went.py).
STEP_TIMES = $(BUILD)/make_test_times.txt
SUITE_ENDED = $(BUILD)/sanitized_suite_ended
test: SHELL := ./scripts/timed_shell.sh
test: deps
	mkdir -p $(BUILD) && rm -f $(STEP_TIMES) $(SUITE_ENDED); start=$$(date +%s); \
	VESK_STEP_TIMES=$(abspath $(STEP_TIMES)) $(MAKE) --no-print-directory SHELL=$(SHELL) -O -j 8 \
	    test-release-checks test-fuzz test-thread; status=$$?; \
	./scripts/where_the_time_went.py $(STEP_TIMES) $$start; exit $$status

# The builds beside the sanitized suite (`make test`), one after the other.
BESIDE = ./scripts/beside_the_suite.sh $(SUITE_ENDED)
test-beside-release:
	$(BESIDE) $(MAKE) --no-print-directory release-build
	$(BESIDE) $(DEMO_DATA)
	$(BESIDE) $(MAKE) --no-print-directory fuzz-demo-data
test-beside-fuzz: test-beside-release
	$(BESIDE) $(MAKE) --no-print-directory fuzz-build
test-beside-thread: test-beside-fuzz
	$(BESIDE) $(MAKE) --no-print-directory thread-build

# The sanitized suite; its output shows as it comes (a recursive make's
# output is its own to keep together, and it keeps none).  Whether it passes
# or not, its end lets the builds beside it go on at the normal priority.
test-sanitized:
	$(MAKE) --no-print-directory SHELL=$(SHELL) --output-sync=none check-sanitized; \
	    status=$$?; touch $(SUITE_ENDED); exit $$status

# The checks of `make test` after the sanitized suite, each once its build is done.
test-release-checks: test-sanitized test-beside-release
	$(MAKE) --no-print-directory release-checks
test-fuzz: test-sanitized test-beside-fuzz
	$(RUN_FUZZ_CHECK)
test-thread: test-sanitized test-beside-thread
	$(RUN_THREAD_CHECK)

# The sanitized test cases spend part of their time waiting (X servers
# starting, child programs, clocks), so one more runs at a time than there are
# jobs.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) + 1 )))

# intercept_tls_get_addr=0: the leak checker's record of the thread-local
# blocks of libraries loaded at run time (the sound and video systems load
# and unload several) can hold a block of a library already unloaded, and the
# checker then crashes at exit after every test passed.  Without the
# interception it scans only the program's own thread-local storage.
#
# The resource file gives the processor-bound cases TEST_JOBS slots and the
# cases that wait on real-time network games (tests/CMakeLists.txt) slots of
# their own, so those never leave a processor idle.  Each of those takes about
# a twentieth of a processor for half a minute, and together they take longer
# than all the others: they get one slot per processor and four more, but no
# more than 16 (the longest takes about a third of what 16 slots take in all,
# and each holds several sanitized games in memory).
WAITING_JOBS ?= $(shell n=$$(( $(JOBS) + 4 )); echo $$(( n < 16 ? n : 16 )))
ASAN_TEST_OPTIONS = detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0
UBSAN_TEST_OPTIONS = print_stacktrace=1:halt_on_error=1
# Most cases share a process with others of their program; the runner names
# a case that fails, crashes, hangs or leaks there, and the summary after the
# suite counts the cases run and names every one that failed
# (scripts/case_processes.py, tests/cases_alone.txt).
CASE_PROCESSES = python3 $(CURDIR)/scripts/case_processes.py
check-sanitized:
	cmake -S . -B $(BUILD)/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
	    -DVESK_SANITIZE=address,undefined -DVESK_WERROR=ON -DVESK_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG=-g1
	cmake --build $(BUILD)/asan -j $(JOBS)
	printf '{"version":{"major":1,"minor":0},"local":[{"processor":[{"id":"0","slots":%d}],"waiting":[{"id":"0","slots":%d}]}]}\n' \
	    $(TEST_JOBS) $(WAITING_JOBS) > $(BUILD)/asan/test_slots.json
	rm -rf $(BUILD)/asan/tests/case_results
	cd $(BUILD)/asan && ASAN_OPTIONS=$(ASAN_TEST_OPTIONS) UBSAN_OPTIONS=$(UBSAN_TEST_OPTIONS) \
	    ctest --output-on-failure -j $$(( $(TEST_JOBS) + $(WAITING_JOBS) )) --resource-spec-file test_slots.json -L unit; \
	    status=$$?; $(CASE_PROCESSES) summary tests/case_results || status=1; exit $$status

check-thread: thread-build
	$(RUN_THREAD_CHECK)

thread-build:
	cmake -S . -B $(BUILD)/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
	    -DCMAKE_C_COMPILER=clang-14 -DVESK_SANITIZE=thread -DVESK_BENCH=OFF -DVESK_WERROR=ON -DCMAKE_CXX_FLAGS_DEBUG=-g1
	cmake --build $(BUILD)/tsan -j $(JOBS) --target thread_tests

RUN_THREAD_CHECK = cd $(BUILD)/tsan && rm -rf tests/case_results && \
    TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L thread; \
    status=$$?; $(CASE_PROCESSES) summary tests/case_results || status=1; exit $$status

# The release game, its demo data and the headless end-to-end check; then
# local-network discovery and a game found, joined and played through the
# create-or-join dialog between two network namespaces, and a game whose link
# is cut silent by a packet filter there (root; CI runs as root).
check-release: demo-data
	$(MAKE) --no-print-directory release-checks

# The checks alone, on a release game and demo data already built.  Each
# mostly waits on real-time games and makes its own scratch folders, network
# namespaces and X server, so under `make -j` (as in `make test`) they run
# side by side.
RELEASE_CHECKS = $(addprefix release-check-,check_release check_discovery check_lan_join check_silent_link)
.PHONY: $(RELEASE_CHECKS)
release-checks: $(RELEASE_CHECKS)
$(RELEASE_CHECKS): release-check-%:
	./scripts/$*.sh $(BUILD)/release/bin

# Seconds of fuzzing shared by all targets in `make test`; in `make fuzz` each
# target runs FUZZ_SECONDS_EACH seconds of processor time, and the figures per
# target are kept in $(BUILD)/fuzz/report.txt.  Both run FUZZ_JOBS targets at
# a time: a target's share is its own, however many run beside it.
FUZZ_TOTAL_SECONDS ?= 45
FUZZ_SECONDS_EACH ?= 600
FUZZ_JOBS ?= $(JOBS)
fuzz-build:
	cmake -S . -B $(BUILD)/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
	    -DCMAKE_C_COMPILER=clang-14 -DVESK_FUZZ=ON -DVESK_TESTS=OFF -DVESK_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG=-g1
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_targets

# The demo data set of the targets that run the game or draw with its art
# (scripts/make_fuzz_demo_data.sh), made with the release build's data tool
# (`make test` makes it once the release game is built): a target that finds
# none makes it with the tool of its own build, whose instrumentation makes
# that half a minute of processor time, and two such targets started together
# would both make it.
FUZZ_DATA_SET = $(BUILD)/fuzz/fuzz/demo_data
fuzz-demo-data:
	if [ ! -f $(FUZZ_DATA_SET)/interface_whole.tags ]; then \
	    rm -rf $(FUZZ_DATA_SET).partial && mkdir -p $(FUZZ_DATA_SET).partial && \
	    ./scripts/make_fuzz_demo_data.sh $(BUILD)/release/bin/vesk_tags $(FUZZ_DATA_SET).partial && \
	    rm -rf $(FUZZ_DATA_SET) && mv $(FUZZ_DATA_SET).partial $(FUZZ_DATA_SET); \
	fi

RUN_FUZZ_CHECK = FUZZ_JOBS=$(FUZZ_JOBS) ./scripts/run_fuzzers.sh $(BUILD)/fuzz/fuzz $(FUZZ_TOTAL_SECONDS)
check-fuzz: fuzz-build
	$(RUN_FUZZ_CHECK)

fuzz: deps fuzz-build
	FUZZ_SECONDS_EACH=$(FUZZ_SECONDS_EACH) FUZZ_JOBS=$(FUZZ_JOBS) FUZZ_REPORT=$(BUILD)/fuzz/report.txt \
	    ./scripts/run_fuzzers.sh $(BUILD)/fuzz/fuzz

bench: deps
	cmake -S . -B $(BUILD)/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TESTS=OFF -DVESK_BENCH=ON \
	    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
	cmake --build $(BUILD)/release -j $(JOBS)
	./scripts/build_demo_data.sh $(BUILD)/release/bin
	set -e; for b in $(BUILD)/release/bin/bench_*; do $$b; done

clean:
	rm -rf $(BUILD)
