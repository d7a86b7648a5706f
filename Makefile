# The commands a newcomer needs. Each installs what is missing first.
BUILD ?= build
# The fuzz targets: a tree of their own, built with clang and its sanitizers.
FUZZ_BUILD ?= build-fuzz
WINDOWS_BUILD ?= build-windows
WINDOWS_PACK ?= $(abspath $(BUILD))/payload.vpak
JOBS ?= $(shell nproc)
# Without the WebView2 SDK, make windows stops; make test builds a Windows
# program whose window cannot open and skips the window's tests, saying why.
WEBVIEW2_OPTIONAL ?= OFF

.PHONY: run test deps build fuzz windows

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-sandboxed $(BUILD)

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVELLUMO_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build $(FUZZ_BUILD) --target fuzz_targets -j $(JOBS)

# Every suite: the Linux build's, the fuzz targets' and the Windows build's
# under Wine (in one Wine prefix of the Windows build tree, made on first
# use). Each runs even when one before it failed.
test: WEBVIEW2_OPTIONAL = ON
test: build fuzz windows
	status=0; \
	(cd $(BUILD) && ctest --output-on-failure -j $(JOBS)) || status=1; \
	(cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)) || status=1; \
	(cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)) || status=1; \
	exit $$status

# The Windows program, cross-built with MinGW-w64. The pack is the Linux
# build's (made by its vpak), so both programs carry the same bytes.
windows: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) --target payload_pack -j $(JOBS)
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DVELLUMO_PACK=$(WINDOWS_PACK) -DVELLUMO_WEBVIEW2_OPTIONAL=$(WEBVIEW2_OPTIONAL)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
