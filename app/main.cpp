// vellumo-setup: the process entry. Chooses one run from the command line and
// the sandbox variable (the check, a quiet exit while another instance runs,
// the uninstall hand-off, a silent job, the window) and returns its exit code.
#include "app/startup.hpp"
#include "engine/product_info.hpp"
#include "platform/platform.hpp"

int main() {
    using namespace vellumo;
    platform::System& system = platform::os();
    try {
        system.enter_com_apartment();

        const StartOptions options = match_options(system.command_line_arguments());
        uninstall_mode = options.uninstall;
        silent_mode = options.silent;
        sandbox_root = system.environment_path(sandbox_variable);

        if (options.check) return run_check();  // nothing else in this run

        bool mutex_held = false;
        switch (system.create_instance_mutex(product_info.mutex_name)) {
        case platform::InstanceMutex::already_exists: return 0;  // the other one is working
        case platform::InstanceMutex::created: mutex_held = true; break;
        case platform::InstanceMutex::unavailable: break;  // go on unprotected
        }

        if (uninstall_mode && !options.cleanup && hand_off_uninstall(mutex_held)) return 0;
        if (uninstall_mode && options.cleanup) wait_for_original();  // a copy of the hand-off

        const int code = silent_mode ? run_silent_job() : run_window_or_report();

        if (options.cleanup) start_self_deletion();
        if (mutex_held) system.release_instance_mutex();
        return code;
    } catch (...) {
        // Only the check and the hand-off can get here (the job and the window
        // catch their own); their work is unfinished.
        return 1;
    }
}
