# Busprobe: the everyday commands. `make run` and `make test` install what is missing first.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
FUZZ_SECONDS ?= 600

.PHONY: all deps configure build run test test-asan test-tsan bench fuzz format clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
	  ./$(BUILD)/busprobe; \
	else \
	  echo "No display: starting the headless runner on the virtual bus (Ctrl-C ends it)"; \
	  ./$(BUILD)/busprobe --headless; \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The core and its tests under AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBUSPROBE_GUI=OFF \
	  -DBUSPROBE_BENCH=OFF -DBUSPROBE_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS) -LE e2e

# The threaded tests (CAN-via-UDP endpoints, server relay) under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBUSPROBE_GUI=OFF \
	  -DBUSPROBE_BENCH=OFF -DBUSPROBE_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -R Threaded

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && echo "== $$b" && "$$b" || true; done

# Builds the fuzz targets with clang; each runs FUZZ_SECONDS (`make fuzz FUZZ_SECONDS=60`).
fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUSPROBE_GUI=OFF \
	  -DBUSPROBE_TESTS=OFF -DBUSPROBE_BENCH=OFF -DBUSPROBE_FUZZ=ON -DBUSPROBE_SANITIZE=address,undefined \
	  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build build-fuzz -j $(JOBS)
	@for f in build-fuzz/fuzz/fuzz_*; do \
	  mkdir -p build-fuzz/corpus/$$(basename $$f); \
	  echo "== $$f"; $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build-fuzz/corpus/$$(basename $$f) || exit 1; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
