# Thin wrapper over CMake.
#   make         build build/tarnelctl
#   make test    every test: the suite, the suite again under ASan+UBSan, each fuzzer for 30 s
#   make check-macos  typecheck every unit that a Mac build compiles for arm64 macOS (Linux; also in make test)
#   make check-agents the OpenCode and Cline CLIs from npm run offline with our hooks: they load and fire,
#                     and a gone program changes nothing (Linux; not in make test: downloads them)
#   make test-repeat N=20   both suites N times in a row, stopping at the first failure (no fuzzers)
#   make demo    drive a stand-in application on a private bus, install hooks in a scratch HOME
#   make bench   measure against the baselines and refresh the Performance section of docs/DEVELOPING.md
#   make fuzz    run each fuzzer for FUZZ_SECONDS
#   make stress  stop installs at random moments, STRESS_ROUNDS times: files stay whole
#   make install     install the program, its manual page and completions under $(DESTDIR)$(PREFIX)
#   make uninstall   remove exactly those files again
#   make package     build the Debian package into build/
#   make dist        the source archive of the last commit, its SHA-256 written into the Homebrew formula
# Each first runs scripts/setup.sh with what it needs: `make` and `make install`
# the build packages only, `make demo` the demo's too, `make test` the tests'
# (NO_INSTALL=1: install nothing, list what is missing).
BUILD ?= build
SAN   ?= build-san
FUZZB ?= build-fuzz
# nproc is GNU's; getconf answers on Linux and macOS alike.
JOBS  ?= $(shell getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)
# LeakSanitizer does not run on macOS. There, Homebrew's GoogleTest is built
# without ASan, so libc++'s container annotations in it would be reported as
# overflows; and a sanitized process's malloc says "nano zone abandoned" on
# standard error, which the tests compare byte for byte, unless told not to use it.
DARWIN := $(filter Darwin,$(shell uname -s))
SAN_ENV := $(if $(DARWIN),ASAN_OPTIONS=detect_leaks=0:detect_container_overflow=0:abort_on_error=1 MallocNanoZone=0,\
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1) UBSAN_OPTIONS=print_stacktrace=1
# The nested make of CMake would otherwise announce every directory it enters.
BUILD_CMD = env -u MAKEFLAGS -u MAKELEVEL cmake --build
FUZZ_SECONDS ?= 300
STRESS_ROUNDS ?= 150
N ?= 20
PREFIX  ?= /usr/local
DESTDIR ?=

# The set-up groups of the goals asked for: build always.
SETUP_GROUPS = build $(filter demo test fuzz bench package,$(MAKECMDGOALS)) \
  $(if $(filter sanitized-test test-repeat,$(MAKECMDGOALS)),test) $(if $(filter test check-macos,$(MAKECMDGOALS)),macos) \
  $(if $(filter check-agents,$(MAKECMDGOALS)),agents)

.PHONY: all setup configure build installables test check-macos check-agents sanitized-build sanitized-test test-repeat fuzz stress demo bench install uninstall package dist clean

all: build

setup:
	@scripts/setup.sh $(sort $(SETUP_GROUPS))

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@$(BUILD_CMD) $(BUILD) -j $(JOBS)

# Only what `make install` puts in place: no test or benchmark is built.
installables: configure
	@$(BUILD_CMD) $(BUILD) -j $(JOBS) --target installables

test: build
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=30
	@$(MAKE) --no-print-directory sanitized-test
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

check-macos: build
	@scripts/check-macos.sh $(BUILD)

check-agents: installables
	@scripts/check-agents.sh $(BUILD)

sanitized-build: setup
	@CC=clang CXX=clang++ cmake -S . -B $(SAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEL_SANITIZE=ON >/dev/null
	@$(BUILD_CMD) $(SAN) -j $(JOBS)

sanitized-test: sanitized-build
	@$(SAN_ENV) ctest --test-dir $(SAN) --output-on-failure -j $(JOBS)

test-repeat: build sanitized-build
	@$(SAN_ENV) scripts/test_repeat.sh $(N) $(JOBS) $(BUILD) $(SAN)

fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZB) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTARNEL_SANITIZE=ON -DTARNEL_FUZZ=ON >/dev/null
	@$(BUILD_CMD) $(FUZZB) -j $(JOBS) --target fuzzers
	@scripts/fuzz.sh $(FUZZB) $(FUZZ_SECONDS)

stress: build
	@tests/stress/crash.sh $(BUILD) $(STRESS_ROUNDS)

demo: build
	@scripts/demo.sh $(BUILD)

bench: build
	@scripts/bench.sh $(BUILD)

install: installables
	@DESTDIR="$(DESTDIR)" scripts/install.sh $(BUILD) "$(PREFIX)"

uninstall: installables
	@DESTDIR="$(DESTDIR)" scripts/install.sh --uninstall $(BUILD) "$(PREFIX)"

package: build
	@$(BUILD_CMD) $(BUILD) --target package

dist:
	@scripts/dist.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN) $(FUZZB) fuzz/corpus-work
