// The module-wide diagnostic log: one file per process under %TEMP%\zova-plugin,
// every line mirrored to the debugger output, deleted at unload unless kept.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Formats one line (Microsoft printf rules: "%S" is a wide string in a narrow
// format), writes and flushes it, mirrors it to the debugger. Never fails.
void PluginLogWrite(const char* sourceFile, int sourceLine, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));

// Marks the log to be kept at unload; called right after an error is written.
void PluginLogKeep(void);

// Whether the log will be kept at unload by the mark (a marker file aside).
int PluginLogKeepMarked(void);
// Clears the mark, so that a test can tell which step set it.
void PluginLogClearKeepForTesting(void);

#ifdef __cplusplus
}
#endif

// A progress trace: written, the keep mark untouched.
#define ZOVA_LOG(...) PluginLogWrite(__FILE__, __LINE__, __VA_ARGS__)
// An error report: written, then the log is kept.
#define ZOVA_REPORT(...) (PluginLogWrite(__FILE__, __LINE__, __VA_ARGS__), PluginLogKeep())
