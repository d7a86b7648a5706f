# The commands a newcomer needs. Each installs what is missing first.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
WINDOWS_PACK ?= $(abspath $(BUILD))/payload.vpak
JOBS ?= $(shell nproc)

.PHONY: run test deps build windows

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-sandboxed $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Windows program, cross-built with MinGW-w64. The pack is the Linux
# build's (made by its vpak), so both programs carry the same bytes.
windows: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) --target payload_pack -j $(JOBS)
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DVELLUMO_PACK=$(WINDOWS_PACK)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
