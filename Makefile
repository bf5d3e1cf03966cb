# Thin front of the CMake build: the native Linux build (bytone.so, tests, tools) in
# build/linux and the mingw-w64 cross build (bytone.dll and its tests, run under wine)
# in build/windows. Each target installs the Debian packages it needs when missing.

BUILD   ?= build
JOBS    ?= $(shell nproc)
LINUX   := $(BUILD)/linux
WINDOWS := $(BUILD)/windows

PACKAGES := cmake make g++ googletest libgtest-dev libgmock-dev libcli11-dev \
            g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine xvfb

export WINEDEBUG ?= -all
export WINEPREFIX ?= $(abspath $(BUILD))/wineprefix

.PHONY: all deps linux windows demo test clean format

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

demo: all
	$(LINUX)/tools/bytone info
	$(LINUX)/tools/bytone programs

test: all
	ctest --test-dir $(LINUX) --output-on-failure -j $(JOBS)
	wineboot --init >/dev/null 2>&1 || true
	ctest --test-dir $(WINDOWS) --output-on-failure -j $(JOBS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
