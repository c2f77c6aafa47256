#include "platform/CoreGraphics/CGPath.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace {

CGPoint apply(const CGAffineTransform* m, CGFloat x, CGFloat y) {
    return m ? CGPointApplyAffineTransform(CGPointMake(x, y), *m) : CGPointMake(x, y);
}

std::optional<CGAffineTransform> inverse(const CGAffineTransform& t) {
    const CGFloat det = t.a * t.d - t.b * t.c;
    if (det == 0)
        return std::nullopt;
    return CGAffineTransformMake(t.d / det, -t.b / det, -t.c / det, t.a / det,
                                 (t.c * t.ty - t.d * t.tx) / det, (t.b * t.tx - t.a * t.ty) / det);
}

CGFloat length(CGFloat x, CGFloat y) {
    return std::hypot(x, y);
}

}  // namespace

void CGPath::moveTo(CGPoint p) {
    elements_.push_back({kCGPathElementMoveToPoint, {p}});
    current_ = subpathStart_ = p;
    hasCurrent_ = true;
}

void CGPath::lineTo(CGPoint p) {
    if (!hasCurrent_) {
        moveTo(p);
        return;
    }
    elements_.push_back({kCGPathElementAddLineToPoint, {p}});
    current_ = p;
}

void CGPath::curveTo(CGPoint c1, CGPoint c2, CGPoint end) {
    if (!hasCurrent_)
        moveTo(c1);
    elements_.push_back({kCGPathElementAddCurveToPoint, {c1, c2, end}});
    current_ = end;
}

void CGPath::close() {
    if (!hasCurrent_)
        return;
    elements_.push_back({kCGPathElementCloseSubpath, {}});
    current_ = subpathStart_;
}

void CGPath::arcToPoint(CGPoint p1, CGPoint p2, CGFloat radius) {
    if (!hasCurrent_) {
        moveTo(p1);
        return;
    }
    const CGPoint p0 = current_;
    const CGFloat ux = p0.x - p1.x, uy = p0.y - p1.y;
    const CGFloat vx = p2.x - p1.x, vy = p2.y - p1.y;
    const CGFloat lu = length(ux, uy), lv = length(vx, vy);
    const CGFloat cross = ux * vy - uy * vx;
    if (radius <= 0 || lu == 0 || lv == 0 || std::fabs(cross) <= 1e-12 * lu * lv) {
        lineTo(p1);
        return;
    }
    // Unit vectors from the corner along both legs; the half angle between them fixes how far
    // from the corner the circle touches each leg.
    const CGFloat ax = ux / lu, ay = uy / lu, bx = vx / lv, by = vy / lv;
    const CGFloat theta = std::acos(std::clamp(ax * bx + ay * by, -1.0, 1.0));
    const CGFloat d = radius / std::tan(theta / 2);
    const CGPoint t1 = CGPointMake(p1.x + ax * d, p1.y + ay * d);
    const CGPoint t2 = CGPointMake(p1.x + bx * d, p1.y + by * d);
    const CGFloat bisector = length(ax + bx, ay + by);
    const CGFloat h = radius / std::sin(theta / 2);
    const CGPoint centre =
        CGPointMake(p1.x + (ax + bx) / bisector * h, p1.y + (ay + by) / bisector * h);

    if (length(t1.x - p0.x, t1.y - p0.y) > 1e-9)
        lineTo(t1);
    const CGFloat start = std::atan2(t1.y - centre.y, t1.x - centre.x);
    // The arc turns away from the corner: the short way round, which the sign of the corner's
    // turn decides.
    const CGFloat sweep = (cross > 0 ? -1.0 : 1.0) * (std::numbers::pi - theta);
    const int segments =
        std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (std::numbers::pi / 2) - 1e-9)));
    const CGFloat step = sweep / segments;
    const CGFloat k = 4.0 / 3.0 * std::tan(step / 4) * radius;
    for (int i = 0; i < segments; ++i) {
        const CGFloat a0 = start + step * i;
        const CGFloat a1 = a0 + step;
        const CGPoint from =
            CGPointMake(centre.x + radius * std::cos(a0), centre.y + radius * std::sin(a0));
        const CGPoint to = i + 1 == segments ? t2
                                             : CGPointMake(centre.x + radius * std::cos(a1),
                                                           centre.y + radius * std::sin(a1));
        curveTo(CGPointMake(from.x - k * std::sin(a0), from.y + k * std::cos(a0)),
                CGPointMake(to.x + k * std::sin(a1), to.y - k * std::cos(a1)), to);
    }
}

void CGPath::addToCairo(cairo_t* cr) const {
    for (const auto& e : elements_) {
        switch (e.type) {
            case kCGPathElementMoveToPoint:
                cairo_move_to(cr, e.points[0].x, e.points[0].y);
                break;
            case kCGPathElementAddLineToPoint:
                cairo_line_to(cr, e.points[0].x, e.points[0].y);
                break;
            case kCGPathElementAddQuadCurveToPoint:
                break;
            case kCGPathElementAddCurveToPoint:
                cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y,
                               e.points[2].x, e.points[2].y);
                break;
            case kCGPathElementCloseSubpath:
                cairo_close_path(cr);
                break;
        }
    }
}

CGMutablePathRef CGPathCreateMutable() {
    return std::make_shared<CGPath>();
}

CGPathRef CGPathCreateCopy(const CGPathRef& path) {
    return path ? std::make_shared<const CGPath>(*path) : nullptr;
}

void CGPathRelease(CGPathRef& path) {
    path.reset();
}

void CGPathRelease(CGMutablePathRef& path) {
    path.reset();
}

void CGPathMoveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x,
                       CGFloat y) {
    if (path)
        path->moveTo(apply(m, x, y));
}

void CGPathAddLineToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x,
                          CGFloat y) {
    if (path)
        path->lineTo(apply(m, x, y));
}

void CGPathAddArcToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x1,
                         CGFloat y1, CGFloat x2, CGFloat y2, CGFloat radius) {
    if (!path)
        return;
    if (!m || CGAffineTransformIsIdentity(*m)) {
        path->arcToPoint(CGPointMake(x1, y1), CGPointMake(x2, y2), radius);
        return;
    }
    // The arc is made round in the untransformed space, then transformed with the path.
    auto back = inverse(*m);
    if (!back) {
        path->lineTo(apply(m, x1, y1));
        return;
    }
    CGPath local;
    if (const CGPoint* current = path->currentPoint())
        local.moveTo(CGPointApplyAffineTransform(*current, *back));
    local.arcToPoint(CGPointMake(x1, y1), CGPointMake(x2, y2), radius);
    for (const auto& e : local.elements()) {
        if (e.type == kCGPathElementAddLineToPoint)
            path->lineTo(CGPointApplyAffineTransform(e.points[0], *m));
        else if (e.type == kCGPathElementAddCurveToPoint)
            path->curveTo(CGPointApplyAffineTransform(e.points[0], *m),
                          CGPointApplyAffineTransform(e.points[1], *m),
                          CGPointApplyAffineTransform(e.points[2], *m));
        else if (e.type == kCGPathElementMoveToPoint && !path->currentPoint())
            path->moveTo(CGPointApplyAffineTransform(e.points[0], *m));
    }
}

void CGPathCloseSubpath(const CGMutablePathRef& path) {
    if (path)
        path->close();
}

bool CGPathContainsPoint(const CGPathRef& path, const CGAffineTransform* m, CGPoint point,
                         bool eoFill) {
    if (!path)
        return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    if (m)
        point = CGPointApplyAffineTransform(point, *m);
    path->addToCairo(cr);
    cairo_set_fill_rule(cr, eoFill ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    const bool inside = cairo_in_fill(cr, point.x, point.y);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return inside;
}
