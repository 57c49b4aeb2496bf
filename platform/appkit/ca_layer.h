#pragma once
// The backing layer of a view. Only the contents gravity is kept: where the
// layer's contents sit when they do not fill it. The views of this toolkit
// draw through their widgets, so a layer has no contents of its own.
#include <string>
#include <string_view>

#include "platform/foundation/ns_object.h"

inline constexpr std::string_view kCAGravityCenter = "center";
inline constexpr std::string_view kCAGravityResize = "resize";

class CALayer : public NSObject {
public:
    const std::string& contentsGravity() const { return contentsGravity_; }
    void setContentsGravity(std::string_view gravity) { contentsGravity_ = gravity; }

private:
    std::string contentsGravity_{kCAGravityResize};
};
