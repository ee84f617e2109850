# The two commands of a fresh machine: `make demo` and `make test`.
.PHONY: all deps build test asan-test demo screenshots bench format clean

all: build

deps:
	@./scripts/install-deps.sh

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

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

demo: build
	./scripts/demo.sh build/default demo

# The README's screenshots, made by the demo.
screenshots: demo
	mkdir -p docs/screenshots
	cp demo/menu.png demo/menu-projects.png demo/menu-ru.png demo/menu-dark.png docs/screenshots/

# The Debian package, made by CPack from the default build: build/default/deb/quillnest-bar_*.deb.
.PHONY: package
package: build
	cmake --build --preset default --target package
