# The two commands of the README, and a few more for developers.
#   make run   install what is missing, build, start the window
#   make test  install what is missing, build, run every test through CTest

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
TSAN_DIR  ?= build-tsan
FUZZ_DIR  ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build run test test-asan test-tsan bench fuzz screenshot clean

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

# The engine's and the command line's tests with ThreadSanitizer (clang), which also checks the
# engine's lock annotations (-Wthread-safety). Only those targets are built.
test-tsan: deps
	@cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DORLENTA_TSAN=ON >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS)
	@cd $(TSAN_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	@bench/run.sh $(BUILD_DIR)

# The engine's fuzzer (clang, libFuzzer), seeded from fuzz/corpus/. New inputs and crash files
# stay in $(FUZZ_DIR); fuzz/ is only read.
FUZZER = $(FUZZ_DIR)/fuzz/orlenta_engine_fuzzer
fuzz: deps
	@cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DORLENTA_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) --target orlenta_engine_fuzzer -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/new-inputs $(FUZZ_DIR)/artifacts
	@$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -timeout=30 -dict=fuzz/engine.dict \
		-artifact_prefix=$(FUZZ_DIR)/artifacts/ $(FUZZ_DIR)/new-inputs fuzz/corpus; \
	status=$$?; \
	echo "New inputs: $(FUZZ_DIR)/new-inputs. To keep those that add coverage:"; \
	echo "  $(FUZZER) -merge=1 fuzz/corpus $(FUZZ_DIR)/new-inputs"; \
	echo "Crash files, if any: $(FUZZ_DIR)/artifacts (see fuzz/README.md)"; \
	exit $$status

# The README's picture: the installed window on Xvfb after a run over a sample file.
screenshot: build
	@tests/xvfb/real_window.sh $(BUILD_DIR) samples/team.html docs/screenshot.png

clean:
	@rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
