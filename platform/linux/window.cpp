// The window's dress and place on GTK 3: the stand-ins for the window style
// bits, the frame attributes, the monitor's work area and SetWindowPos.
#include "platform/platform.hpp"

#include <gtk/gtk.h>

namespace vellumo::platform {

void System::dress_window(void* handle) {
    GtkWidget* window = GTK_WIDGET(handle);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    g_object_set(gtk_widget_get_settings(window), "gtk-application-prefer-dark-theme", TRUE,
                 nullptr);
}

Rect System::window_frame(void* handle) {
    GtkWidget* window = GTK_WIDGET(handle);
    if (gtk_widget_get_mapped(window)) {
        GdkRectangle extents;
        gdk_window_get_frame_extents(gtk_widget_get_window(window), &extents);
        return {extents.x, extents.y, extents.width, extents.height};
    }
    Rect frame;
    // Not on screen yet: the place and size it will ask for.
    gtk_window_get_position(GTK_WINDOW(window), &frame.x, &frame.y);
    gtk_window_get_size(GTK_WINDOW(window), &frame.width, &frame.height);
    return frame;
}

Rect System::work_area(void* handle) {
    GtkWidget* window = GTK_WIDGET(handle);
    gtk_widget_realize(window);  // the monitor is found from the window's surface
    GdkDisplay* display = gtk_widget_get_display(window);
    GdkMonitor* monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(window));
    if (!monitor) monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) return {};
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.width, area.height};
}

void System::move_window(void* handle, int x, int y) { gtk_window_move(GTK_WINDOW(handle), x, y); }

void System::begin_window_drag(void* handle) {
    GtkWidget* window = GTK_WIDGET(handle);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(window));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return;
    gdk_seat_ungrab(seat);  // the page's press may hold the pointer
    gint x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    gtk_window_begin_move_drag(GTK_WINDOW(window), GDK_BUTTON_PRIMARY, x, y,
                               gtk_get_current_event_time());
}

void System::minimize_window(void* handle) { gtk_window_iconify(GTK_WINDOW(handle)); }

}  // namespace vellumo::platform
