// The key names of a server profile (section "TVNBASICDATA") in the order
// the key/value editor offers them; any other key may still be typed.
#pragma once

#include <array>
#include <string_view>

namespace torvane {

inline constexpr std::array<std::string_view, 24> kProfileKeyNames = {"DataType",
                                                                      "BufferSize",
                                                                      "Referrer",
                                                                      "AutoReferrer",
                                                                      "AutoResume",
                                                                      "Retry",
                                                                      "URL",
                                                                      "Proxy",
                                                                      "Div",
                                                                      "SAVE",
                                                                      "urljump",
                                                                      "skip",
                                                                      "IgnoreRedirection",
                                                                      "IgnoreClientError",
                                                                      "IgnoreServerError",
                                                                      "FileSize",
                                                                      "Host",
                                                                      "Cookie",
                                                                      "SpeedMode",
                                                                      "UserAgent",
                                                                      "Header",
                                                                      "StallTimeout",
                                                                      "MinSpeed",
                                                                      "TLSVerify"};

}  // namespace torvane
