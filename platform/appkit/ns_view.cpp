#include "platform/appkit/ns_view.h"

#include <algorithm>
#include <cmath>
#include <utility>

// The widget of a view: it shows the view's content across its whole
// allocation and places the subviews' widgets at their frames.
struct KvViewWidget {
    GtkWidget parent_instance;
    NSView* owner;  // cleared when the view goes
};
struct KvViewWidgetClass {
    GtkWidgetClass parent_class;
};

G_DEFINE_TYPE(KvViewWidget, kv_view_widget, GTK_TYPE_WIDGET)

struct NSViewWidgetAccess {
    static NSView* owner(GtkWidget* widget) { return reinterpret_cast<KvViewWidget*>(widget)->owner; }
    static void layOut(NSView& view, int width, int height) { view.layOut(width, height); }
    static NSRect frame(const NSView& view) { return view.frame_; }
    static GtkWidget* content(const NSView& view) { return view.content_; }
};

namespace {

// Whole pixels; frames far off any screen are held to a range the toolkit
// takes, and a frame edge that is not a number counts as 0.
int toPixels(double points) {
    constexpr double kFarthest = 1'000'000;
    if (std::isnan(points)) return 0;
    return static_cast<int>(std::lround(std::clamp(points, -kFarthest, kFarthest)));
}

void measureViewWidget(GtkWidget* widget, GtkOrientation orientation, int forSize, int* minimum,
                       int* natural, int* minimumBaseline, int* naturalBaseline) {
    *minimum = *natural = 0;
    *minimumBaseline = *naturalBaseline = -1;
    NSView* view = NSViewWidgetAccess::owner(widget);
    if (view == nullptr) return;
    if (GtkWidget* content = NSViewWidgetAccess::content(*view)) {
        gtk_widget_measure(content, orientation, forSize, minimum, natural, nullptr, nullptr);
        return;
    }
    // A plain view would like its frame's size and can be squeezed to nothing.
    const NSSize size = NSViewWidgetAccess::frame(*view).size;
    *natural = std::max(0, toPixels(orientation == GTK_ORIENTATION_HORIZONTAL ? size.width : size.height));
}

void allocateViewWidget(GtkWidget* widget, int width, int height, int) {
    if (NSView* view = NSViewWidgetAccess::owner(widget)) NSViewWidgetAccess::layOut(*view, width, height);
}

void disposeViewWidget(GObject* object) {
    while (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(object))) gtk_widget_unparent(child);
    G_OBJECT_CLASS(kv_view_widget_parent_class)->dispose(object);
}

// Gives `child` the rectangle, measured first as the toolkit asks.
void allocateChild(GtkWidget* child, int x, int y, int width, int height) {
    if (!gtk_widget_get_visible(child)) return;
    int unused = 0;
    gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &unused, nullptr, nullptr, nullptr);
    gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, width, &unused, nullptr, nullptr, nullptr);
    const GtkAllocation rect{x, y, std::max(0, width), std::max(0, height)};
    gtk_widget_size_allocate(child, &rect, -1);
}

// One axis of an autoresized frame: the margin before, the size and the
// margin after share the change of the superview's extent.
void resizeAxis(bool flexibleBefore, bool flexibleSize, bool flexibleAfter, double oldExtent,
                double newExtent, double& origin, double& size) {
    const double change = newExtent - oldExtent;
    const int flexibleParts = flexibleBefore + flexibleSize + flexibleAfter;
    if (change == 0 || flexibleParts == 0) return;
    const double before = std::max(0.0, origin);
    const double own = std::max(0.0, size);
    const double after = std::max(0.0, oldExtent - origin - size);
    const double total = (flexibleBefore ? before : 0) + (flexibleSize ? own : 0) + (flexibleAfter ? after : 0);
    const auto share = [&](bool flexible, double part) {
        if (!flexible) return 0.0;
        return total > 0 ? change * (part / total) : change / flexibleParts;
    };
    origin += share(flexibleBefore, before);
    size = std::max(0.0, size + share(flexibleSize, own));
}

}  // namespace

static void kv_view_widget_init(KvViewWidget* self) { self->owner = nullptr; }

static void kv_view_widget_class_init(KvViewWidgetClass* klass) {
    G_OBJECT_CLASS(klass)->dispose = disposeViewWidget;
    GTK_WIDGET_CLASS(klass)->measure = measureViewWidget;
    GTK_WIDGET_CLASS(klass)->size_allocate = allocateViewWidget;
}

NSView::NSView(NSRect frame) : NSView(frame, nullptr) {}

NSView::NSView(NSRect frame, GtkWidget* content) : frame_(frame) {
    widget_ = GTK_WIDGET(g_object_ref_sink(g_object_new(kv_view_widget_get_type(), nullptr)));
    reinterpret_cast<KvViewWidget*>(widget_)->owner = this;
    if (content != nullptr) {
        content_ = content;
        gtk_widget_set_parent(content_, widget_);
    }
}

NSView::~NSView() {
    reinterpret_cast<KvViewWidget*>(widget_)->owner = nullptr;
    for (const auto& view : subviews_) view->superview_ = nullptr;
    if (gtk_widget_get_parent(widget_) != nullptr) gtk_widget_unparent(widget_);
    g_object_unref(widget_);
}

void NSView::setFrame(NSRect frame) {
    updateFrame(frame);
    if (superview_ != nullptr) gtk_widget_queue_allocate(superview_->widget_);
    gtk_widget_queue_resize(widget_);
}

NSSize NSView::fittingSize() const {
    if (content_ == nullptr) return frame_.size;
    int width = 0;
    int height = 0;
    gtk_widget_measure(content_, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &width, nullptr, nullptr);
    gtk_widget_measure(content_, GTK_ORIENTATION_VERTICAL, width, nullptr, &height, nullptr, nullptr);
    return NSSize{static_cast<double>(width), static_cast<double>(height)};
}

void NSView::setFrameSize(NSSize size) { setFrame(NSRect{frame_.origin, size}); }

void NSView::updateFrame(NSRect frame) {
    const NSSize oldSize = frame_.size;
    frame_ = frame;
    if (frame_.size == oldSize) return;
    for (const auto& view : subviews_) view->updateFrame(view->autoresizedFrame(oldSize, frame_.size));
}

void NSView::resizeWithOldSuperviewSize(NSSize oldSize) {
    if (superview_ != nullptr) setFrame(autoresizedFrame(oldSize, superview_->frame_.size));
}

NSRect NSView::autoresizedFrame(NSSize oldSize, NSSize newSize) const {
    NSRect frame = frame_;
    const unsigned mask = autoresizingMask_;
    resizeAxis(mask & NSViewMinXMargin, mask & NSViewWidthSizable, mask & NSViewMaxXMargin,
               oldSize.width, newSize.width, frame.origin.x, frame.size.width);
    resizeAxis(mask & NSViewMinYMargin, mask & NSViewHeightSizable, mask & NSViewMaxYMargin,
               oldSize.height, newSize.height, frame.origin.y, frame.size.height);
    return frame;
}

void NSView::addSubview(std::shared_ptr<NSView> view) {
    if (view == nullptr || view.get() == this) return;
    view->removeFromSuperview();
    view->superview_ = this;
    gtk_widget_set_parent(view->widget_, widget_);
    subviews_.push_back(std::move(view));
    gtk_widget_queue_resize(widget_);
}

void NSView::adoptArrangedView(NSView& view, GtkWidget* parent) {
    view.removeFromSuperview();
    view.superview_ = this;
    gtk_widget_set_parent(view.widget_, parent);
}

void NSView::removeFromSuperview() {
    if (superview_ == nullptr) return;
    // The superview may hold the last reference to this view.
    const auto self = shared_from_this();
    std::exchange(superview_, nullptr)->detach(*this);
}

void NSView::willRemoveSubview(NSView&) {}

void NSView::detach(NSView& view) {
    willRemoveSubview(view);
    if (gtk_widget_get_parent(view.widget_) != nullptr) gtk_widget_unparent(view.widget_);
    std::erase_if(subviews_, [&](const auto& subview) { return subview.get() == &view; });
    gtk_widget_queue_resize(widget_);
}

void NSView::setWantsLayer(bool wants) {
    if (!wants) {
        layer_.reset();
    } else if (layer_ == nullptr) {
        layer_ = std::make_shared<CALayer>();
    }
}

void NSView::layOut(int width, int height) {
    // Laid out at another size than its frame, the view takes that size.
    if (toPixels(frame_.size.width) != width || toPixels(frame_.size.height) != height) {
        updateFrame(NSRect{frame_.origin, NSSize{static_cast<double>(width), static_cast<double>(height)}});
    }
    if (content_ != nullptr) allocateChild(content_, 0, 0, width, height);
    for (const auto& view : subviews_) {
        const NSRect frame = view->frame_;
        // Frames count y upward from the bottom; widgets downward from the top.
        allocateChild(view->widget_, toPixels(frame.origin.x),
                      height - toPixels(frame.origin.y + frame.size.height), toPixels(frame.size.width),
                      toPixels(frame.size.height));
    }
}
