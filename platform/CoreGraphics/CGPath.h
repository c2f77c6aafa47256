#pragma once
// Paths: subpaths of straight lines and cubic curves in user space. A mutable path is built with
// the CGPath functions; CGPathCreateCopy gives an immutable snapshot. Arcs are stored as cubic
// curves of at most a quarter turn each.
//
// Threads: a mutable path is used by one thread at a time; an immutable path may be read from
// any thread at once.

#include <cairo.h>

#include <memory>
#include <vector>

#include "platform/CoreGraphics/CGGeometry.h"

enum CGPathElementType {
    kCGPathElementMoveToPoint = 0,
    kCGPathElementAddLineToPoint = 1,
    kCGPathElementAddQuadCurveToPoint = 2,  // not produced here
    kCGPathElementAddCurveToPoint = 3,
    kCGPathElementCloseSubpath = 4,
};

// One element; `points` holds 1 point for a move or line, 3 for a curve (two control points,
// then the end), none for a close.
struct CGPathElement {
    CGPathElementType type;
    std::vector<CGPoint> points;
    bool operator==(const CGPathElement&) const = default;
};

class CGPath {
  public:
    const std::vector<CGPathElement>& elements() const { return elements_; }
    // The end of the last element (after a close, the start of that subpath); null when empty.
    const CGPoint* currentPoint() const { return hasCurrent_ ? &current_ : nullptr; }

    void moveTo(CGPoint p);
    void lineTo(CGPoint p);
    void curveTo(CGPoint c1, CGPoint c2, CGPoint end);
    void arcToPoint(CGPoint corner, CGPoint toward, CGFloat radius);
    void close();

    // Replays the elements as cairo's current path (appended to what is there).
    void addToCairo(cairo_t* cr) const;

  private:
    std::vector<CGPathElement> elements_;
    CGPoint current_{};
    CGPoint subpathStart_{};
    bool hasCurrent_ = false;
};

using CGMutablePathRef = std::shared_ptr<CGPath>;
using CGPathRef = std::shared_ptr<const CGPath>;

CGMutablePathRef CGPathCreateMutable();
// An immutable copy; nullptr for a null path.
CGPathRef CGPathCreateCopy(const CGPathRef& path);
// Drops the caller's reference.
void CGPathRelease(CGPathRef& path);
void CGPathRelease(CGMutablePathRef& path);

// The building functions transform their points by `m` when it is not null. Nothing happens for
// a null path.
void CGPathMoveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x,
                       CGFloat y);
// Without a current point the line starts a subpath at (x, y).
void CGPathAddLineToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x,
                          CGFloat y);
// The arc of `radius` tangent to the line from the current point to (x1, y1) and to the line
// from (x1, y1) to (x2, y2): a straight line to the first tangent point when the current point
// is not on it, then the arc to the second tangent point, which becomes the current point. When
// the three points lie on one line or the radius is 0, a line to (x1, y1) instead.
void CGPathAddArcToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x1,
                         CGFloat y1, CGFloat x2, CGFloat y2, CGFloat radius);
void CGPathCloseSubpath(const CGMutablePathRef& path);

// Whether `point` (transformed by `m` first, when given) lies inside the area the path encloses
// (non-zero winding, or even-odd).
bool CGPathContainsPoint(const CGPathRef& path, const CGAffineTransform* m, CGPoint point,
                         bool eoFill);
