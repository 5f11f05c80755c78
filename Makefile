# The project's commands. Everything generated lands under build/.
BUILD   ?= build
JOBS    ?= 2
SCRIPTS := $(CURDIR)/scripts
# Each build folder has a Wine prefix of its own, so parallel builds never share a wineserver.
export WINEPREFIX := $(abspath $(BUILD))/wineprefix

.PHONY: all deps configure build test demo bench register unregister prefix clean

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

demo: build prefix
	@$(SCRIPTS)/demo $(BUILD)

# The control's paths and the console's client against the platform's floor;
# a table, and a plot when gnuplot is there.
bench: build prefix
	@$(SCRIPTS)/bench $(BUILD)

register: build prefix
	$(SCRIPTS)/wine regsvr32 /s $(BUILD)/bin/velmoraRemoteConsole.dll

unregister: build prefix
	$(SCRIPTS)/wine regsvr32 /s /u $(BUILD)/bin/velmoraRemoteConsole.dll

clean:
	rm -rf $(BUILD)
