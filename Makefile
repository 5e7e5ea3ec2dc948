# The two commands of README.md: `make run` and `make test` (`./make.sh run` and
# `./make.sh test` on a machine without make). Both install what is missing
# (scripts/setup.sh), configure and build as needed. `make install`, `make uninstall` and
# `make deb` install Korvane from this folder, remove it again or make its Debian
# package; each checks (and installs) only what it needs.
#   JOBS=N    parallel jobs of the builds and of ctest (default 2)
#   PREFIX=P  where `make install` and `make uninstall` work (default /usr/local)
#   BUILD=D, TSAN_BUILD=D   the build folders (default build, build-tsan)
BUILD ?= build
TSAN_BUILD ?= build-tsan
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: setup setup-test setup-deb build build-programs run test test-tsan install \
        uninstall deb clean

setup:
	bash scripts/setup.sh build

setup-test:
	bash scripts/setup.sh test

setup-deb:
	bash scripts/setup.sh deb

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

# Every test, then the concurrency tests again under ThreadSanitizer; after each run, a
# line for the tests that skipped themselves and why (those that need root, say).
test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	bash scripts/skipped-tests.sh $(BUILD)
	$(MAKE) --no-print-directory test-tsan

test-tsan: setup-test
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DKORVANE_PIPELINE_ONLY=ON -DKORVANE_TSAN=ON >/dev/null
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -L concurrency
	bash scripts/skipped-tests.sh $(TSAN_BUILD)

# Installs the programs stripped of their debugging symbols, as the package does.
install: build-programs
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

uninstall:
	bash scripts/uninstall.sh $(BUILD) $(PREFIX)

# The Debian packages, built the Debian way (debian/): dpkg-buildpackage writes the
# source package and the binary ones beside this folder, from where they move to
# $(BUILD)/package/ with the debug symbols' package, .buildinfo and .changes; then lintian
# checks them all. The version is read once setup-deb has installed dpkg-dev (make
# expands a recipe only when it runs it).
VERSION = $(shell dpkg-parsechangelog -S Version)
deb: setup-deb
	dpkg-buildpackage -us -uc -j$(JOBS)
	mkdir -p $(BUILD)/package
	mv ../korvane_$(VERSION).dsc ../korvane_$(VERSION).tar.* \
	  ../korvane_$(VERSION)_*.deb ../korvane-dbgsym_$(VERSION)_*.deb \
	  ../korvane_$(VERSION)_*.buildinfo ../korvane_$(VERSION)_*.changes $(BUILD)/package/
	lintian --pedantic --fail-on error,warning,info,pedantic $(BUILD)/package/korvane_$(VERSION)_*.changes

clean:
	rm -rf $(BUILD) $(TSAN_BUILD)
