# The two commands of a fresh machine: `make demo` and `make test`.
.PHONY: all deps build test asan-test demo screenshots bench format format-check clean

all: build

# The package sets of scripts/install-deps.sh a target needs; its prerequisites (build, deps) see
# the same value, so that everything is installed before CMake looks for it.
DEPS_SETS = build
test asan-test host-screenshots: DEPS_SETS = build test
bench: DEPS_SETS = build bench
fuzz: DEPS_SETS = build fuzz
package: DEPS_SETS = build package
format format-check: DEPS_SETS = format

deps:
	@./scripts/install-deps.sh $(DEPS_SETS)

build: deps
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

asan-test: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: build
	./bench/run

format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

# Also what a package build leaves in debian/ (dpkg-buildpackage's own clean step needs debhelper).
clean:
	rm -rf build debian/.debhelper debian/quillnest-bar debian/files debian/debhelper-build-stamp \
	    debian/*.substvars debian/*.debhelper.log

demo: build
	./scripts/demo.sh build/default demo

# The README's screenshots, made by the demo.
screenshots: demo
	mkdir -p docs/screenshots
	cp demo/menu.png demo/menu-projects.png demo/menu-ru.png demo/menu-dark.png docs/screenshots/

# Pictures of the utility in real tray hosts, run headless: trayer (XEmbed), xfce4-panel and waybar
# in sway (StatusNotifierItem). Not part of `make test`. Debian's python3 has the dbus module.
.PHONY: host-screenshots
host-screenshots: build
	/usr/bin/python3 tests/e2e/host_screenshots.py --app build/default/bin/quillnest-bar \
	    --tool build/default/share/quillnest-bar/tool/bin/quillnest --out docs/screenshots

# The Debian package, built as Debian builds it: dpkg-buildpackage with debian/ (its own build in
# build/debian, with the unit and headless tests; DEB_BUILD_OPTIONS=nocheck skips them, and a
# parallel=N given there replaces the default of one job per core). dpkg-buildpackage writes into
# the parent directory: the .deb is moved to build/default/deb/quillnest-bar_<version>_<arch>.deb,
# the .buildinfo and .changes written there are deleted. No debug symbols package is made.
PACKAGE_VERSION = $(shell dpkg-parsechangelog -S Version)
PACKAGE_ARCH = $(shell dpkg-architecture -qDEB_HOST_ARCH)
PACKAGE_BASE = quillnest-bar_$(PACKAGE_VERSION)_$(PACKAGE_ARCH)
PACKAGE_BUILD_OPTIONS = noautodbgsym $(if $(filter parallel=%,$(DEB_BUILD_OPTIONS)),,parallel=$(shell nproc)) $(DEB_BUILD_OPTIONS)
.PHONY: package
package: deps
	rm -f build/default/deb/quillnest-bar_*.deb
	DEB_BUILD_OPTIONS="$(strip $(PACKAGE_BUILD_OPTIONS))" dpkg-buildpackage -us -uc -b
	mkdir -p build/default/deb
	mv ../$(PACKAGE_BASE).deb build/default/deb/
	rm -f ../$(PACKAGE_BASE).buildinfo ../$(PACKAGE_BASE).changes
	@echo "built build/default/deb/$(PACKAGE_BASE).deb"

# Builds the libFuzzer targets and runs each for FUZZ_SECONDS seconds. New inputs go to
# build/fuzz/corpus/<target>, crashes to build/fuzz/artifacts/; the seeds in fuzz/corpus stay as
# they are.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = state_reader rfc3339
.PHONY: fuzz
fuzz: deps
	cmake --preset fuzz
	cmake --build build/fuzz --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	mkdir -p build/fuzz/artifacts
	set -e; for t in $(FUZZ_TARGETS); do \
	    mkdir -p build/fuzz/corpus/$$t; \
	    dict=; if [ -f fuzz/$$t.dict ]; then dict=-dict=fuzz/$$t.dict; fi; \
	    build/fuzz/bin/fuzz_$$t $$dict -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=build/fuzz/artifacts/$$t- build/fuzz/corpus/$$t fuzz/corpus/$$t; \
	done
