# make test: build everything and run the tests; make demo: the main job; make bench: benchmarks;
# make soak: 500 secure sends in one simulated Outlook; make package: the signed installer package;
# make demo-stress: make demo three times in a row beside a parallel compile; make faults: a fault sweep.
BUILD ?= build
CMAKE_FLAGS := -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

.PHONY: all deps build test demo demo-stress bench soak screenshots package faults clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

test: build
	@tools/run-tests.sh $(BUILD)

demo: build
	@rm -rf $(BUILD)/prefix-demo
	@tools/wine-session.sh $(BUILD)/prefix-demo tools/demo.sh $(BUILD)

# Each run from fresh prefixes, with the machine busy; logs in $(BUILD)/demo-stress-N.log.
demo-stress: build
	@tools/demo-stress.sh $(BUILD)

bench: build
	@rm -rf $(BUILD)/prefix-bench
	@tools/wine-session.sh $(BUILD)/prefix-bench tools/bench.sh $(BUILD)

# 500 secure sends in one simulated Outlook (bench/README.md).
soak: build
	@rm -rf $(BUILD)/prefix-soak
	@SOAK_SENDS=500 tools/wine-session.sh $(BUILD)/prefix-soak bash -c 'tools/install-prefix.sh $(BUILD) >/dev/null && \
	  wine $(BUILD)/tests/integration_tests.exe --gtest_filter="SoakTest.*"'

# A PNG of every dialog and wizard page in every language, of the document ribbon's menus and
# balloon, and of Outlook's ribbon menus and balloon in English and German, in $(BUILD)/screenshots.
screenshots: build
	@rm -rf $(BUILD)/prefix-shots
	@tools/wine-session.sh $(BUILD)/prefix-shots tools/uidriver-shots.sh $(BUILD)

# The module's Windows Installer package, signed with the test authority's code-signing
# certificate, in $(BUILD)/package (docs/administration.md).
package: build
	@tools/wine-session.sh $(BUILD)/prefix-package-build tools/package.sh $(BUILD)

# A fault sweep: Outlook's calls from the add-in failed one by one (docs/fault-injection.md);
# STEP=n fails every n-th call only.
faults: build
	@rm -rf $(BUILD)/prefix-faults
	@tools/wine-session.sh $(BUILD)/prefix-faults bash -c 'tools/install-prefix.sh $(BUILD) >/dev/null && \
	  tools/fault-sweep.sh $(BUILD) $(or $(STEP),1)'

clean:
	rm -rf $(BUILD)
