#include "app/lockdown.hpp"

#include <array>

namespace vellumo {

bool web_request_allowed(platform::WebRequest request, std::string_view uri) noexcept {
    // The view's first empty document, and inline documents (the page among them).
    constexpr std::array<std::string_view, 2> allowed_prefixes{"about:blank", "data:text/html"};
    if (request != platform::WebRequest::navigation) return false;
    for (std::string_view prefix : allowed_prefixes)
        if (uri.starts_with(prefix)) return true;
    return false;
}

void lock_down(void* web_view) {
    if (web_view) platform::os().lock_down_web_view(web_view, &web_request_allowed);
}

}  // namespace vellumo
