# zv: host software for the HLM25 USB photodetector.
#   make test   install missing Debian packages, build, run the C++ and Python tests
#   make demo   capture from a detector (the simulated one when none is attached)
#   make bench  run the benchmarks and print their figures

PYTHON := /usr/bin/python3
BUILD ?= build
JOBS ?= $(shell nproc)
export PYTHONDONTWRITEBYTECODE := 1

# The Python tests and tools run against the build tree, never an installed copy.
RUN_ENV := env ZV_BUILD_DIR=$(abspath $(BUILD)) PYTHONPATH=$(abspath $(BUILD)):$(abspath .)

.PHONY: all deps configure build test test-cpp test-python demo bench clean

all: build

deps:
	tools/install-deps.sh build live

$(BUILD)/build.ninja:
	meson setup $(BUILD) --python.install-env=auto

configure: deps $(BUILD)/build.ninja

build: configure
	ninja -C $(BUILD) -j $(JOBS)

test-cpp: build
	meson test -C $(BUILD) --num-processes $(JOBS) --print-errorlogs

test-python: build
	$(RUN_ENV) $(PYTHON) -m pytest -q tests/python

test: test-cpp test-python

demo: build
	$(RUN_ENV) $(PYTHON) tools/demo.py

bench: build
	$(RUN_ENV) $(PYTHON) bench/run.py

clean:
	rm -rf $(BUILD)

# The libusb backend end to end: Debian's kernel under QEMU with simulated detectors on its USB
# bus (e2e/run-e2e.sh). Prints SKIPPED and succeeds where QEMU cannot run (E2E_REQUIRED=1 turns
# that into a failure).
.PHONY: e2e
e2e:
	e2e/run-e2e.sh $(BUILD) $(JOBS) || [ $$? -eq 77 ]

# Reliability (tests/reliability, fuzz/, tests/cpp/reliability).
#   make test-sanitize  the C++ and Python tests on a build with AddressSanitizer and
#                       UndefinedBehaviorSanitizer; fails on any report
#   make fuzz-smoke     every fuzz target for FUZZ_SMOKE_SECONDS (CI)
#   make fuzz           every fuzz target for FUZZ_SECONDS, new coverage merged into fuzz/corpus
#   make soak           a continuous stream from a real-time simulated detector at 80 MS/s, float32
#                       with decimation 10, read by a Python loop for SOAK_SECONDS; reports
#                       samples, loss events, processor time and memory
#   make soak-record    a real-time simulated detector at 80 MS/s recorded raw to the local disk
#                       (the build tree) for SOAK_SECONDS, fewer when the disk is short; reports
#                       loss events, processor time and memory; deletes the file
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SMOKE_SECONDS ?= 25
FUZZ_SECONDS ?= 600
SOAK_SECONDS ?= 600

.PHONY: test-sanitize fuzz-build fuzz-smoke fuzz soak soak-record

$(ASAN_BUILD)/build.ninja:
	meson setup $(ASAN_BUILD) --python.install-env=auto -Dbuildtype=debugoptimized -Dbench=false \
		-Db_sanitize=address,undefined -Db_lundef=false

test-sanitize: deps $(ASAN_BUILD)/build.ninja
	ninja -C $(ASAN_BUILD) -j $(JOBS)
	tests/reliability/run-sanitized.sh $(ASAN_BUILD) $(JOBS)

# The library carries the fuzzer's coverage instrumentation; only the fuzz targets are built.
$(FUZZ_BUILD)/build.ninja:
	CXX=clang++ meson setup $(FUZZ_BUILD) -Dfuzz=true -Dtests=false -Dbench=false \
		-Dbuildtype=debugoptimized -Db_sanitize=address,undefined -Db_lundef=false \
		-Dcpp_args=-fsanitize=fuzzer-no-link

fuzz-build:
	tools/install-deps.sh build fuzz
	$(MAKE) $(FUZZ_BUILD)/build.ninja
	ninja -C $(FUZZ_BUILD) -j $(JOBS) fuzz-targets

fuzz-smoke: fuzz-build
	fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)

fuzz: fuzz-build
	fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) --merge

soak: build
	$(RUN_ENV) $(PYTHON) tests/reliability/soak.py $(SOAK_SECONDS)

soak-record: build
	$(RUN_ENV) $(PYTHON) tests/reliability/soak_record.py $(SOAK_SECONDS) $(abspath $(BUILD))
