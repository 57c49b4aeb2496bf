#include "tests/container_app/x_client.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <bit>
#include <fstream>

namespace kv::testing {

void Screenshot::save(const std::filesystem::path& path) const {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (const Pixel& p : pixels) out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
}

XClient::XClient(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}

XClient::~XClient() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

std::string XClient::title(Window window) {
    const Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display_, window, netName, 0, 1024, False, utf8, &type, &format, &count, &remaining,
                           &data) == Success &&
        data != nullptr) {
        text.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    return text;
}

std::string XClient::wmClass(Window window) {
    XClassHint hint{nullptr, nullptr};
    if (!XGetClassHint(display_, window, &hint)) return "";
    std::string text = std::string(hint.res_name ? hint.res_name : "") + "/" + (hint.res_class ? hint.res_class : "");
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
    return text;
}

std::optional<Window> XClient::findWindow(std::string_view title) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::optional<Window> found;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) return found;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, children[i], &attributes) && attributes.map_state == IsViewable &&
            this->title(children[i]) == title) {
            found = children[i];
        }
    }
    if (children != nullptr) XFree(children);
    return found;
}

Screenshot XClient::capture(Window window) {
    Screenshot shot;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return shot;
    XImage* image = XGetImage(display_, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (image == nullptr) return shot;
    shot.width = attributes.width;
    shot.height = attributes.height;
    shot.pixels.reserve(static_cast<size_t>(shot.width) * shot.height);
    const auto channel = [](unsigned long value, unsigned long mask) {
        return static_cast<uint8_t>((value & mask) >> std::countr_zero(mask));
    };
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const unsigned long value = XGetPixel(image, x, y);
            shot.pixels.push_back({channel(value, image->red_mask), channel(value, image->green_mask),
                                   channel(value, image->blue_mask)});
        }
    }
    XDestroyImage(image);
    return shot;
}

void XClient::click(Window window, int x, int y) {
    Window child = 0;
    int screenX = 0;
    int screenY = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), x, y, &screenX, &screenY, &child);
    XTestFakeMotionEvent(display_, DefaultScreen(display_), screenX, screenY, CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
}

void XClient::requestClose(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
}

}  // namespace kv::testing
