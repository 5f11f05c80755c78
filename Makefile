# The project's commands. Everything generated lands under build/.
BUILD   ?= build
JOBS    ?= 2
SCRIPTS := $(CURDIR)/scripts
# Each build folder has a Wine prefix of its own, so parallel builds never share a wineserver.
export WINEPREFIX := $(abspath $(BUILD))/wineprefix

.PHONY: all deps configure build test fuzz demo demo-site bench register unregister prefix docs package clean

all: build

deps:
	@$(SCRIPTS)/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

prefix: deps
	@$(SCRIPTS)/prefix

# One wineserver for the whole run; stopped at the end whatever the outcome.
test: build prefix
	@$(SCRIPTS)/run-tests $(BUILD)

# Seeded random inputs in process, FUZZ_CASES a target; a new seed each run
# unless FUZZ_SEED is given. A failing case prints the command that repeats it.
FUZZ_CASES ?= 100000
FUZZ_SEED  ?= $(shell date +%s)
fuzz: build prefix
	@$(SCRIPTS)/wine-session start; cd $(BUILD)/bin && $(SCRIPTS)/wine fuzz_inputs.exe --seed=$(FUZZ_SEED) \
	  --cases=$(FUZZ_CASES); status=$$?; $(SCRIPTS)/wine-session stop; exit $$status

demo: build prefix
	@$(SCRIPTS)/demo $(BUILD)

demo-site: build prefix
	@$(SCRIPTS)/demo-site $(BUILD)

# The control's paths and the console's client against the platform's floor;
# a table, and a plot when gnuplot is there.
bench: build prefix
	@$(SCRIPTS)/bench $(BUILD)

register: build prefix
	$(SCRIPTS)/wine regsvr32 /s $(BUILD)/bin/velmoraRemoteConsole.dll

unregister: build prefix
	$(SCRIPTS)/wine regsvr32 /s /u $(BUILD)/bin/velmoraRemoteConsole.dll

# The scripting reference and the declarations generated from the type library,
# copied to docs/ where page authors find them (a test keeps them current).
docs: build
	cp $(BUILD)/docs/api.md $(BUILD)/docs/velmoraRemoteConsole.d.ts docs/

# The Windows Installer packages (built with the rest; tested by make test).
package: build
	@ls $(BUILD)/package/velmoraRemoteConsole-*.msi

clean:
	rm -rf $(BUILD)
