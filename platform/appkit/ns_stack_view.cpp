#include "platform/appkit/ns_stack_view.h"

#include <algorithm>
#include <cmath>

namespace {

bool isKnownGravity(NSStackViewGravity gravity) {
    return gravity >= NSStackViewGravityTop && gravity <= NSStackViewGravityBottom;
}

GtkOrientation toolkitOrientation(NSUserInterfaceLayoutOrientation orientation) {
    return orientation == NSUserInterfaceLayoutOrientationVertical ? GTK_ORIENTATION_VERTICAL
                                                                    : GTK_ORIENTATION_HORIZONTAL;
}

}  // namespace

NSStackView::NSStackView(NSRect frame) : NSView(frame, gtk_center_box_new()) {
    GtkCenterBox* center = GTK_CENTER_BOX(contentWidget());
    for (Area& area : areas_) area.box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_center_box_set_start_widget(center, areas_[0].box);
    gtk_center_box_set_center_widget(center, areas_[1].box);
    gtk_center_box_set_end_widget(center, areas_[2].box);
    applyOrientation();
}

NSStackView::~NSStackView() {
    // The views leave the areas before the areas go.
    for (const auto& view : views()) view->removeFromSuperview();
}

void NSStackView::setOrientation(NSUserInterfaceLayoutOrientation orientation) {
    orientation_ = orientation;
    applyOrientation();
}

void NSStackView::setSpacing(double spacing) {
    spacing_ = spacing;
    applyOrientation();
}

void NSStackView::applyOrientation() {
    const GtkOrientation along = toolkitOrientation(orientation_);
    gtk_orientable_set_orientation(GTK_ORIENTABLE(contentWidget()), along);
    for (Area& area : areas_) {
        gtk_orientable_set_orientation(GTK_ORIENTABLE(area.box), along);
        gtk_box_set_spacing(GTK_BOX(area.box), static_cast<int>(std::lround(std::max(0.0, spacing_))));
        // Views are centred across the stack.
        for (const auto& view : area.views) {
            gtk_widget_set_halign(view->widget(), along == GTK_ORIENTATION_VERTICAL ? GTK_ALIGN_CENTER : GTK_ALIGN_FILL);
            gtk_widget_set_valign(view->widget(), along == GTK_ORIENTATION_HORIZONTAL ? GTK_ALIGN_CENTER : GTK_ALIGN_FILL);
        }
    }
}

void NSStackView::addView(std::shared_ptr<NSView> view, NSStackViewGravity gravity) {
    if (view == nullptr || view.get() == this || !isKnownGravity(gravity)) return;
    Area& area = areas_[gravity - NSStackViewGravityTop];
    adoptArrangedView(*view, area.box);
    area.views.push_back(std::move(view));
    applyOrientation();
}

const std::vector<std::shared_ptr<NSView>>& NSStackView::viewsInGravity(NSStackViewGravity gravity) const {
    static const std::vector<std::shared_ptr<NSView>> none;
    return isKnownGravity(gravity) ? areas_[gravity - NSStackViewGravityTop].views : none;
}

std::vector<std::shared_ptr<NSView>> NSStackView::views() const {
    std::vector<std::shared_ptr<NSView>> all;
    for (const Area& area : areas_) all.insert(all.end(), area.views.begin(), area.views.end());
    return all;
}

void NSStackView::willRemoveSubview(NSView& view) {
    for (Area& area : areas_) {
        std::erase_if(area.views, [&](const auto& arranged) { return arranged.get() == &view; });
    }
}
