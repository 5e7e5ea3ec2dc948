# The two commands of README.md: `make run` and `make test`. Both install what is
# missing (scripts/setup.sh), configure and build as needed. `make install` and
# `make deb` install Korvane from this folder or make its Debian package; each checks
# (and installs) only what it needs.
BUILD ?= build
TSAN_BUILD ?= build-tsan
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: setup setup-test build build-programs run test test-tsan install deb clean

setup:
	bash scripts/setup.sh build

setup-test:
	bash scripts/setup.sh test

# Everything, the tests included.
build: setup-test
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

# What gets installed, without the tests (nor their tools).
build-programs: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target korvane_installed

run: build-programs
	bash scripts/run.sh $(BUILD)

# Every test, then the concurrency tests again under ThreadSanitizer.
test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	$(MAKE) --no-print-directory test-tsan

test-tsan: setup-test
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DKORVANE_PIPELINE_ONLY=ON -DKORVANE_TSAN=ON >/dev/null
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -L concurrency

install: build-programs
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, built the Debian way (debian/): dpkg-buildpackage writes it beside
# this folder, from where it moves to $(BUILD)/package/ with its debug symbols'
# package, .buildinfo and .changes; then lintian checks it.
VERSION = $(shell dpkg-parsechangelog -S Version 2>/dev/null)
deb:
	bash scripts/setup.sh deb
	dpkg-buildpackage -us -uc -b -j$(JOBS)
	mkdir -p $(BUILD)/package
	mv ../korvane_$(VERSION)_*.deb ../korvane-dbgsym_$(VERSION)_*.deb \
	  ../korvane_$(VERSION)_*.buildinfo ../korvane_$(VERSION)_*.changes $(BUILD)/package/
	lintian --pedantic --fail-on error,warning,info,pedantic $(BUILD)/package/korvane_$(VERSION)_*.changes

clean:
	rm -rf $(BUILD) $(TSAN_BUILD)
