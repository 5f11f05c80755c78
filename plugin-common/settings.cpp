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
#include "plugin-common/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

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
    static PluginSettings settings;
    return settings;
}

PluginSettings::PluginSettings() { Load(); }

void PluginSettings::Load() {
    char profile[MAX_PATH] = {};
    if (::SHGetSpecialFolderPathA(nullptr, profile, CSIDL_PROFILE, TRUE))
        path_ = std::string(profile) + kFileName;
    else
        ZOVA_REPORT("Failed to get the user's home directory: %d", static_cast<int>(::GetLastError()));
    ZOVA_LOG("Using settings file \"%s\"", path_.c_str());
    try {
        pt::read_json(path_, persistent_, std::locale());
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
            pt::read_json(path_, merged, std::locale());
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
        pt::write_json(path_, persistent_, std::locale(), true);
    } catch (const pt::ptree_error& e) {
        ZOVA_REPORT("Failed to write config file \"%s\": %s", path_.c_str(), e.what());
    }
}

}  // namespace zova
