# velko: the two commands a newcomer needs are `make demo` and `make test`.
PYTHON ?= python3
BUILD ?= build/dev
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
SAMPLE ?= samples/sample-arabic.pdf

.PHONY: all deps build install demo test test-cpp test-py fuzz asan bench clean

all: build

deps:
	@scripts/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE=$$(command -v $(PYTHON))

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

install: deps
	$(PYTHON) -m pip install -q --no-build-isolation .

# Installs everything, then prints the text of the sample Arabic PDF.
demo: install
	$(PYTHON) -c "import velko, sys; sys.stdout.write(velko.extract_text('$(SAMPLE)') + '\n')"

# Installs everything and runs every test: the engine's GoogleTest suite, then pytest.
test: build install
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(PYTHON) -m pytest -q -p no:cacheprovider tests/py

test-cpp: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-py: install
	$(PYTHON) -m pytest -q -p no:cacheprovider tests/py

# libFuzzer targets (clang), each run for FUZZ_SECONDS.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELKO_FUZZ=ON -DVELKO_BUILD_TESTS=OFF -DVELKO_BUILD_PYTHON=OFF -DVELKO_BUILD_BENCH=OFF
	cmake --build build/fuzz -j $(JOBS)
	@for f in build/fuzz/tests/fuzz/fuzz_*; do \
	  name=$$(basename $$f); mkdir -p tests/fuzz/corpus/$$name; \
	  echo "== $$name ($(FUZZ_SECONDS)s)"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 tests/fuzz/corpus/$$name tests/fuzz/seeds/$$name 2>&1 | tail -n 3 || exit 1; \
	done

# The whole engine test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELKO_SANITIZE=ON \
	  -DVELKO_BUILD_PYTHON=OFF -DVELKO_BUILD_BENCH=OFF
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: build
	@ls $(BUILD)/bench/ 2>/dev/null | grep '^bench_' || true

clean:
	rm -rf build
