// The per-user settings file: the sites the user allowed for good in the site
// access check, and, in memory, every allow given in this process.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

namespace zova {

// One object per process. Lookups read the live tree (the file as it stood at
// this process's first check, plus every allow given here); the persistent
// tree is what the file holds. Safe to use from several threads at once.
class PluginSettings {
public:
    // The process-wide settings; the first call finds and reads the file in
    // the user's profile folder.
    static PluginSettings& Instance();
    // Settings read from, and written to, the file at `path` (empty: none).
    explicit PluginSettings(std::string path);

    // Whether the live tree allows the site named by `key` (an origin key in
    // UTF-8): its value converts to true.
    bool IsSiteAllowed(const std::string& key) const;
    // Allows the site for this process; with `remember`, also for later ones:
    // the persistent tree gets the entry and the file is written.
    void AllowSite(const std::string& key, bool remember);

    // The settings file's full path; empty when the profile folder is unknown.
    const std::string& path() const noexcept { return path_; }

    PluginSettings(const PluginSettings&) = delete;
    PluginSettings& operator=(const PluginSettings&) = delete;

private:
    void Load();
    void Save();

    std::string path_;
    boost::property_tree::ptree live_;
    boost::property_tree::ptree persistent_;
    std::vector<std::string> remembered_;  // keys remembered in this process, in order
    mutable std::mutex lock_;
};

}  // namespace zova
