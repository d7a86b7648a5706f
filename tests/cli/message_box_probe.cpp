// Shows the failure message through the platform and returns 0 once it is
// closed: the dialog test drives it under a virtual display.
#include "app/startup.hpp"
#include "platform/platform.hpp"

int main() {
    vellumo::platform::os().show_error_message(vellumo::window_failure_message,
                                               vellumo::window_failure_caption);
    return 0;
}
