#include "plugin-common/utils.h"

#include "pluginlog/pluginLog.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <vector>

namespace zova {

namespace {

struct FeatureName {
    const wchar_t* name;
    uint32_t bit;
};

// Names are compared exactly: lower case only.
const FeatureName kFeatures[] = {
    {L"usebrowserproxy", kFeatureUseBrowserProxy},
    {L"tunnelmks", kFeatureTunnelMks},
    {L"persistent", kFeaturePersistent},
    {L"autoanswerquestions", kFeatureAutoAnswerQuestions},
    {L"cacheconnections", kFeatureCacheConnections},
};

const FeatureName* FindFeature(const std::wstring& name) {
    for (const FeatureName& feature : kFeatures)
        if (name == feature.name)
            return &feature;
    return nullptr;
}

}  // namespace

uint32_t ParseAdvancedConfig(const std::wstring& config) {
    uint32_t flags = 0;
    if (!boost::trim_copy(config).empty()) {
        // Empty pieces count: ";" alone is two empty options, each malformed.
        std::vector<std::wstring> options;
        boost::split(options, config, boost::is_any_of(L";"));
        for (size_t i = 0; i < options.size(); ++i) {
            const int number = static_cast<int>(i);
            std::vector<std::wstring> pair;
            boost::split(pair, boost::trim_copy(options[i]), boost::is_any_of(L"="));
            if (pair.size() != 2) {
                ZOVA_REPORT("Bad name-value pair specified as option #%d", number);
                continue;
            }
            boost::trim(pair[0]);
            boost::trim(pair[1]);
            const FeatureName* feature = FindFeature(pair[0]);
            if (!feature) {
                ZOVA_REPORT("Unknown feature specified as option #%d", number);
                continue;
            }
            // Only "true" sets a bit, and nothing clears one.
            if (pair[1] == L"true")
                flags |= feature->bit;
        }
    }
    ZOVA_LOG("Advanced config parsed into the features: %d", static_cast<int>(flags));
    return flags;
}

}  // namespace zova
