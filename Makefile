# Thin front of the CMake build: the native Linux build (bytone.so, tests, tools) in
# build/linux and the mingw-w64 cross build (bytone.dll and its tests, run under wine)
# in build/windows. Each target installs the Debian packages it needs when missing.

BUILD   ?= build
JOBS    ?= $(shell nproc)
LINUX   := $(BUILD)/linux
WINDOWS := $(BUILD)/windows
ASAN    := $(BUILD)/asan

PACKAGES := cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libsndfile1-dev libpng-dev pkg-config amsynth \
            g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine xvfb

export WINEDEBUG ?= -all
export WINEPREFIX ?= $(abspath $(BUILD))/wineprefix

.PHONY: all deps linux windows asan demo test bench clean format

all: linux windows

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

linux: deps
	cmake -S . -B $(LINUX) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(LINUX) -j $(JOBS)

windows: deps
	cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(WINDOWS) -j $(JOBS)

# The unit and host tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN) -j $(JOBS)

demo: all
	$(LINUX)/tools/bytone render -o demo.wav

test: all asan
	ctest --test-dir $(LINUX) --output-on-failure -j $(JOBS)
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)
	@# Under wine, with a virtual display for the editor's window test. A wine server left
	@# from a run without a display would serve windows without a graphics driver.
	wineserver -k 2>/dev/null || true
	xvfb-run -a sh -c 'wineboot --init >/dev/null 2>&1; ctest --test-dir $(WINDOWS) --output-on-failure -j $(JOBS)'
	wineserver -w 2>/dev/null || true
	@# The same presets and MIDI through both binaries must give the same samples.
	cmp $(LINUX)/preset-render.f32 $(WINDOWS)/preset-render.f32
	@echo "Linux and Windows renders of the 38 presets are identical."

bench: linux
	$(LINUX)/bench/bytone_bench --benchmark_min_time=0.1 --benchmark_repetitions=5 \
	  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=false

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
