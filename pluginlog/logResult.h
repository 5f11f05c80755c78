// Return-on-failure macros that write the failure's own log line: a report
// (written and kept) or a trace (written only). Each evaluates its expression
// once; the failing status or Win32 error goes last among the format's
// arguments, as a negative or positive decimal ("%d").
//   ZOVA_RETURN_IF_FAILED_REPORT(CreateBindCtx(0, ctx.put()), "CreateBindCtx failed: %d");
//   ZOVA_RETURN_HR_IF_WIN32_FALSE_REPORT(E_FAIL, CreateProcessW(...), "Failed to create process (%S): %d", path);
#pragma once

#include <windows.h>

#include "comfw/hresult.h"
#include "pluginlog/pluginLog.h"

#define ZOVA_RETURN_IF_FAILED_LOGGED_(writer, expr, format, ...)                                   \
    do {                                                                                          \
        const HRESULT zova_hr_ = ::comfw::AsHresult(expr);                                        \
        if (FAILED(zova_hr_)) {                                                                   \
            writer(format __VA_OPT__(, ) __VA_ARGS__, static_cast<int>(zova_hr_));                \
            return zova_hr_;                                                                      \
        }                                                                                         \
    } while (0)

// On a failing status: report it and return it.
#define ZOVA_RETURN_IF_FAILED_REPORT(expr, format, ...) \
    ZOVA_RETURN_IF_FAILED_LOGGED_(ZOVA_REPORT, expr, format __VA_OPT__(, ) __VA_ARGS__)
// On a failing status: trace it and return it.
#define ZOVA_RETURN_IF_FAILED_TRACE(expr, format, ...) \
    ZOVA_RETURN_IF_FAILED_LOGGED_(ZOVA_LOG, expr, format __VA_OPT__(, ) __VA_ARGS__)

// When `condition` holds: report the line and return `hr`.
#define ZOVA_RETURN_HR_IF_REPORT(hr, condition, format, ...)                                       \
    do {                                                                                          \
        if (condition) {                                                                          \
            ZOVA_REPORT(format __VA_OPT__(, ) __VA_ARGS__);                                       \
            return ::comfw::AsHresult(hr);                                                        \
        }                                                                                         \
    } while (0)

// When a Win32 call gives FALSE (or null): report the line with GetLastError
// and return `hr`.
#define ZOVA_RETURN_HR_IF_WIN32_FALSE_REPORT(hr, expr, format, ...)                                \
    do {                                                                                          \
        if (!(expr)) {                                                                            \
            const DWORD zova_error_ = ::GetLastError();                                           \
            ZOVA_REPORT(format __VA_OPT__(, ) __VA_ARGS__, static_cast<int>(zova_error_));        \
            return ::comfw::AsHresult(hr);                                                        \
        }                                                                                         \
    } while (0)
