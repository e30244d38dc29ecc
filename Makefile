# Thin wrapper over CMake: the build lives in CMakeLists.txt.
JOBS ?= $(shell nproc)
WERROR ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS = -DZV_WERROR=$(WERROR)
# Configure quietly (warnings and errors still show) and build without make's
# directory chatter.
CONFIGURE = cmake --log-level=WARNING $(CMAKE_FLAGS)
BUILD = cmake --build
QUIET = -- --no-print-directory

.PHONY: all build run test test-asan test-tsan bench fuzz fuzz-build clean windows test-windows \
        programs install package package-windows

all: build

# Everything: the program, the example and the test suite.
build:
	$(CONFIGURE) -S . -B build
	$(BUILD) build -j $(JOBS) $(QUIET)

# Only what the run needs: the program (the built-in data is a committed source).
run:
	$(CONFIGURE) -S . -B build
	$(BUILD) build --target invar -j $(JOBS) $(QUIET)
	./build/invar

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The two programs, all that is installed.
programs:
	$(CONFIGURE) -S . -B build
	$(BUILD) build --target invar glscreen -j $(JOBS) $(QUIET)

# The programs, their manual pages, desktop entry and icon under PREFIX.
PREFIX ?= /usr/local
install: programs
	cmake --install build --prefix $(PREFIX)

# The Debian package build/invar_<version>_amd64.deb, then its check: control fields,
# file list and lintian (tools/check_package.sh).
package: programs
	cd build && cpack -G DEB
	tools/check_package.sh build

# The Windows zip build-windows/invar-<version>-win64.zip: both programs and a README.
package-windows: windows
	cd $(WINDOWS_BUILD) && cpack -G ZIP

test-asan:
	$(CONFIGURE) -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=address,undefined
	$(BUILD) build-asan -j $(JOBS) $(QUIET)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan:
	$(CONFIGURE) -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=thread
	$(BUILD) build-tsan -j $(JOBS) $(QUIET)
	ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

bench:
	$(CONFIGURE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF -DZV_BENCH=ON
	$(BUILD) build-bench -j $(JOBS) $(QUIET)
	for b in build-bench/bench/bench_*; do $$b || exit 1; done

# The Windows program and test suite, cross-built with MinGW-w64 and run under Wine
# in a prefix of the build's own, made once. The tests run on an Xvfb server of
# their own (the window tests open real windows); Wine's server stays up meanwhile
# so that each program starts quickly, and is ended afterwards.
WINDOWS_BUILD = build-windows
windows:
	$(CONFIGURE) -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	$(BUILD) $(WINDOWS_BUILD) --target invar glscreen -j $(JOBS) $(QUIET)

# Wine's desktop takes the display of the first program it runs, so the prefix is
# first used on the test server. After the suite, the Linux build's terminal test
# types a run into the Windows program on Wine's console, and both builds run the
# same random matrices and their reports are compared.
test-windows: windows build
	$(BUILD) $(WINDOWS_BUILD) -j $(JOBS) $(QUIET)
	WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wineprefix xvfb-run -a -s "-screen 0 1280x1024x24" \
	  sh -c 'mkdir -p "$$WINEPREFIX" && wineserver -p && $(WINDOWS_BUILD)/wine-run cmd /c exit && \
	         ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(JOBS) && \
	         ZV_WINDOWS_BUILD=$(CURDIR)/$(WINDOWS_BUILD) build/tests/test_e2e --gtest_filter=TerminalRun.TheWindows* && \
	         tools/compare_reports.sh 50 build $(WINDOWS_BUILD); \
	         status=$$?; wineserver -k; exit $$status'

# libFuzzer needs clang; each target runs for a bounded time. fuzz-build only builds
# them (CI does, so that the fuzz build stays buildable).
FUZZ_SECONDS ?= 60
fuzz-build:
	command -v clang++ >/dev/null || (apt-get update && apt-get install -y clang)
	CXX=clang++ $(CONFIGURE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_TESTS=OFF -DZV_FUZZ=ON
	$(BUILD) build-fuzz -j $(JOBS) $(QUIET)

fuzz: fuzz-build
	for f in build-fuzz/tests/fuzz/fuzz_*; do $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 || exit 1; done

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz $(WINDOWS_BUILD)
