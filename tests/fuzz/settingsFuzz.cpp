// The settings file reader and writer on random files: well-formed ones of
// the writer's layout, mutations of them (invalid UTF-8 included), random
// bytes, and nesting far deeper than the writer makes. Whatever the file
// holds, no site is allowed that the file did not name, and a file that could
// not be read is never written over.
#include "plugin-common/settings.h"
#include "pluginlog/pluginLogFile.h"
#include "tests/fuzz/fuzz.h"

#include <fstream>
#include <iterator>
#include <sstream>

#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>

namespace zova::fuzz {
namespace {

namespace pt = boost::property_tree;

const char* const kKeys[] = {"https:,host-01.lab.example,443", "http:,,", "file:,,", "https:,dc-1,8443",
                             "http:,vm-42.lab.example,"};

// The file's bytes from `from` on; with `from` past the end, none.
template <class Path>
std::string ReadFrom(const Path& path, std::streamoff from = 0) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (file.tellg() <= from) return {};
    file.seekg(from);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::streamoff SizeOf(const wchar_t* path) { return std::ifstream(path, std::ios::binary | std::ios::ate).tellg(); }

std::string RandomFile(Rng& rng) {
    if (rng.Percent(10)) {  // nested far deeper than any written file, closed or not
        const size_t depth = rng.Percent(50) ? 150 + rng.Below(100) : 20000 + rng.Below(20000);
        const char* open = rng.Pick({"[", "{\"a\":", "{\"auth\":{\"b\":"});
        std::string text;
        for (size_t i = 0; i < depth; ++i) text += open;
        return rng.Percent(50) ? text : text + std::string(depth, open[0] == '[' ? ']' : '}');
    }
    if (rng.Percent(15)) return rng.Bytes(300);
    pt::ptree tree;
    for (uint32_t n = rng.Below(5); n; --n)
        tree.put(pt::ptree::path_type(std::string("auth.") + rng.Pick(kKeys), '.'),
                 rng.Pick({"true", "false", "1", "0", "yes", ""}));
    if (rng.Percent(20)) tree.put("other", rng.Bytes(20));
    std::ostringstream out;
    pt::write_json(out, tree, rng.Percent(50));
    std::string text = out.str();
    for (uint32_t n = rng.Percent(50) ? 1 + rng.Below(4) : 0; n; --n) {  // insert, delete or replace bytes
        const size_t at = rng.Below(static_cast<uint32_t>(text.size()) + 1);
        const std::string piece = rng.Percent(50) ? std::string(1, rng.Pick({'{', '}', '[', '"', ',', '\\', '\xC3', '\xFF'}))
                                                  : rng.Bytes(6);
        if (rng.Percent(50) || at == text.size()) text.insert(at, piece);
        else text.replace(at, 1, rng.Percent(50) ? "" : piece);
    }
    return text;
}

}  // namespace

void FuzzSettingsFile(Rng& rng) {
    static const wchar_t* const logPath = PluginLogFilePath();
    static const std::string path = [] {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        return std::string(temp) + "zova-fuzz-settings.js";
    }();
    const std::string text = RandomFile(rng);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

    const std::streamoff logFrom = SizeOf(logPath);
    PluginSettings settings(path);
    const bool unreadable = ReadFrom(logPath, logFrom).find("Failed to read config file") != std::string::npos;
    for (const char* key : kKeys) {
        // An allow needs the site's last label in the file.
        const std::string lastLabel = std::string(key).substr(std::string(key).rfind('.') + 1);
        FUZZ_CHECK(!settings.IsSiteAllowed(key) || (!unreadable && text.find(lastLabel) != std::string::npos));
    }
    const char* remembered = rng.Pick(kKeys);
    settings.AllowSite(remembered, true);
    FUZZ_CHECK(settings.IsSiteAllowed(remembered));
    const std::string after = ReadFrom(path);
    if (unreadable) FUZZ_CHECK(after == text);
    if (after != text) {
        // What was written reads back with the site and every allow the file held.
        PluginSettings again(path);
        for (const char* key : kKeys)
            FUZZ_CHECK(again.IsSiteAllowed(key) == (key == remembered || settings.IsSiteAllowed(key)));
    }
}

}  // namespace zova::fuzz
