# The two commands of a fresh machine: `make demo` and `make test`.
.PHONY: all deps build test asan-test demo bench format clean

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
