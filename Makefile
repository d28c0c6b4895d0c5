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
	tools/install-deps.sh build

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
