# Two entry points for a fresh Debian 12 machine (as root): `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

BUILD_PACKAGES = cmake make g++ pkg-config qt6-base-dev libturbojpeg0-dev libasound2-dev \
                 libxrandr-dev libx11-dev libyuv-dev libjpeg-dev libgtest-dev libgmock-dev libbenchmark-dev
TEST_PACKAGES  = ffmpeg xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick \
                 fonts-dejavu-core desktop-file-utils appstream man-db
PACKAGE_PACKAGES = dpkg-dev lintian
BENCH_PACKAGES = time
FUZZ_PACKAGES  = clang libclang-rt-14-dev

.PHONY: all deps build demo test test-asan fuzz bench format clean package

all: build

deps:
	@tools/install-packages $(BUILD_PACKAGES) $(TEST_PACKAGES)

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	tools/demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE long

# The Debian package, BUILD/vistrel_VERSION_ARCH.deb, its dependencies found by dpkg-shlibdeps.
package: build
	@tools/install-packages $(PACKAGE_PACKAGES)
	cmake --build $(BUILD) --target package

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=ON

test-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE long

fuzz:
	@tools/install-packages $(BUILD_PACKAGES) $(FUZZ_PACKAGES)
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVISTREL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS) --target fuzzers

bench: build
	@tools/install-packages $(BENCH_PACKAGES)
	tools/bench $(BUILD)

format:
	find app capture recording settings resources platform tests bench \
	  \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -r clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
