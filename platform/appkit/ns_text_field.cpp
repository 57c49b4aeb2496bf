#include "platform/appkit/ns_text_field.h"

#include "platform/appkit/toolkit.h"

namespace {

// A field's background and bezel, drawn from the toolkit's style classes.
constexpr const char* kFieldStyle =
    ".kv-field-background { background-color: @theme_base_color; }\n"
    ".kv-field-bezel { border: 1px solid @borders; padding: 2px 4px; }\n";

void installFieldStyle() {
    static const bool installed = [] {
        GtkCssProvider* provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, kFieldStyle, -1);
        gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider),
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(provider);
        return true;
    }();
    (void)installed;
}

void setStyleClass(GtkWidget* widget, const char* name, bool on) {
    if (on) {
        gtk_widget_add_css_class(widget, name);
    } else {
        gtk_widget_remove_css_class(widget, name);
    }
}

}  // namespace

NSTextField::NSTextField(NSRect frame, std::string_view text) : NSControl(frame, gtk_label_new(nullptr)) {
    installFieldStyle();
    gtk_label_set_xalign(GTK_LABEL(contentWidget()), 0.0f);
    setStringValue(text);
    applyLook();
}

std::shared_ptr<NSTextField> NSTextField::textFieldWithString(std::string_view text) {
    auto field = std::make_shared<NSTextField>(NSRect{}, text);
    field->sizeToFit();
    return field;
}

void NSTextField::setStringValue(std::string_view text) {
    text_ = std::string(text);
    // Shown as it is: no markup, no mnemonic.
    gtk_label_set_text(GTK_LABEL(contentWidget()), kv::appkit::displayableText(text_).c_str());
}

void NSTextField::setDrawsBackground(bool draws) {
    drawsBackground_ = draws;
    applyLook();
}

void NSTextField::setBezeled(bool bezeled) {
    bezeled_ = bezeled;
    applyLook();
}

void NSTextField::applyLook() {
    setStyleClass(contentWidget(), "kv-field-background", drawsBackground_);
    setStyleClass(contentWidget(), "kv-field-bezel", bezeled_);
}
