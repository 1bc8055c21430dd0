# Two CMake builds: the host side (talvik tool, host tests) and the mingw side
# (launcher library, decoder, Windows tests). One CTest run covers both.
BUILD ?= build
JOBS ?= $(shell nproc)
HOST_DIR := $(BUILD)/host
WIN_DIR := $(BUILD)/win
FUZZ_DIR := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60
export WINEPREFIX := $(abspath $(BUILD))/wine-prefix
export WINEDEBUG := -all
export WINEDLLOVERRIDES := mscoree,mshtml=
WINE := /usr/lib/wine/wine64
PREFIX ?= /usr/local
WINESERVER := /usr/lib/wine/wineserver

.PHONY: all setup build win win-configure host host-configure win-tool demo-build fuzz-build fuzz dist wine-prefix wine-up test demo bench install deb format clean

all: build

setup:
	@bash scripts/setup.sh

win-configure: setup
	cmake -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DTALVIK_WINE_PREFIX=$(WINEPREFIX) \
	  -DTALVIK_HOST_BUILD_DIR=$(abspath $(HOST_DIR)) >/dev/null

win: win-configure
	cmake --build $(WIN_DIR) -j $(JOBS)

# The host tree needs the stub the Windows tree links.
host-configure:
	cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Release \
	  -DTALVIK_WIN_BUILD_DIR=$(abspath $(WIN_DIR)) -DTALVIK_WINE_PREFIX=$(WINEPREFIX) >/dev/null

host: win
	$(MAKE) --no-print-directory host-configure
	cmake --build $(HOST_DIR) -j $(JOBS)

# talvik.exe takes two generated sources from the Linux tree, so it comes last.
win-tool: host
	cmake --build $(WIN_DIR) -j $(JOBS) --target talvik-windows

# The fuzz targets: a tree of their own, built with clang, libFuzzer and the sanitizers.
fuzz-build: setup
	CC=clang CXX=clang++ cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS)

build: win-tool fuzz-build
	@printf 'subdirs("win")\nsubdirs("host")\nsubdirs("fuzz")\n' > $(BUILD)/CTestTestfile.cmake

# Each fuzz target for FUZZ_SECONDS (default 60); `make test` runs each over its seeds only.
fuzz: fuzz-build
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# A private prefix, created once; wineboot needs no network with Mono/Gecko disabled.
wine-prefix: setup
	@test -f $(WINEPREFIX)/system.reg || { mkdir -p $(WINEPREFIX) && $(WINE) wineboot -i >/dev/null 2>&1; $(WINESERVER) -w; }

# A persistent server, with Wine's own background processes started up front: started
# later, they would inherit (and hold open) the output pipe of whichever test came first.
# Both detach from make's output, which they would otherwise hold open.
wine-up: wine-prefix
	@$(WINESERVER) -p >/dev/null 2>&1 </dev/null || true  # already running is fine
	@$(WINE) wineboot >/dev/null 2>&1 </dev/null

# A failed test runs once more: Wine's CreateProcess now and then fails with error 1359
# ("Internal error") under load. A test that fails twice fails the run; the log shows both.
test: build wine-up
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --repeat until-pass:2 $(CTEST_ARGS); status=$$?; $(WINESERVER) -k || true; exit $$status

# Only what the demo runs: the stub, talvik and the two demo apps; no test programs and no
# talvik.exe, which make test builds.
demo-build: win-configure
	cmake --build $(WIN_DIR) -j $(JOBS) --target talvik-stub orrin orrin-table
	$(MAKE) --no-print-directory host-configure
	cmake --build $(HOST_DIR) -j $(JOBS) --target talvik

demo: demo-build wine-up
	@bash scripts/demo.sh $(BUILD); status=$$?; $(WINESERVER) -k || true; exit $$status

bench: build wine-up
	@bash bench/run.sh $(BUILD); status=$$?; $(WINESERVER) -k || true; exit $$status

# talvik and its manual page under $(PREFIX) (bin/, share/man/man1/); DESTDIR stages them.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(HOST_DIR) --prefix "$(PREFIX)" --strip

# $(BUILD)/talvik_<version>_amd64.deb
deb: build
	cpack --config $(HOST_DIR)/CPackConfig.cmake -B $(abspath $(BUILD))

# The release files: the Debian package, as `make deb` makes it, and for Windows hosts
# $(BUILD)/talvik-<version>-windows-x64.zip with talvik.exe and its README.txt.
VERSION = $(shell sed -n 's/^project.talvik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WINDOWS_ZIP := $(BUILD)/talvik-$(VERSION)-windows-x64.zip
dist: deb
	rm -rf $(BUILD)/dist-windows $(WINDOWS_ZIP)
	mkdir -p $(BUILD)/dist-windows
	cp $(WIN_DIR)/talvik.exe $(BUILD)/dist-windows/talvik.exe
	sed 's/$$/\r/' tools/windows/README.txt > $(BUILD)/dist-windows/README.txt
	touch -d @0 $(BUILD)/dist-windows/*  # the same files give the same zip
	cd $(BUILD)/dist-windows && TZ=UTC zip -q -X -9 $(abspath $(WINDOWS_ZIP)) talvik.exe README.txt
	@echo "dist: $(WINDOWS_ZIP)"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp' '*.h')

clean:
	rm -rf $(BUILD)
