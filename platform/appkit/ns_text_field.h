#pragma once
// A field of text. Made from a string it is editable, bezeled and draws a
// background; a field with all three switched off is a plain label. This
// toolkit shows the text, its line breaks kept, and does not offer typing:
// the editable flag is kept for those who read it.
#include <memory>
#include <string>
#include <string_view>

#include "platform/appkit/ns_control.h"

class NSTextField : public NSControl {
public:
    // A field holding `text`, sized to fit it.
    static std::shared_ptr<NSTextField> textFieldWithString(std::string_view text);

    NSTextField(NSRect frame, std::string_view text);

    std::string stringValue() const { return text_; }
    void setStringValue(std::string_view text);

    bool drawsBackground() const { return drawsBackground_; }
    void setDrawsBackground(bool draws);
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    bool isBezeled() const { return bezeled_; }
    void setBezeled(bool bezeled);

private:
    void applyLook();

    std::string text_;
    bool drawsBackground_ = true;
    bool editable_ = true;
    bool bezeled_ = true;
};
