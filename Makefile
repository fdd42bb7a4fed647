# Notalumen build entry points.
#   make run    builds the Linux desktop program and starts it
#   make test   builds every target (Linux, sim, both Windows exes) and runs all tests,
#               the sanitizer builds and a short fuzzing run
# Both install the Debian packages they need when they are missing.

BUILD := build
CMAKE_GEN := -G Ninja
JOBS ?= $(shell nproc)

# libjack-jackd2-dev by name: left to itself, apt satisfies librtmidi-dev (for
# the tests' JACK peers; the program does not use it) with JACK 1's
# libjack-dev, which the jackd2 server of the tests then removes together with
# librtmidi-dev.
# librsvg2-bin and python3 turn data/notalumen.svg into the icon files; the
# sim writes its pictures with libpng.
RUN_PACKAGES := cmake ninja-build g++ make pkg-config libjack-jackd2-dev libasound2-dev libsdl2-dev \
  librsvg2-bin python3 libpng-dev
TEST_PACKAGES := $(RUN_PACKAGES) librtmidi-dev libgtest-dev libbenchmark-dev file \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth \
  python3 xdotool x11-utils x11-apps \
  jackd2 desktop-file-utils openbox

WIN32_EXE := $(abspath $(BUILD)/win32/notalumen.exe)
WIN64_EXE := $(abspath $(BUILD)/win64/notalumen.exe)

PREFIX ?= /usr/local

.PHONY: run install test build-linux build-windows test-sanitizers deps-run deps-test clean

deps-run:
	@sh tools/install-packages.sh $(RUN_PACKAGES)

deps-test:
	@sh tools/install-packages.sh $(TEST_PACKAGES)

run: deps-run
	cmake -S . -B $(BUILD)/desktop $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNOTALUMEN_TESTS=OFF
	cmake --build $(BUILD)/desktop -j $(JOBS) --target notalumen
	@# First start: /list writes the settings template (this machine's devices) beside the program
	@# (into the empty sonrack.ini made there first: otherwise it would go to ~/.config/notalumen/).
	test -f $(BUILD)/desktop/sonrack.ini || { : >$(BUILD)/desktop/sonrack.ini && $(BUILD)/desktop/notalumen /list; } \
	  || { rm -f $(BUILD)/desktop/sonrack.ini; exit 1; }
	$(BUILD)/desktop/notalumen $(ARGS)

# Installs the Linux program under PREFIX (default /usr/local): the program, its
# .desktop file, icons, manual page, README and LICENSE.
install: deps-run
	cmake -S . -B $(BUILD)/desktop $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNOTALUMEN_TESTS=OFF
	cmake --build $(BUILD)/desktop -j $(JOBS) --target notalumen
	cmake --install $(BUILD)/desktop --prefix $(PREFIX)

build-windows: deps-test
	cmake -S . -B $(BUILD)/win32 $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	cmake --build $(BUILD)/win32 -j $(JOBS)
	cmake -S . -B $(BUILD)/win64 $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
	cmake --build $(BUILD)/win64 -j $(JOBS)

build-linux: deps-test build-windows
	cmake -S . -B $(BUILD)/linux $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNOTALUMEN_WIN32_EXE=$(WIN32_EXE) -DNOTALUMEN_WIN64_EXE=$(WIN64_EXE)
	cmake --build $(BUILD)/linux -j $(JOBS)

test-sanitizers: deps-test
	cmake -S . -B $(BUILD)/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DNOTALUMEN_SANITIZE=address
	cmake --build $(BUILD)/asan -j $(JOBS) --target notalumen_tests notalumen_desktop_tests notalumen-sim
	ctest --test-dir $(BUILD)/asan --output-on-failure -j $(JOBS)
	cmake -S . -B $(BUILD)/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DNOTALUMEN_SANITIZE=thread
	cmake --build $(BUILD)/tsan -j $(JOBS) --target notalumen_tests notalumen_desktop_tests notalumen-sim
	ctest --test-dir $(BUILD)/tsan --output-on-failure -j $(JOBS)

test: build-linux
	ctest --test-dir $(BUILD)/linux --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-sanitizers
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=15

clean:
	rm -rf $(BUILD)

# Fuzzing with libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
# builds the targets in fuzz/ and runs each for FUZZ_SECONDS; a crash, leak,
# hang, out-of-memory or sanitizer report fails (findings in build/fuzz/out).
FUZZ_PACKAGES := clang llvm libclang-rt-14-dev
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: deps-run
	@sh tools/install-packages.sh $(FUZZ_PACKAGES)
	cmake -S . -B $(BUILD)/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DNOTALUMEN_TESTS=OFF -DNOTALUMEN_BENCH=OFF -DNOTALUMEN_FUZZ=ON
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_all
	sh fuzz/run.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

# Benchmarks in a Release build, their figures written into docs/performance.md:
# the Google Benchmark program on the sim platform (the median of BENCH_REPS
# repetitions), then the desktop program's JACK flood and latency harness
# (FLOOD_RATE messages a second for FLOOD_SECONDS to 1 and to 16 outputs, then
# FLOOD_HIGH_RATE to 1, each against a direct loopback and, when installed, a peer)
# and its idle cost over IDLE_SECONDS (against a sleep; then with IN1 and OUT1
# open beside jack-keyboard, and a do-nothing JACK client in its place), each in
# a private jackd and Xvfb.
BENCH_REPS ?= 5
FLOOD_RATE ?= 100000
FLOOD_SECONDS ?= 10
FLOOD_HIGH_RATE ?= 300000
IDLE_SECONDS ?= 30
# jalv and x42-plugins: the peer the flood harness measures beside the program;
# jack-keyboard: the one the idle cost is measured beside.
BENCH_PACKAGES := libbenchmark-dev libx11-dev jackd2 xvfb x11-utils jalv x42-plugins jack-keyboard
.PHONY: bench
bench: deps-run
	@sh tools/install-packages.sh $(BENCH_PACKAGES)
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DNOTALUMEN_TESTS=OFF -DNOTALUMEN_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS) --target notalumen_bench notalumen_jack_flood notalumen_jack_floor notalumen
	sh bench/perf_table.sh $(BUILD)/bench/bench/notalumen_bench docs/performance.md $(BENCH_REPS)
	printf '### %s messages a second to 1 output\n\n' $(FLOOD_RATE) >$(BUILD)/bench/jack_flood.md
	$(BUILD)/bench/bench/notalumen_jack_flood $(BUILD)/bench/notalumen --rate $(FLOOD_RATE) \
	  --seconds $(FLOOD_SECONDS) >>$(BUILD)/bench/jack_flood.md
	printf '\n### %s messages a second to 16 outputs\n\n' $(FLOOD_RATE) >>$(BUILD)/bench/jack_flood.md
	$(BUILD)/bench/bench/notalumen_jack_flood $(BUILD)/bench/notalumen --rate $(FLOOD_RATE) \
	  --seconds $(FLOOD_SECONDS) --outputs 16 >>$(BUILD)/bench/jack_flood.md
	printf '\n### %s messages a second to 1 output\n\n' $(FLOOD_HIGH_RATE) >>$(BUILD)/bench/jack_flood.md
	$(BUILD)/bench/bench/notalumen_jack_flood $(BUILD)/bench/notalumen --rate $(FLOOD_HIGH_RATE) \
	  --seconds $(FLOOD_SECONDS) >>$(BUILD)/bench/jack_flood.md
	sh bench/doc_section.sh docs/performance.md jack-flood <$(BUILD)/bench/jack_flood.md
	sh bench/idle_cost.sh $(BUILD)/bench/notalumen $(IDLE_SECONDS) >$(BUILD)/bench/idle_cost.md
	printf '\n' >>$(BUILD)/bench/idle_cost.md
	sh bench/idle_beside_jack.sh $(BUILD)/bench/notalumen $(IDLE_SECONDS) >>$(BUILD)/bench/idle_cost.md
	sh bench/doc_section.sh docs/performance.md idle-cost <$(BUILD)/bench/idle_cost.md
