// The failure message on Linux: a GTK message dialog when a display can be
// opened, otherwise the caption and the text on standard error.
#include "platform/platform.hpp"

#include <gtk/gtk.h>

#include <cstdio>

namespace vellumo::platform {

void System::show_error_message(const std::string& text, const std::string& caption) {
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        std::fflush(stderr);
        return;
    }
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // Let the dialog disappear before the process goes on.
    while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace vellumo::platform
