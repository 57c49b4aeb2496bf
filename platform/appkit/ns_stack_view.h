#pragma once
// A view that lines its views up along one axis, in three gravity areas:
// the top (or leading) area hugs the start, the centre area sits in the
// middle, the bottom (or trailing) area hugs the end. Views keep their own
// size, one spacing apart, and are centred across the axis.
#include <array>
#include <memory>
#include <vector>

#include "platform/appkit/ns_view.h"

enum NSUserInterfaceLayoutOrientation : int {
    NSUserInterfaceLayoutOrientationHorizontal = 0,
    NSUserInterfaceLayoutOrientationVertical = 1,
};

enum NSStackViewGravity : int {
    NSStackViewGravityTop = 1,
    NSStackViewGravityLeading = 1,
    NSStackViewGravityCenter = 2,
    NSStackViewGravityBottom = 3,
    NSStackViewGravityTrailing = 3,
};

class NSStackView : public NSView {
public:
    explicit NSStackView(NSRect frame);
    ~NSStackView() override;

    // Horizontal until set otherwise.
    NSUserInterfaceLayoutOrientation orientation() const { return orientation_; }
    void setOrientation(NSUserInterfaceLayoutOrientation orientation);

    double spacing() const { return spacing_; }
    void setSpacing(double spacing);

    // Appends `view` to the area of `gravity`; an unknown gravity adds nothing.
    void addView(std::shared_ptr<NSView> view, NSStackViewGravity gravity);
    const std::vector<std::shared_ptr<NSView>>& viewsInGravity(NSStackViewGravity gravity) const;
    // Every view, top area first.
    std::vector<std::shared_ptr<NSView>> views() const;

protected:
    void willRemoveSubview(NSView& view) override;

private:
    struct Area {
        GtkWidget* box = nullptr;  // owned by the stack's content
        std::vector<std::shared_ptr<NSView>> views;
    };
    void applyOrientation();

    NSUserInterfaceLayoutOrientation orientation_ = NSUserInterfaceLayoutOrientationHorizontal;
    double spacing_ = 8.0;
    std::array<Area, 3> areas_;  // top, centre, bottom
};
