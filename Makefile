# The two commands: `make run` and `make test`. Both install what is missing
# first (Debian packages, when run as root). `make deb` and `make deb-arm` make
# the qm9000 Debian packages.

BUILD      ?= build
ARM_BUILD  ?= build-arm
BOARD_BUILD?= build-board
TSAN_BUILD ?= build-tsan-conc
PKG_BUILD  ?= build-pkg
PKG_ARM_BUILD ?= build-pkg-arm
JOBS       ?= $(shell nproc)
SECONDS    ?=
WEB        ?= 127.0.0.1:8080
SCENARIO   ?= steady
MQTT       ?=
MODBUS     ?=
ARM_SYSROOT = /usr/arm-linux-gnueabihf
VERSION     = $(shell awk '/^project/ { print $$3 }' CMakeLists.txt)
DEB         = $(PKG_BUILD)/qm9000_$(VERSION)_$(shell dpkg --print-architecture).deb
ARM_DEB     = $(PKG_ARM_BUILD)/qm9000_$(VERSION)_armhf.deb
# The board build: 32-bit ARM, system-timer counter, the real board by default.
BOARD_OPTIONS = -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm-linux-gnueabihf.cmake -DCMAKE_BUILD_TYPE=Release \
                -DQM_BOARD_TIMER=ON -DQM_DEFAULT_BOARD=hw -DQM_BUILD_TESTS=OFF

# What a build needs (the packages too), and what only the tests need besides.
BUILD_PACKAGES  = cmake g++ make libgpiod-dev libcli11-dev libsqlite3-dev libmicrohttpd-dev libmosquitto-dev \
                  libmodbus-dev libjs-dygraphs libsystemd-dev dpkg-dev file
TEST_PACKAGES   = libcpp-httplib-dev googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev chromium mosquitto
# The board's: the cross compiler and Debian's armhf libraries (dpkg-shlibdeps
# reads the versions of the board package's dependencies from the armhf
# libc6, libstdc++6 and libgcc-s1); qemu only to run the tests.
ARM_BUILD_PACKAGES = g++-arm-linux-gnueabihf libsqlite3-dev:armhf libmicrohttpd-dev:armhf libsystemd-dev:armhf \
                     libmosquitto-dev:armhf libmodbus-dev:armhf libc6:armhf libstdc++6:armhf libgcc-s1:armhf
ARM_TEST_PACKAGES  = qemu-user
FUZZ_PACKAGES   = clang libclang-rt-14-dev
# Checking a package: lintian, curl for its web page, systemd-analyze (systemd)
# and man (man-db) for its unit.
PKG_PACKAGES    = lintian curl systemd man-db
# Checking /metrics with Prometheus' own promtool: the whole server's package
# (about 100 MB), so only `make check-metrics` installs it, not `make test`.
METRICS_PACKAGES = prometheus curl
METRICS_WEB     ?= 127.0.0.1:18090

.PHONY: all deps deps-build deps-arm deps-arm-build deps-fuzz deps-pkg build run test test-native test-arm test-tsan test-deb test-deb-arm \
        check-metrics week arm deb deb-arm asan tsan bench fuzz format clean

all: build

# Install Debian packages that are missing (needs root; otherwise only checks).
# A package installed for the board's armhf too is named with the machine's
# own architecture, as dpkg finds the plain name ambiguous then.
define install_missing
	@native=$$(dpkg --print-architecture); missing=""; for p in $(1); do \
	  dpkg -s $$p >/dev/null 2>&1 || dpkg -s $$p:$$native >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "Missing packages:$$missing (run as root or install them)"; exit 1; fi; \
	fi
endef

deps-build:
	$(call install_missing,$(BUILD_PACKAGES))

deps: deps-build
	$(call install_missing,$(TEST_PACKAGES))

# The board's libraries come from Debian's armhf packages beside the native ones.
deps-arm-build:
	@dpkg --print-foreign-architectures | grep -qx armhf || \
	  if [ "$$(id -u)" = 0 ]; then dpkg --add-architecture armhf; \
	  else echo "The armhf architecture is missing (run as root: dpkg --add-architecture armhf)"; exit 1; fi
	$(call install_missing,$(ARM_BUILD_PACKAGES))

deps-arm: deps-arm-build
	$(call install_missing,$(ARM_TEST_PACKAGES))

deps-fuzz:
	$(call install_missing,$(FUZZ_PACKAGES))

deps-pkg:
	$(call install_missing,$(PKG_PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

# The simulated meter, until Ctrl-C or for SECONDS=N; MQTT=mqtt://HOST[:PORT]
# publishes to that broker too, MODBUS=[ADDRESS:]PORT serves Modbus TCP there.
run: build
	QM_APP_DIR=$(CURDIR)/config $(BUILD)/qmhost --scenario $(SCENARIO) --web $(WEB) $(if $(SECONDS),--seconds $(SECONDS)) \
	  $(if $(MQTT),--mqtt $(MQTT)) $(if $(MODBUS),--modbus $(MODBUS))

test: test-native test-arm test-tsan test-deb test-deb-arm

test-native: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The same tests built for the board's 32-bit ARM and run under qemu-arm.
test-arm: deps deps-arm
	cmake -S . -B $(ARM_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm-linux-gnueabihf.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(ARM_BUILD) -j$(JOBS)
	cd $(ARM_BUILD) && QEMU_LD_PREFIX=$(ARM_SYSROOT) ctest --output-on-failure -j$(JOBS)

# The concurrency suites under ThreadSanitizer, in a small build of just what
# they need: a lock dropped from the module, the recorder, the page's shared
# capture, the MQTT publisher or the Modbus server's shared image fails here;
# and in qmhost's power-quality feeder and recorder, run by test_pq_host.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target test_concurrency test_board test_recorder test_web_access test_mqtt \
	  test_modbus test_pq_host QM9000
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_concurrency
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_board
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_recorder
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_web_access
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_mqtt
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_modbus
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/test_pq_host

# The package's contents, lintian, and the unpacked qmhost running the
# simulated meter on the unpacked example files (nothing is installed). The
# package is made from the tested build (CPack strips it).
test-deb: build deps-pkg
	cd $(BUILD) && cpack -G DEB
	sh packaging/check-deb.sh $(BUILD)/$(notdir $(DEB))

# The same for the board's package, its qmhost run under qemu-arm.
test-deb-arm: deb-arm deps-pkg deps-arm
	sh packaging/check-deb.sh $(ARM_DEB)

# promtool's check of a live simulated meter's /metrics (on METRICS_WEB), its
# samples taken a few seconds in, once the lifetime energy has been saved.
check-metrics: build
	$(call install_missing,$(METRICS_PACKAGES))
	@dir=$$(mktemp -d); cp config/*.json $$dir/; \
	QM_APP_DIR=$$dir $(BUILD)/qmhost run --log --web $(METRICS_WEB) --seconds 60 > $$dir/log 2>&1 & pid=$$!; \
	sleep 12; curl -sf http://$(METRICS_WEB)/metrics > $$dir/metrics; got=$$?; kill $$pid; wait $$pid; \
	if [ $$got != 0 ]; then cat $$dir/log; rm -rf $$dir; echo "no /metrics from qmhost"; exit 1; fi; \
	promtool check metrics < $$dir/metrics; status=$$?; \
	[ $$status = 0 ] && echo "/metrics: $$(grep -vc '^#' $$dir/metrics) samples, promtool finds nothing wrong"; \
	rm -rf $$dir; exit $$status

# The week scenario through the whole meter on virtual time (several minutes
# of one core), its EN 50160 report printed; it fails unless the week passes.
# make test plays the same week straight into the analysis instead.
# WEEK_KEEP=DIR leaves the week's database and configuration there.
WEEK_WEB ?= 127.0.0.1:18091
week: build
	$(call install_missing,curl jq)
	sh tests/week-report.sh $(BUILD) $(WEEK_WEB) $(WEEK_KEEP)

# The board build: the plug-in, the board libraries and qmhost.
arm: deps-build deps-arm-build
	cmake -S . -B $(BOARD_BUILD) $(BOARD_OPTIONS)
	cmake --build $(BOARD_BUILD) -j$(JOBS)
	@echo "Board build in $(BOARD_BUILD): QM9000.so libqmboard.so libqmsim.so libqmsimcore.so libqmsimline.so qmhost"

# The packages need the build's Debian packages only, not the tests'.
deb: deps-build
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF
	cmake --build $(PKG_BUILD) -j$(JOBS)
	cd $(PKG_BUILD) && cpack -G DEB
	@echo "Package: $(DEB)"

deb-arm: deps-build deps-arm-build
	cmake -S . -B $(PKG_ARM_BUILD) $(BOARD_OPTIONS)
	cmake --build $(PKG_ARM_BUILD) -j$(JOBS)
	cd $(PKG_ARM_BUILD) && cpack -G DEB
	@echo "Package: $(ARM_DEB)"

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=address,undefined
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=thread
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$(JOBS)

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_BENCH=ON
	cmake --build build-bench -j$(JOBS)
	build-bench/bench_module
	build-bench/bench_mqtt
	build-bench/bench_modbus
	build-bench/bench_pq

# Each libFuzzer target of the configuration files for FUZZ_SECONDS, one after
# the other (clang with AddressSanitizer and UndefinedBehaviorSanitizer). New
# inputs go to $(FUZZ_BUILD)/corpus; the committed seeds in fuzz/corpus are
# read only (make test replays them).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
# The loader targets write a scratch file per input; memory-backed is faster.
FUZZ_TMPDIR  ?= $(shell [ -w /dev/shm ] && echo /dev/shm || echo /tmp)
FUZZ_TARGETS  = fuzz_scan_values fuzz_find_str fuzz_element_bounds fuzz_read_json fuzz_add_field \
                fuzz_cfgprobe_load fuzz_cfg9000_load fuzz_init9000_load fuzz_cal9000_load \
                fuzz_mdt_page fuzz_mdt_eeprom fuzz_modbus_request

fuzz: deps deps-fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQM_SANITIZE=address,undefined -DQM_FUZZ=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target $(FUZZ_TARGETS)
	@for t in $(FUZZ_TARGETS); do \
	  echo "== $$t: $(FUZZ_SECONDS) s"; mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  if ! TMPDIR=$(FUZZ_TMPDIR) $(FUZZ_BUILD)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	      -artifact_prefix=$(FUZZ_BUILD)/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t > $(FUZZ_BUILD)/$$t.log 2>&1; then \
	    tail -n 40 $(FUZZ_BUILD)/$$t.log; exit 1; \
	  fi; \
	  grep -E "stat::number_of_executed_units|Done" $(FUZZ_BUILD)/$$t.log; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ARM_BUILD) $(BOARD_BUILD) $(TSAN_BUILD) $(PKG_BUILD) $(PKG_ARM_BUILD) build-asan build-tsan build-bench build-fuzz
