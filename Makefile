# SPDX-License-Identifier: GPL-2.0-or-later
# Two entry points for a fresh Debian 12 machine (as root): `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

BUILD_PACKAGES = cmake make g++ pkg-config qt6-base-dev libturbojpeg0-dev libasound2-dev \
                 libxrandr-dev libx11-dev libyuv-dev libjpeg-dev libgtest-dev libgmock-dev libbenchmark-dev
TEST_PACKAGES  = ffmpeg xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick \
                 fonts-dejavu-core fonts-freefont-ttf desktop-file-utils appstream man-db openbox
PACKAGE_PACKAGES = dpkg-dev lintian
BENCH_PACKAGES = time
FUZZ_PACKAGES  = clang libclang-rt-14-dev
# The device lab's guest and drivers; the kernel's own headers (for v4l2loopback's DKMS build)
# are named after the current kernel, so tests/devices/run installs them itself.
DEVICE_PACKAGES = qemu-system-x86 busybox-static kmod dkms v4l2loopback-dkms v4l-utils \
                  alsa-utils sox libsox-fmt-alsa ffmpeg jq

.PHONY: all deps build demo test test-asan test-devices fuzz bench format clean package

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

# The program against the kernel's own capture drivers (vivid, v4l2loopback, snd-aloop) in a
# QEMU guest: tests/devices/run says how. As root, on a machine that may be thrown away (DKMS
# writes under /lib/modules).
test-devices: build
	@tools/install-packages $(DEVICE_PACKAGES)
	tests/devices/run $(BUILD)

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
