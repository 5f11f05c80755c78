// The settings file, "<profile>\.zova-plugin-settings.js": JSON in the
// property tree's layout, every allowed site under "auth." + its origin key.
//
// Beyond reading once and writing the persistent tree, three rules keep the
// user's file whole:
// - A write first takes a lock shared by the user's processes and reads the
//   file again: the entries it holds now (another browser process may have
//   remembered sites since this one read it) stay, in the file's order, and
//   the sites remembered in this process are added after them. What the
//   re-read brings in goes to the persistent tree only; the live tree, and so
//   the access check, never learns of it before the next process.
// - A file that exists but cannot be read (malformed, unopenable) is never
//   written over: the allow then holds for this process only, and the write
//   failure is reported. "Missing" is told from "unreadable" by the file's
//   existence, since the reader says "cannot open file" for both.
// - One lock serialises first use and every tree access within the process.
// - The JSON reader recurses once per level of nesting with no limit of its
//   own, so a file nested deeper than any the writer makes is refused before
//   it is read: in the browser's process a stack overflow is the browser's
//   crash.
#include "plugin-common/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

// The JSON reader still includes boost/bind.hpp, which asks for this.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>

#include "comfw/scopeExit.h"
#include "comfw/uniqueAny.h"
#include "pluginlog/pluginLog.h"

namespace zova {
namespace {

namespace pt = boost::property_tree;

const char kFileName[] = "\\.zova-plugin-settings.js";
// Held by the process that reads and writes the file; a write waits this long for it.
const wchar_t kFileLockName[] = L"Local\\zova-plugin-settings-file";
constexpr DWORD kFileLockWaitMs = 10000;

pt::ptree::path_type SitePath(const std::string& key) { return pt::ptree::path_type("auth." + key, '.'); }

bool Allows(const pt::ptree& tree, const std::string& key) {
    return tree.get_optional<bool>(SitePath(key)).value_or(false);
}

// Every dot of an origin key opens a level, and a host name has at most 127
// labels: no file of this layout comes near this depth.
constexpr size_t kMaxNesting = 200;

// The line (from 1) where the text's objects and arrays nest deeper than
// kMaxNesting, or 0. Brackets inside strings do not count.
size_t LineTooDeep(const std::string& text) {
    size_t depth = 0, line = 1;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (c == '\n') ++line;
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxNesting) return line;
        } else if ((c == '}' || c == ']') && depth) {
            --depth;
        }
    }
    return 0;
}

// read_json on the file, with the nesting checked first; every failure is a
// json_parser_error that names the file.
void ReadSettingsFile(const std::string& path, pt::ptree& tree) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw pt::json_parser_error("cannot open file", path, 0);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (const size_t line = LineTooDeep(text))
        throw pt::json_parser_error("nested deeper than " + std::to_string(kMaxNesting) + " levels", path, line);
    std::istringstream stream(text);
    stream.imbue(std::locale());
    try {
        pt::read_json(stream, tree);
    } catch (const pt::json_parser_error& e) {
        throw pt::json_parser_error(e.message(), path, e.line());
    }
}

// write_json to the file, made whole in memory first and then put in place
// of the old file in one step: a tree the format cannot hold, or a write cut
// short, leaves the user's file as it was. Text mode, as the reader expects
// of a file made on this system.
void WriteSettingsFile(const std::string& path, const pt::ptree& tree) {
    if (path.empty()) throw pt::json_parser_error("cannot open file", path, 0);
    std::ostringstream text;
    text.imbue(std::locale());
    try {
        pt::write_json(text, tree, true);
    } catch (const pt::json_parser_error& e) {
        throw pt::json_parser_error(e.message(), path, e.line());
    }
    const std::string next = path + ".new";
    {
        std::ofstream file(next, std::ios::trunc);
        if (!file) throw pt::json_parser_error("cannot open file", next, 0);
        if (!(file << text.str()).flush()) {
            file.close();
            ::DeleteFileA(next.c_str());
            throw pt::json_parser_error("write error", next, 0);
        }
    }
    // A browser process that reads the file at its first use holds it open
    // without delete sharing for a moment: the move then waits a little.
    BOOL moved = FALSE;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 5 && !moved; ++attempt) {
        if (attempt) ::Sleep(20);
        moved = ::MoveFileExA(next.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
        error = moved ? ERROR_SUCCESS : ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    }
    if (!moved) {
        ::DeleteFileA(next.c_str());
        throw pt::json_parser_error("cannot replace the file: error " + std::to_string(error), path, 0);
    }
}

// Whether nothing stands at `path` (so a write may create the file).
bool IsMissing(const std::string& path) {
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

PluginSettings& PluginSettings::Instance() {
    // Initialisation of a local static is thread-safe: a second thread waits
    // here until the first has read the file.
    static PluginSettings settings([] {
        char profile[MAX_PATH] = {};
        if (::SHGetSpecialFolderPathA(nullptr, profile, CSIDL_PROFILE, TRUE)) return std::string(profile) + kFileName;
        ZOVA_REPORT("Failed to get the user's home directory: %d", static_cast<int>(::GetLastError()));
        return std::string();
    }());
    return settings;
}

PluginSettings::PluginSettings(std::string path) : path_(std::move(path)) { Load(); }

void PluginSettings::Load() {
    ZOVA_LOG("Using settings file \"%s\"", path_.c_str());
    try {
        ReadSettingsFile(path_, persistent_);
        live_ = persistent_;
    } catch (const pt::ptree_error& e) {
        ZOVA_REPORT("Failed to read config file \"%s\": %s", path_.c_str(), e.what());
        persistent_.clear();
        live_.clear();
    }
}

bool PluginSettings::IsSiteAllowed(const std::string& key) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return Allows(live_, key);
}

void PluginSettings::AllowSite(const std::string& key, bool remember) {
    const std::lock_guard<std::mutex> hold(lock_);
    live_.put(SitePath(key), true);
    if (!remember) return;
    persistent_.put(SitePath(key), true);
    if (std::find(remembered_.begin(), remembered_.end(), key) == remembered_.end()) remembered_.push_back(key);
    Save();
}

void PluginSettings::Save() {
    const comfw::unique_handle fileLock(::CreateMutexW(nullptr, FALSE, kFileLockName));
    const DWORD waited = fileLock ? ::WaitForSingleObject(fileLock.get(), kFileLockWaitMs) : WAIT_FAILED;
    const bool held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    const auto release = comfw::scope_exit([&] { if (held) ::ReleaseMutex(fileLock.get()); });
    if (!held) {
        ZOVA_REPORT("Failed to write config file \"%s\": %s", path_.c_str(),
                    "another process is still writing it");
        return;
    }
    // The file as it is now, with this process's remembered sites added after its own entries.
    pt::ptree merged;
    if (!path_.empty() && !IsMissing(path_)) {
        try {
            ReadSettingsFile(path_, merged);
        } catch (const pt::ptree_error& e) {
            ZOVA_REPORT("Failed to write config file \"%s\": %s", path_.c_str(),
                        ("left as it is, since it cannot be read: " + std::string(e.what())).c_str());
            return;
        }
    }
    for (const std::string& key : remembered_)
        if (!Allows(merged, key)) merged.put(SitePath(key), true);
    persistent_.swap(merged);
    try {
        WriteSettingsFile(path_, persistent_);
    } catch (const pt::ptree_error& e) {
        ZOVA_REPORT("Failed to write config file \"%s\": %s", path_.c_str(), e.what());
    }
}

}  // namespace zova
