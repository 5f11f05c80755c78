// The page host's command line:
//   pagehost [--url URL] [--screenshot FILE] [--timeout SECONDS] PAGE [-- WORDS...]
#pragma once

#include <string>
#include <vector>

#include "pagehost/page.h"

namespace pagehost {

// False with a message for a command line the host cannot run.
bool ParseOptions(const std::vector<std::wstring>& argv, Options& out, std::wstring& error);

extern const char kUsage[];

}  // namespace pagehost
