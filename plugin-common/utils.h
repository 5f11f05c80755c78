// Option utilities shared by the control.
#pragma once

#include <cstdint>
#include <string>

namespace zova {

// Feature bits of the advanced configuration string.
enum FeatureFlag : uint32_t {
    kFeatureUseBrowserProxy     = 1,
    kFeatureTunnelMks           = 2,
    kFeaturePersistent          = 4,
    kFeatureAutoAnswerQuestions = 8,
    kFeatureCacheConnections    = 16,
};

// Parses "name=value;name=value" into feature bits. Never fails: a malformed
// or unknown option is reported through the log and skipped.
uint32_t ParseAdvancedConfig(const std::wstring& config);

}  // namespace zova
