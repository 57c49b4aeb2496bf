#pragma once
// A rectangle of a window. Frames are in the superview's coordinates with
// the origin at the bottom left and y growing upward, in points (one point
// is one logical pixel of the toolkit). When a view takes another size, its
// subviews move and resize by their autoresizing masks.
//
// Each view draws through one GTK widget that it owns: a view with content
// of its own (a label, a button, a stack) shows that content across its
// whole rectangle, and its subviews on top at their frames.
#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "platform/appkit/ca_layer.h"
#include "platform/foundation/ns_object.h"
#include "platform/coregraphics/cgrect.h"

using NSRect = CGRect;
using NSPoint = CGPoint;
using NSSize = CGSize;

inline NSRect NSMakeRect(double x, double y, double width, double height) {
    return CGRectMake(x, y, width, height);
}

// Which parts of a view follow its superview's size: the margin to the left
// (MinX), the width, the margin to the right (MaxX), and along y the bottom
// margin (MinY), the height and the top margin (MaxY).
enum NSAutoresizingMaskOptions : unsigned {
    NSViewNotSizable = 0,
    NSViewMinXMargin = 1,
    NSViewWidthSizable = 2,
    NSViewMaxXMargin = 4,
    NSViewMinYMargin = 8,
    NSViewHeightSizable = 16,
    NSViewMaxYMargin = 32,
};

class NSView : public NSObject {
public:
    explicit NSView(NSRect frame);
    ~NSView() override;

    NSRect frame() const { return frame_; }
    // A new size resizes the subviews by their masks.
    void setFrame(NSRect frame);
    void setFrameSize(NSSize size);

    // The size the view's content needs to be shown whole at the toolkit's
    // present font (its natural size); a view with no content of its own
    // needs its frame's size.
    NSSize fittingSize() const;

    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }

    // Moves and resizes this view by its mask after its superview changed
    // from `oldSize` to its present size. The change along an axis is shared
    // among the flexible parts in proportion to their sizes (evenly when
    // they are all empty); parts that are not flexible keep their size.
    void resizeWithOldSuperviewSize(NSSize oldSize);

    const std::vector<std::shared_ptr<NSView>>& subviews() const { return subviews_; }
    // The view this one lies in; null when none. Not owned.
    NSView* superview() const { return superview_; }
    // Adds `view` on top of the others, taking it from where it was before.
    void addSubview(std::shared_ptr<NSView> view);
    void removeFromSuperview();

    bool wantsLayer() const { return layer_ != nullptr; }
    void setWantsLayer(bool wants);
    // The backing layer; null unless the view wants one.
    CALayer* layer() const { return layer_.get(); }

    // The widget that draws this view.
    GtkWidget* widget() const { return widget_; }

protected:
    // A view showing `content` (a floating or owned widget) across its rectangle.
    NSView(NSRect frame, GtkWidget* content);

    GtkWidget* contentWidget() const { return content_; }

    // Takes `view` into this view's widget `parent`, for views that arrange
    // their subviews themselves (a stack); `view` leaves where it was first.
    void adoptArrangedView(NSView& view, GtkWidget* parent);
    // Lets a subclass drop `view` from its own lists before it is detached.
    virtual void willRemoveSubview(NSView& view);

private:
    friend struct NSViewWidgetAccess;

    void layOut(int width, int height);
    // Takes the frame and autoresizes the subviews, asking for no new layout
    // (used while the toolkit lays the view out).
    void updateFrame(NSRect frame);
    NSRect autoresizedFrame(NSSize oldSize, NSSize newSize) const;
    void detach(NSView& view);

    NSRect frame_;
    unsigned autoresizingMask_ = NSViewNotSizable;
    std::vector<std::shared_ptr<NSView>> subviews_;
    NSView* superview_ = nullptr;
    std::shared_ptr<CALayer> layer_;
    GtkWidget* widget_ = nullptr;
    GtkWidget* content_ = nullptr;
};
