#include "platform/CoreGraphics/CGPath.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <ostream>

#include "platform/CoreGraphics/CGContext.h"

namespace {

CGPoint bezierAt(CGPoint p0, const CGPathElement& curve, double t) {
    const double u = 1 - t;
    const auto& c = curve.points;
    return CGPointMake(
        u * u * u * p0.x + 3 * u * u * t * c[0].x + 3 * u * t * t * c[1].x + t * t * t * c[2].x,
        u * u * u * p0.y + 3 * u * u * t * c[0].y + 3 * u * t * t * c[1].y + t * t * t * c[2].y);
}

double distance(CGPoint a, CGPoint b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// A corner at the origin between a leg along +x and a leg at `degrees` from it.
struct ArcCase {
    double degrees;
    double radius;
    friend std::ostream& operator<<(std::ostream& out, const ArcCase& c) {
        return out << c.degrees << " degrees, radius " << c.radius;
    }
};

class ArcToPointTest : public ::testing::TestWithParam<ArcCase> {};

TEST_P(ArcToPointTest, TheArcTouchesBothLegsAndKeepsItsRadius) {
    const auto [degrees, r] = GetParam();
    const double theta = degrees * std::numbers::pi / 180;
    const CGPoint corner{0, 0};
    const CGPoint start{100, 0};
    const CGPoint toward{100 * std::cos(theta), 100 * std::sin(theta)};
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, start.x, start.y);
    CGPathAddArcToPoint(path, nullptr, corner.x, corner.y, toward.x, toward.y, r);

    const double d = r / std::tan(std::fabs(theta) / 2);  // corner to tangent point
    const double h = r / std::sin(std::fabs(theta) / 2);  // corner to centre
    const CGPoint centre{h * std::cos(theta / 2), h * std::sin(theta / 2)};
    const auto& e = path->elements();
    ASSERT_GE(e.size(), 3u);
    EXPECT_EQ(e[1].type, kCGPathElementAddLineToPoint);
    EXPECT_NEAR(distance(e[1].points[0], CGPointMake(d, 0)), 0, 1e-9);
    CGPoint from = e[1].points[0];
    for (size_t i = 2; i < e.size(); ++i) {
        ASSERT_EQ(e[i].type, kCGPathElementAddCurveToPoint);
        for (double t : {0.25, 0.5, 0.75, 1.0})
            EXPECT_NEAR(distance(bezierAt(from, e[i], t), centre), r, r * 1e-3) << i << " " << t;
        from = e[i].points[2];
    }
    const CGPoint secondTangent{d * std::cos(theta), d * std::sin(theta)};
    EXPECT_NEAR(distance(from, secondTangent), 0, 1e-9);
    ASSERT_TRUE(path->currentPoint());
    EXPECT_NEAR(distance(*path->currentPoint(), secondTangent), 0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Corners, ArcToPointTest,
                         ::testing::Values(ArcCase{90, 9}, ArcCase{60, 10}, ArcCase{135, 20},
                                           ArcCase{-90, 9}, ArcCase{20, 3}));

TEST(CGPath, ArcWithoutACornerIsALineToTheCorner) {
    for (double radius : {0.0, 10.0}) {
        auto path = CGPathCreateMutable();
        CGPathMoveToPoint(path, nullptr, 0, 0);
        // Zero radius, or three points on one line.
        CGPathAddArcToPoint(path, nullptr, 10, 0, radius == 0 ? 10 : 20, radius == 0 ? 10 : 0,
                            radius);
        ASSERT_EQ(path->elements().size(), 2u) << radius;
        EXPECT_EQ(path->elements()[1],
                  (CGPathElement{kCGPathElementAddLineToPoint, {CGPointMake(10, 0)}}));
    }
}

TEST(CGPath, ACopyIsASnapshotAndCloseReturnsToTheSubpathStart) {
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 1, 2);
    CGPathAddLineToPoint(path, nullptr, 5, 2);
    CGPathRef copy = CGPathCreateCopy(path);
    CGPathCloseSubpath(path);
    EXPECT_EQ(copy->elements().size(), 2u);
    ASSERT_TRUE(path->currentPoint());
    EXPECT_EQ(*path->currentPoint(), CGPointMake(1, 2));
    const CGAffineTransform shift = CGAffineTransformMakeTranslation(10, 0);
    CGPathAddLineToPoint(path, &shift, 0, 7);
    EXPECT_EQ(path->elements().back().points[0], CGPointMake(10, 7));
}

TEST(CGPath, ContainsPointFollowsTheFillRule) {
    // Two nested squares drawn the same way round: non-zero fills the hole, even-odd does not.
    auto path = CGPathCreateMutable();
    for (double side : {10.0, 4.0}) {
        const double o = (10 - side) / 2;
        CGPathMoveToPoint(path, nullptr, o, o);
        CGPathAddLineToPoint(path, nullptr, o + side, o);
        CGPathAddLineToPoint(path, nullptr, o + side, o + side);
        CGPathAddLineToPoint(path, nullptr, o, o + side);
        CGPathCloseSubpath(path);
    }
    CGPathRef shape = path;
    EXPECT_TRUE(CGPathContainsPoint(shape, nullptr, CGPointMake(5, 5), false));
    EXPECT_FALSE(CGPathContainsPoint(shape, nullptr, CGPointMake(5, 5), true));
    EXPECT_TRUE(CGPathContainsPoint(shape, nullptr, CGPointMake(1, 1), true));
    EXPECT_FALSE(CGPathContainsPoint(shape, nullptr, CGPointMake(11, 5), false));
}

// The bytes of pixel (x, row) of an ARGB (big-endian order) buffer, row 0 at the top.
std::array<int, 4> argbAt(const CGContextRef& context, size_t x, size_t row) {
    const auto* p = static_cast<const uint8_t*>(CGBitmapContextGetData(context)) +
                    row * CGBitmapContextGetBytesPerRow(context) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

TEST(CGContextFill, FillsThePathInUserSpaceWithTheFillColourPremultiplied) {
    auto space = CGColorSpaceCreateDeviceRGB();
    auto context =
        CGBitmapContextCreate(nullptr, 8, 8, 8, 32, space, kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(context);
    // The lower half in user space (y up) is the bottom rows of the buffer.
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 0, 0);
    CGPathAddLineToPoint(path, nullptr, 8, 0);
    CGPathAddLineToPoint(path, nullptr, 8, 4);
    CGPathAddLineToPoint(path, nullptr, 0, 4);
    CGPathCloseSubpath(path);
    CGContextSetFillColorSpace(context, space);
    CGContextSaveGState(context);
    CGContextSetRGBFillColor(context, 1, 0, 0, 0.5);
    CGContextAddPath(context, path);
    CGContextFillPath(context);
    CGContextRestoreGState(context);

    const auto bottom = argbAt(context, 3, 6);
    EXPECT_NEAR(bottom[0], 128, 1);
    EXPECT_NEAR(bottom[1], 128, 1);
    EXPECT_EQ(bottom[2], 0);
    EXPECT_EQ(bottom[3], 0);
    EXPECT_EQ(argbAt(context, 3, 1), (std::array<int, 4>{0, 0, 0, 0}));

    // The fill consumed the path, and restoring the state brought back opaque black.
    CGContextFillPath(context);
    EXPECT_EQ(argbAt(context, 3, 1), (std::array<int, 4>{0, 0, 0, 0}));
    CGContextAddPath(context, path);
    CGContextFillPath(context);
    EXPECT_EQ(argbAt(context, 3, 6), (std::array<int, 4>{255, 0, 0, 0}));
}

}  // namespace
