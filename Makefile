# The two commands of the README, and a few more for developers.
#   make run   install what is missing, build, start the window
#   make test  install what is missing, build, run every test through CTest

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build run test test-asan bench fuzz screenshot clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt: | deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps $(BUILD_DIR)/CMakeCache.txt
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run-window.sh $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DORLENTA_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	@bench/run.sh $(BUILD_DIR)

screenshot: build
	@scripts/screenshot.sh $(BUILD_DIR) docs/screenshot.png

clean:
	@rm -rf $(BUILD_DIR) $(ASAN_DIR)
