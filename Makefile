# Quick start: `make demo` runs the menu from a demo disc, `make test` runs
# every test. Both install what they need first. `make disc` makes the disc
# image, `make windows-kit` the tests for a Windows machine (see the README).
JOBS ?= 2
FUZZ_SECONDS ?= 60

.PHONY: all deps build build-win32 build-win64 build-host test demo disc screenshots fuzz bench format clean \
	windows-kit windows-kit-check

all: build

deps:
	@bash scripts/install-deps.sh

build: build-win32 build-win64 build-host

build-win32: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 -j $(JOBS)

build-win64: deps
	@cmake --preset win64 >/dev/null
	@cmake --build --preset win64 -j $(JOBS)

build-host: deps
	@cmake --preset host >/dev/null
	@cmake --build --preset host -j $(JOBS)

test: build
	ctest --test-dir build/host --output-on-failure -j $(JOBS)
	ctest --test-dir build/win32 --output-on-failure
	bash scripts/wine-session.sh --i686 --private-display -- ctest --test-dir build/win64 --output-on-failure -j $(JOBS)
	/usr/bin/python3 -B scripts/windows_like.py -j $(JOBS)
	@/usr/bin/python3 -B scripts/windows_kit.py >/dev/null
	/usr/bin/python3 -B scripts/check_windows_kit.py --short

# The end-to-end suite for a Windows machine: build/windows-kit.zip (see the
# README, "Testing on Windows"), and its check under Wine.
windows-kit: build-win32 build-win64
	@/usr/bin/python3 -B scripts/windows_kit.py

windows-kit-check: windows-kit
	@/usr/bin/python3 -B scripts/check_windows_kit.py

demo: build-win64
	@/usr/bin/python3 -B scripts/demo.py

# make disc DISC_CONTENT=folder | DISC_DEMO=1   [DISC_LABEL=NAME] [DISC_OUT=file.iso]
#           [DISC_SIGN_PFX=file | DISC_SIGN_CERT=chain.pem DISC_SIGN_KEY=key.pem]
#           [DISC_SIGN_PASSWORD_FILE=file] [DISC_SIGN_TIMESTAMP_URL=url]
#           [DISC_SIGNED_MENU=file DISC_SIGNED_BY=chain.pem]
#           [DISC_ALLOW_MISSING=1] [DISC_ALLOW_MISMATCH=1] [DISC_ALLOW_LINKS=1]
# runs ./autorun-disc build (see its --help), one option a variable; the password may also come in the
# environment as DISC_SIGN_PASSWORD. Any other DISC_ variable is refused by its name.
# The password stays out of the environment of deps' programs.
deps: DISC_SIGN_PASSWORD=
disc: deps
	@PYTHONPATH=tools /usr/bin/python3 -B -m autorun_disc.make_shortcut \
	  $(foreach v,$(filter DISC_%,$(.VARIABLES)),$(v):$(firstword $(origin $(v))))

screenshots: build-win64
	@/usr/bin/python3 -B scripts/screenshots.py

fuzz: build-host
	@bash scripts/fuzz.sh $(FUZZ_SECONDS)

bench: deps build-win32 build-win64
	@cmake --preset host -DCMAKE_BUILD_TYPE=Release -DAUTORUN_SANITIZE=OFF -B build/bench >/dev/null
	@cmake --build build/bench --target dib_reader_bench -j $(JOBS)
	@build/bench/bench/dib_reader_bench
	@/usr/bin/python3 -B scripts/bench_startup.py

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
