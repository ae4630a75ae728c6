# The two set-up commands of the README. Everything else is CMake's.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
PACKAGE_BUILD ?= build-package
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
# Warnings stop the build only in CI (CI=true): a newer compiler's new
# warning must never keep a newcomer from starting the program. One setting
# for every target that shares $(BUILD), so switching between `make run` and
# `make test` rebuilds nothing.
WERROR     ?= $(if $(filter true,$(CI)),ON,OFF)

.PHONY: all bootstrap configure build run test test-release test-asan bench install package container clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLOW_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the program: a newcomer's first run should not wait for every test.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target quillow
	$(BUILD)/src/app/quillow

test: test-release test-asan

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: bootstrap
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLOW_WERROR=$(WERROR) -DQUILLOW_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

bench: bootstrap
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DQUILLOW_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	cmake --build $(BENCH_BUILD) --target run-bench

install: build
	cmake --install $(BUILD)

# A build tree of its own: the package installs under /usr, and the program
# knows where it is installed. Only the three programs are built: with
# CMAKE_SKIP_INSTALL_ALL_DEPENDENCY, cpack does not build every test first.
# An older version's package is removed so that one file matches the glob the
# Containerfile and the README use. Every file carries the last commit's time,
# so that the same programs make the same package (and podman reuses the
# image's layers for it).
package: bootstrap
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DQUILLOW_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target quillow quillow-render quillow-serve
	rm -f $(PACKAGE_BUILD)/quillow_*.deb
	cd $(PACKAGE_BUILD) && SOURCE_DATE_EPOCH=$$(git log -1 --format=%ct 2>/dev/null || echo 0) cpack -G DEB
	@ls $(PACKAGE_BUILD)/quillow_*.deb

# The quillow-serve image, tagged with the version, built by podman from
# the package above (see scripts/make-container).
container: package
	scripts/make-container $(PACKAGE_BUILD)/quillow_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(PACKAGE_BUILD)
