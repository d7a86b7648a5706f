// What the WebView2 lock-down hands to the web-request rule, apart from COM so
// that it can be tested on its own.
#pragma once

#include <string>

namespace vellumo::platform {

// The UTF-8 text of a URI that WebView2 gave as UTF-16; a missing URI is
// empty. Invalid UTF-16 becomes U+FFFD, so no prefix is gained by it.
std::string web_view_uri_text(const wchar_t* uri);

}  // namespace vellumo::platform
