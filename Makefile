# Thin front of the CMake build: the native Linux build (bytone.so, tests, tools) in
# build/linux and the mingw-w64 cross build (bytone.dll and its tests, run under wine)
# in build/windows. Each building target installs the Debian packages it needs when
# missing, one installation at a time whatever -j says; `install` installs none and
# builds only what it installs (in build/release).

BUILD   ?= build
JOBS    ?= $(shell nproc)
LINUX   := $(BUILD)/linux
WINDOWS := $(BUILD)/windows
ASAN    := $(BUILD)/asan
TSAN    := $(BUILD)/tsan
FUZZ    := $(BUILD)/fuzz
WASM    := $(BUILD)/wasm
WEB     := $(BUILD)/web
FUZZ_SECONDS ?= 60
DIST    := $(BUILD)/dist
RELEASE := $(BUILD)/release
PREFIX  ?= /usr/local
VERSION := $(shell sed -n 's/^project.bytone VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
FUZZ_TARGETS := formula chunk session bank render

# What the plug-in and the tool need; then what the tests, benchmarks and fuzzing add.
RELEASE_PACKAGES := cmake make g++ pkg-config libcli11-dev libsndfile1-dev libpng-dev help2man \
                    libxcb1-dev libxkbcommon-x11-dev libcairo2-dev fonts-dejavu-core dpf-source lv2-dev
# What the plug-in validators beside the project need to run.
VALIDATOR_PACKAGES := libasound2 libfreetype6 libpng16-16 libjpeg62-turbo libflac12 libvorbisenc2 libvorbisfile3 \
                      libogg0 libbrotli1 zlib1g liblilv-0-0 libelf1 libx11-6 libserd-0-0 libsord-0-0 libsratom-0-0
LINUX_PACKAGES := $(RELEASE_PACKAGES) googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
                  amsynth libx11-dev libxtst-dev libxres-dev xvfb xauth x11-xkb-utils xclip devscripts qtractor ardour liblilv-dev lilv-utils \
                  jackd2 jalv clang-format git libfftw3-dev sox file $(VALIDATOR_PACKAGES)
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine xvfb zip unzip nsis
# What the Debian package's build and its checks add to the release build's.
DEB_PACKAGES := $(RELEASE_PACKAGES) build-essential debhelper dpkg-dev lintian devscripts
# Archives carry the date of the last commit, so that two builds give the same bytes.
export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 0)
WEB_PACKAGES := emscripten chromium python3 sox
# Emscripten's tools are Node programs; with another Node than Debian's they find
# Debian's JavaScript modules only this way.
EMSCRIPTEN := NODE_PATH=/usr/share/nodejs

export WINEDEBUG ?= -all
export WINEPREFIX ?= $(abspath $(BUILD))/wineprefix

.PHONY: all deps deps-release deps-linux deps-windows deps-web deps-deb web release install uninstall dist deb \
        docs linux windows \
        asan tsan fuzz-build fuzz demo check test bench clean format

all: linux windows

# Installs the missing Debian packages of a list: as root at once, otherwise through sudo
# after saying what, and without sudo it prints the command to run and stops. Steps that
# run side by side (make -j) take turns through a lock, so that no apt-get finds the
# package manager busy.
define install-missing
	@missing=$$(for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || printf "%s " $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then as_root=; \
	  elif command -v sudo >/dev/null 2>&1; then as_root=sudo; \
	  else echo "Missing Debian packages. As root, run: apt-get install" $$missing; exit 1; fi; \
	  echo "Installing:" $$missing; \
	  $$as_root flock /tmp/bytone-packages.lock sh -c "apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing"; \
	fi
endef

deps: deps-linux deps-windows deps-web deps-deb
deps-release:
	$(call install-missing,$(RELEASE_PACKAGES))
deps-linux:
	$(call install-missing,$(LINUX_PACKAGES))
deps-windows:
	$(call install-missing,$(WINDOWS_PACKAGES))
deps-deb:
	$(call install-missing,$(DEB_PACKAGES))
# The page's WAV writer and the browser tests' driver, as the lock file pins them.
deps-web:
	$(call install-missing,$(WEB_PACKAGES))
	@[ node_modules/.package-lock.json -nt package-lock.json ] || npm ci --no-audit --no-fund

linux: deps-linux
	cmake -S . -B $(LINUX) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(LINUX) -j $(JOBS)

windows: deps-windows deps-linux
	cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(WINDOWS) -j $(JOBS)

# The page: a static site in $(WEB), the instrument compiled to WebAssembly beside it.
web: deps-web
	$(EMSCRIPTEN) emcmake cmake -S . -B $(WASM) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DBYTONE_WEB_DIR=$(abspath $(WEB)) -DWAVEFILE_SCRIPT=$(abspath node_modules/wavefile/dist/wavefile.js)
	$(EMSCRIPTEN) cmake --build $(WASM) -j $(JOBS)

# The unit and host tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps-linux
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN) -j $(JOBS)

# The three-thread stress test and the CLAP plug-in's threads under ThreadSanitizer.
tsan: deps-linux
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="-fsanitize=thread"
	cmake --build $(TSAN) -j $(JOBS) --target concurrency_test editor_x11_test

# The fuzz targets as libFuzzer programs, with AddressSanitizer and UndefinedBehaviorSanitizer.
fuzz-build: deps-linux
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DBYTONE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
	cmake --build $(FUZZ) -j $(JOBS)

# Each target for FUZZ_SECONDS, growing a working corpus seeded from fuzz/corpus. A
# finding stops the run and leaves its input in $(FUZZ)/findings.
fuzz: fuzz-build
	@mkdir -p $(FUZZ)/findings
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ)/corpus/$$t && cp -n fuzz/corpus/$$t/* $(FUZZ)/corpus/$$t/ 2>/dev/null; \
	  $(FUZZ)/fuzz/$${t}_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ)/findings/$$t- $(FUZZ)/corpus/$$t > $(FUZZ)/$$t.log 2>&1 \
	    || { tail -30 $(FUZZ)/$$t.log; echo "fuzz target $$t found a fault"; exit 1; }; \
	  runs=$$(sed -n 's/^stat::number_of_executed_units: *//p' $(FUZZ)/$$t.log); \
	  echo "fuzz $$t: $$runs executions in $(FUZZ_SECONDS) s ($$((runs / $(FUZZ_SECONDS))) a second), no finding"; \
	done

# The Linux plug-in and the tool with its manual page, without the tests.
release: deps-release
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(RELEASE) -j $(JOBS)

# The Linux plug-ins, the tool, its manual page and the guide under $(DESTDIR)$(PREFIX):
# the plug-ins in lib/vst, lib/clap, lib/vst3 and lib/lv2, where Linux hosts look for
# them. Installs no package: a machine without what the build needs gets CMake's message
# of what is missing. Each place installed to is remembered apart (in $(RELEASE)/installs).
install:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(RELEASE) -j $(JOBS)
	cmake -DACTION=install -DBUILD=$(RELEASE) -DPREFIX=$(PREFIX) -DDESTDIR=$(DESTDIR) -P cmake/install-tree.cmake

# What `install` put in $(DESTDIR)$(PREFIX), and the folders it made there, when empty.
uninstall:
	cmake -DACTION=uninstall -DBUILD=$(RELEASE) -DPREFIX=$(PREFIX) -DDESTDIR=$(DESTDIR) -P cmake/install-tree.cmake

# The release archives: the Windows plug-ins (stripped) with the README, the licence, the
# guide and its pictures in a zip file, and the same in an installer (NSIS); the Linux
# plug-ins, tool, manual page and guide, laid out as installed and stripped, in a tar
# file, with the README and what the system needs at its top; the web page's static site
# in another. Each unpacks into a folder of its own. The archives are reproducible: files
# in name order, owned by root, dated SOURCE_DATE_EPOCH (the last commit), so that two
# runs give the same bytes.
WINDOWS_DIST := bytone-$(VERSION)-windows-x64
LINUX_DIST := bytone-$(VERSION)-linux-x86_64
INSTALLER := $(DIST)/$(WINDOWS_DIST)-setup.exe
TAR_REPRODUCIBLY := tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@$(SOURCE_DATE_EPOCH)
dist: all web
	rm -rf $(DIST) && mkdir -p $(DIST)/windows/$(WINDOWS_DIST)/Bytone.vst3/Contents/x86_64-win
	DESTDIR= cmake --install $(LINUX) --prefix $(abspath $(DIST))/linux/$(LINUX_DIST) --strip
	cp -r README.md LICENSE docs $(DIST)/windows/$(WINDOWS_DIST)/
	@# The pictures and results the guide links to, in the folders beside it, as installed.
	cp -r $(addprefix $(DIST)/linux/$(LINUX_DIST)/share/doc/bytone/,editor web bench) $(DIST)/windows/$(WINDOWS_DIST)/
	for plugin in bytone.dll bytone.clap Bytone.vst3/Contents/x86_64-win/Bytone.vst3; do \
	  x86_64-w64-mingw32-strip --strip-unneeded -o $(DIST)/windows/$(WINDOWS_DIST)/$$plugin $(WINDOWS)/$$plugin || exit 1; \
	done
	find $(DIST)/windows -exec touch -h -d @$(SOURCE_DATE_EPOCH) {} +
	cd $(DIST)/windows && find $(WINDOWS_DIST) | LC_ALL=C sort | TZ=UTC zip -q -X ../$(WINDOWS_DIST).zip -@
	makensis -V2 -WX -DVERSION=$(VERSION) -DFILES=$(abspath $(DIST)/windows/$(WINDOWS_DIST)) \
	  -DOUTFILE=$(abspath $(INSTALLER)) cmake/windows-installer.nsi
	cp LICENSE $(DIST)/linux/$(LINUX_DIST)/
	sed 's,](docs/,](share/doc/bytone/,g' README.md > $(DIST)/linux/$(LINUX_DIST)/README.md
	sed 's,](\([a-z-]*\.md\)),](share/doc/bytone/\1),g' docs/install.md > $(DIST)/linux/$(LINUX_DIST)/INSTALL.md
	$(TAR_REPRODUCIBLY) -C $(DIST)/linux -cf - $(LINUX_DIST) | gzip -n > $(DIST)/$(LINUX_DIST).tar.gz
	$(TAR_REPRODUCIBLY) -C $(WEB) -cf - --transform 's,^\.,bytone-$(VERSION)-web,' . | \
	  gzip -n > $(DIST)/bytone-$(VERSION)-web.tar.gz
	@echo "Made $(DIST)/$(WINDOWS_DIST).zip, $(INSTALLER), $(DIST)/$(LINUX_DIST).tar.gz and $(DIST)/bytone-$(VERSION)-web.tar.gz"

# The Debian package $(DEB)/bytone_$(VERSION)-1_amd64.deb: dpkg-buildpackage on a copy of
# the tree (the tests are make test's), then lintian, which may find no error nor warning.
DEB := $(BUILD)/deb
DEB_FILE := $(DEB)/bytone_$(VERSION)-1_amd64.deb
deb: deps-deb
	rm -rf $(DEB) && mkdir -p $(DEB)/bytone-$(VERSION)
	tar --exclude=./build --exclude=./node_modules --exclude=./.git --exclude=./$(BUILD) -cf - . | \
	  tar -C $(DEB)/bytone-$(VERSION) -xf -
	cd $(DEB)/bytone-$(VERSION) && DEB_BUILD_OPTIONS="parallel=$(JOBS) noddebs" dpkg-buildpackage -b -us -uc
	lintian --pedantic --fail-on error,warning --tag-display-limit 0 $(DEB_FILE)
	@echo "Made $(DEB_FILE)"

# The gallery of the presets (docs/presets.md and its pictures), drawn by the tool; a
# test checks that the committed one is what the presets draw.
docs: linux
	cmake -DTOOL=$(LINUX)/tools/bytone -DDOCS=docs -P cmake/preset-gallery.cmake

# The Linux plug-in, the tool and its manual page are all the demo needs.
demo: release
	$(RELEASE)/tools/bytone render -o demo.wav

# The fast loop: the Linux build's unit, engine, editor and host tests, without the
# sanitizers, wine, the browser, Ardour, jalv or the validators.
check: linux
	xvfb-run -a ctest --test-dir $(LINUX) --output-on-failure -j $(JOBS) -LE external

test: all asan tsan web deps-deb
	@# With a virtual X server for the editor's window tests.
	xvfb-run -a ctest --test-dir $(LINUX) --output-on-failure -j $(JOBS)
	xvfb-run -a ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 BYTONE_STRESS_SECONDS=5 $(TSAN)/tests/concurrency_test
	TSAN_OPTIONS=halt_on_error=1 xvfb-run -a $(TSAN)/tests/editor_x11_test --gtest_filter='ClapEditorTest.*'
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10
	@# Under wine, with a virtual display for the editor's window test. A wine server left
	@# from a run without a display would serve windows without a graphics driver.
	wineserver -k 2>/dev/null || true
	xvfb-run -a sh -c 'wineboot --init >/dev/null 2>&1; ctest --test-dir $(WINDOWS) --output-on-failure -j $(JOBS)'
	@# The release archives, unpacked elsewhere, load and play from there, and a second
	@# packing gives the same bytes.
	$(MAKE) --no-print-directory dist
	xvfb-run -a sh tests/dist_test.sh $(VERSION) $(DIST) $(WINDOWS)/plugin_host_test.exe
	$(MAKE) --no-print-directory dist DIST=$(BUILD)/dist-again
	for archive in $(WINDOWS_DIST).zip $(LINUX_DIST).tar.gz bytone-$(VERSION)-web.tar.gz; do \
	  cmp $(DIST)/$$archive $(BUILD)/dist-again/$$archive || exit 1; done
	@echo "Two packings of the release archives are identical."
	@# The installer under wine: silent install, the plug-ins load where it put them, and
	@# the uninstaller leaves nothing.
	xvfb-run -a sh tests/installer_test.sh $(INSTALLER) $(WINDOWS)
	wineserver -w 2>/dev/null || true
	@# The Debian package: lintian, then installed, used and purged on this machine.
	$(MAKE) --no-print-directory deb
	sh tests/deb_test.sh $(DEB_FILE)
	@# The same presets and MIDI through both binaries must give the same samples.
	cmp $(LINUX)/preset-render.f32 $(WINDOWS)/preset-render.f32
	@echo "Linux and Windows renders of the 38 presets are identical."
	@# The same again from the engine in WebAssembly, run by Node.
	node $(WASM)/web/preset_render.cjs $(WASM)/preset-render.f32
	cmp $(LINUX)/preset-render.f32 $(WASM)/preset-render.f32
	@echo "The WebAssembly render of the 38 presets is identical too."
	BYTONE_SITE=$(WEB) BYTONE_TOOL=$(LINUX)/tools/bytone node --test tests/web/formula_code_test.mjs
	@# The page in headless Chromium, checked against the Linux plug-in through the tool.
	BYTONE_SITE=$(WEB) BYTONE_TOOL=$(LINUX)/tools/bytone BYTONE_SCREENSHOT=$(BUILD)/page-screenshot.png \
	  node --test tests/web/page_test.mjs

bench: linux web
	$(LINUX)/bench/bytone_bench --benchmark_min_time=0.1 --benchmark_repetitions=5 \
	  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=false
	node bench/wasm_render.mjs $(WEB) $(LINUX)/bench/bytone_bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
