# The two commands of README.md: `make run` and `make test`. Both install what is
# missing (scripts/setup.sh), configure and build as needed. `make install` and
# `make deb` install Korvane from this folder or make its Debian package.
BUILD ?= build
TSAN_BUILD ?= build-tsan
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: setup build run test test-tsan install deb clean

setup:
	bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

run: build
	bash scripts/run.sh $(BUILD)

# Every test, then the concurrency tests again under ThreadSanitizer.
test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	$(MAKE) --no-print-directory test-tsan

test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DKORVANE_PIPELINE_ONLY=ON -DKORVANE_TSAN=ON >/dev/null
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -L concurrency

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The package lands in $(BUILD)/package/; lintian checks it when it is installed.
deb: build
	cd $(BUILD) && cpack -G DEB
	@if command -v lintian >/dev/null; then \
	  lintian --fail-on error,warning $(BUILD)/package/korvane_*.deb; fi

clean:
	rm -rf $(BUILD) $(TSAN_BUILD)
