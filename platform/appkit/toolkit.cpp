#include "platform/appkit/toolkit.h"

#include <gtk/gtk.h>

namespace kv::appkit {

bool openToolkit() {
    static const bool open = gtk_init_check();
    return open;
}

std::string displayableText(std::string_view text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string shown(valid);
    g_free(valid);
    return shown;
}

}  // namespace kv::appkit
