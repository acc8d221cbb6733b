# Drives CMake. `make run` and `make test` install what they need from Debian first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# How long `make fuzz` runs each fuzz target, in seconds.
FUZZ_SECONDS ?= 600
# Where `make run` keeps palisor.ini (with the FTP password) and the files: the folder the
# desktop entry uses, outside the source checkout.
RUN_DIR    ?= $(HOME)/.local/share/palisor
PACKAGE_BUILD ?= build-package
# `make install` and `make uninstall`: where the files go (PREFIX) under a staging root (DESTDIR).
PREFIX     ?= /usr/local
DESTDIR    ?=
JOBS       ?= $(shell nproc)
SUDO       := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# sudo only where the user may not write: the nearest existing folder of the destination.
INSTALL_SUDO = $(shell d="$(DESTDIR)$(PREFIX)"; while [ ! -e "$$d" ]; do d=$$(dirname "$$d"); done; \
                 [ -w "$$d" ] || echo $(SUDO))

# qt6-tools-dev and qt6-l10n-tools: lrelease compiles the English catalogue into both programs.
RUN_PACKAGES  := cmake g++ make pkg-config qt6-base-dev qt6-tools-dev qt6-l10n-tools \
                 libcurl4-openssl-dev zlib1g-dev fonts-ipafont-gothic
# The demo and the benchmark start the test servers; the benchmark also times curl and sed.
DEMO_PACKAGES  := $(RUN_PACKAGES) python3 python3-pyftpdlib
BENCH_PACKAGES := $(DEMO_PACKAGES) curl time xvfb xdotool x11-utils apache2 apache2-utils iproute2
# CPack's dependency search needs dpkg-shlibdeps (dpkg-dev) and file; lintian checks the .deb.
# The installation tests also validate the desktop entry, the manual pages and the systemd units.
PACKAGE_PACKAGES := $(RUN_PACKAGES) dpkg-dev file lintian
TEST_PACKAGES := $(PACKAGE_PACKAGES) googletest libgtest-dev python3 python3-pyftpdlib \
                 xvfb xauth x11-utils trayer xdotool imagemagick curl time clang libclang-rt-14-dev \
                 desktop-file-utils man-db systemd openssl apache2 python3-openssl \
                 python3-asyncssh

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

.PHONY: run test build deps-run deps-test deps-demo deps-bench deps-package build-cli demo bench \
        fuzz fuzz-build programs install uninstall package format translations clean

# Both programs, as `make run`, `make install` and `make uninstall` use them.
programs: deps-run
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISOR_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target palisor palisor-update

# A missing RUN_DIR is made readable by its owner only: palisor.ini holds the FTP password.
run: programs
	mkdir -p -m 0700 "$(RUN_DIR)"
	cd "$(RUN_DIR)" && exec $(abspath $(BUILD))/src/palisor

install: programs
	$(INSTALL_SUDO) env DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" --strip

# Removes what `make install` with the same PREFIX and DESTDIR put there.
uninstall: programs
	$(INSTALL_SUDO) env DESTDIR="$(DESTDIR)" packaging/uninstall.sh $(BUILD) "$(PREFIX)"

# The Debian package: built with Debian's hardening flags, made by CPack, checked by lintian.
package: deps-package
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISOR_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/*.deb
	cd $(PACKAGE_BUILD) && cpack
	lintian --fail-on error $(PACKAGE_BUILD)/*.deb
	@echo "Package:" $(PACKAGE_BUILD)/*.deb

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

# palisor-update against curl | sed | curl -T on a 1,000,000-line list, the window against
# palisor-update on the same run, and what each form of file costs a real Apache per request
# (as root: Apache runs in a network namespace of its own).
bench: deps-bench
	$(MAKE) --no-print-directory build
	bench/run.sh $(BUILD)/src/palisor-update $(BUILD)/src/palisor

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps-demo:
	$(call install_missing,$(DEMO_PACKAGES))

deps-bench:
	$(call install_missing,$(BENCH_PACKAGES))

deps-package:
	$(call install_missing,$(PACKAGE_PACKAGES))

deps-test:
	$(call install_missing,$(TEST_PACKAGES))

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Brings the English catalogue up to date with the texts in the code; new ones come unfinished,
# which fails the build until they are translated. Translate() is read as QCoreApplication's.
translations: deps-run
	/usr/lib/qt6/bin/lupdate src -extensions cpp,h -tr-function-alias translate+=Translate \
	  -locations none -no-obsolete -source-language ja_JP -target-language en_US \
	  -ts src/translations/palisor_en.ts

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD)
