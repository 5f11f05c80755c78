// Where this module's log lives, for diagnostics and tests. Callers that only
// write lines need pluginLog.h alone.
#pragma once

// Full path of the log file this module opened at load; empty when the log
// runs in debugger-only mode.
const wchar_t* PluginLogFilePath();
