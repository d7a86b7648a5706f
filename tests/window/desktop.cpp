#include "tests/window/desktop.hpp"

#include <X11/Xlib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace vellumo::testing {
namespace {

// Standard output of a shell command, its last line break removed.
std::string shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The window's id once it is visible; empty when a minute went by first.
std::string window_id(const std::string& title) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    std::string id;
    while ((id = shell("xdotool search --onlyvisible --name '^" + title + "$' | head -1")).empty() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return id;
}

}  // namespace

Geometry geometry_of(const std::string& title) {
    Geometry g;
    const std::string text = shell("xdotool getwindowgeometry --shell " + window_id(title));
    std::sscanf(text.c_str(), "WINDOW=%*d X=%d Y=%d WIDTH=%d HEIGHT=%d", &g.x, &g.y, &g.width,
                &g.height);
    return g;
}

bool asks_for_no_decorations(const std::string& title) {
    // Motif hints: flags (2: decorations given), functions, decorations, ...
    const std::string hints = shell("xprop -id " + window_id(title) + " _MOTIF_WM_HINTS");
    return hints.ends_with("= 0x2, 0x0, 0x0, 0x0, 0x0");
}

void click_window(const std::string& title, int x, int y, int button) {
    shell("xdotool mousemove --window " + window_id(title) + " " + std::to_string(x) + " " +
          std::to_string(y) + " click " + std::to_string(button));
}

void ask_window_to_close(const std::string& title) {
    const ::Window window = std::stoul(window_id(title));
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
}

int visible_windows() { return std::stoi(shell("xdotool search --onlyvisible --name '' | wc -l")); }

LocalWebServer::LocalWebServer(std::string body) : body_(std::move(body)) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(socket_, 8) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (socket_ >= 0) ::close(socket_);
        throw std::runtime_error("The local web server cannot listen.");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LocalWebServer::~LocalWebServer() {
    stop_ = true;
    thread_.join();
    ::close(socket_);
}

std::string LocalWebServer::uri() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/elsewhere";
}

void LocalWebServer::serve() {
    const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(body_.size()) + "\r\n\r\n" + body_;
    while (!stop_) {
        pollfd waiting{socket_, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0) continue;
        const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        char request[4096];
        [[maybe_unused]] const ssize_t ignored_read = ::read(client, request, sizeof request);
        [[maybe_unused]] const ssize_t ignored_write =
            ::write(client, answer.data(), answer.size());
        ::close(client);
    }
}

}  // namespace vellumo::testing
