#pragma once
// What the tests do to a program's window from outside, as a user and the
// window manager do: find it by its title, look at it, click in it and ask
// it to close.
#include <X11/Xlib.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::testing {

struct Pixel {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Pixel&, const Pixel&) = default;
    int luma() const { return (299 * r + 587 * g + 114 * b) / 1000; }
};

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<Pixel> pixels;  // row by row from the top
    const Pixel& at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Writes a binary PPM image.
    void save(const std::filesystem::path& path) const;
};

class XClient {
public:
    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool connected() const { return display_ != nullptr; }

    // A viewable top-level window with this title.
    std::optional<Window> findWindow(std::string_view title);
    std::string title(Window window);
    // The window's WM_CLASS: its instance name and its class name, joined by a '/'.
    std::string wmClass(Window window);
    Screenshot capture(Window window);
    // A press and release of the first mouse button at the point of the window.
    void click(Window window, int x, int y);
    // What the window manager sends when the user closes the window.
    void requestClose(Window window);

private:
    Display* display_;
};

}  // namespace kv::testing
