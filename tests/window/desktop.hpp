// The window tests' hands on the X display (xdotool, Xlib) and a web server
// on the loopback interface.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace vellumo::testing {

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

// Each waits until a window titled exactly `title` exists and is visible, for
// at most a minute.
Geometry geometry_of(const std::string& title);
// Whether the window asks the window manager for no decorations at all.
bool asks_for_no_decorations(const std::string& title);
// Clicks `button` (1 left, 3 right) at (x, y) inside the window.
void click_window(const std::string& title, int x, int y, int button);
// What a window manager does on Alt+F4: WM_DELETE_WINDOW to the window.
void ask_window_to_close(const std::string& title);

// How many windows are on screen, menus and pop-ups included.
int visible_windows();

// Answers every request on 127.0.0.1 with `body` as an HTML page.
class LocalWebServer {
public:
    explicit LocalWebServer(std::string body);
    ~LocalWebServer();
    LocalWebServer(const LocalWebServer&) = delete;
    LocalWebServer& operator=(const LocalWebServer&) = delete;

    std::string uri() const;

private:
    void serve();

    std::string body_;
    int socket_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vellumo::testing
