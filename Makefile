# Drives CMake. `make run` and `make test` install what they need from Debian first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# How long `make fuzz` runs each fuzz target, in seconds.
FUZZ_SECONDS ?= 600
RUN_DIR    ?= run
JOBS       ?= $(shell nproc)
SUDO       := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

RUN_PACKAGES  := cmake g++ make pkg-config qt6-base-dev libcurl4-openssl-dev zlib1g-dev fonts-ipafont-gothic
# The demo and the benchmark start the test servers; the benchmark also times curl and sed.
DEMO_PACKAGES  := $(RUN_PACKAGES) python3 python3-pyftpdlib
BENCH_PACKAGES := $(DEMO_PACKAGES) curl time
TEST_PACKAGES := $(RUN_PACKAGES) googletest libgtest-dev python3 python3-pyftpdlib \
                 xvfb xauth x11-utils trayer xdotool imagemagick curl time clang libclang-rt-14-dev \
                 openssl apache2 python3-openssl python3-asyncssh

# Installs the Debian packages of $(1) that are not installed yet.
define install_missing
	@missing=$$(for p in $(1); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing Debian packages:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

.PHONY: run test build deps-run deps-test deps-demo deps-bench build-cli demo bench fuzz fuzz-build \
        format clean

run: deps-run
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISOR_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target palisor palisor-update
	mkdir -p $(RUN_DIR)
	cd $(RUN_DIR) && exec $(abspath $(BUILD))/src/palisor

test: deps-test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISOR_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPALISOR_GUI=OFF -DPALISOR_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) fuzz-build
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

# The fuzz targets: clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
fuzz-build: deps-test
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DPALISOR_GUI=OFF -DPALISOR_TESTS=OFF -DPALISOR_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS, $(JOBS) at a time, with a summary of each run.
fuzz: fuzz-build
	tests/fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(JOBS)

build: deps-run
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# palisor-update alone, built as `make run` configures the build.
build-cli:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISOR_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target palisor-update

# A whole palisor-update run against sample lists and an FTP server on 127.0.0.1.
demo: deps-demo
	$(MAKE) --no-print-directory build-cli
	demo/run.sh $(BUILD)/src/palisor-update

# palisor-update against curl | sed | curl -T on a 1,000,000-line list.
bench: deps-bench
	$(MAKE) --no-print-directory build-cli
	bench/run.sh $(BUILD)/src/palisor-update

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps-demo:
	$(call install_missing,$(DEMO_PACKAGES))

deps-bench:
	$(call install_missing,$(BENCH_PACKAGES))

deps-test:
	$(call install_missing,$(TEST_PACKAGES))

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
