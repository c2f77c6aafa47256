#include "app/Classes/QvProgressHUD.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <ostream>

#include "platform/CoreGraphics/CGContext.h"

namespace {

constexpr CGRect kWithText{{59, 27}, {37, 37}};
constexpr CGRect kAlone{{59, 44}, {37, 37}};

struct LayoutCase {
    std::optional<std::string> text;
    bool indicator;
    std::optional<CGRect> indicatorFrame;
    friend std::ostream& operator<<(std::ostream& out, const LayoutCase& c) {
        return out << (c.text ? "'" + *c.text + "'" : "nil") << (c.indicator ? " + indicator" : "");
    }
};

class QvProgressHUDLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(QvProgressHUDLayoutTest, PanelTextLineAndIndicatorSitWhereTheTextSays) {
    const LayoutCase& c = GetParam();
    auto hud = QvProgressHUD::initWithText(c.text, c.indicator);
    EXPECT_EQ(hud->frame(), CGRectMake(82.5, 177.5, 155, 125));
    EXPECT_EQ(hud->center(), CGPointMake(160, 240));
    auto label = hud->textLabel();
    ASSERT_TRUE(label);
    EXPECT_EQ(label->superview(), hud);
    EXPECT_EQ(label->text(), c.text.value_or(""));
    EXPECT_EQ(label->textColor(), UIColor::whiteColor());
    EXPECT_EQ(label->backgroundColor(), UIColor::clearColor());
    EXPECT_EQ(label->textAlignment(), UITextAlignmentCenter);
    EXPECT_TRUE(label->font().bold);
    EXPECT_EQ(label->font().pointSize, 24);
    EXPECT_EQ(label->frame(), CGRectMake(0, 75, 155, 30));

    auto indicator = hud->activityIndicator();
    ASSERT_EQ(indicator != nullptr, c.indicatorFrame.has_value());
    if (!indicator)
        return;
    EXPECT_EQ(indicator->frame(), *c.indicatorFrame);
    EXPECT_EQ(indicator->superview(), hud);
    EXPECT_EQ(indicator->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_TRUE(indicator->isAnimating());
}

INSTANTIATE_TEST_SUITE_P(Overlays, QvProgressHUDLayoutTest,
                         ::testing::Values(LayoutCase{"Saving", true, kWithText},
                                           LayoutCase{"", true, kWithText},
                                           LayoutCase{std::nullopt, true, kAlone}));

TEST(QvProgressHUD, InitIsAnEmptyLineWithTheIndicatorInTheMiddle) {
    auto hud = QvProgressHUD::init();
    EXPECT_EQ(hud->textLabel()->text(), "");
    ASSERT_TRUE(hud->activityIndicator());
    EXPECT_EQ(hud->activityIndicator()->frame(), kAlone);
    // The indicator's centre is the panel's (77.5, 62.5).
    EXPECT_EQ(hud->activityIndicator()->center(), CGPointMake(77.5, 62.5));
}

TEST(QvProgressHUD, SetTextMovesTheIndicatorBetweenItsTwoPlacesOnly) {
    auto hud = QvProgressHUD::initWithText("Saving", true);
    const CGRect line = hud->textLabel()->frame();
    hud->setText(std::nullopt);
    EXPECT_EQ(hud->textLabel()->text(), "");
    EXPECT_EQ(hud->activityIndicator()->frame(), kAlone);
    hud->setText("Done");
    EXPECT_EQ(hud->textLabel()->text(), "Done");
    EXPECT_EQ(hud->activityIndicator()->frame(), kWithText);
    EXPECT_EQ(hud->textLabel()->frame(), line);
    EXPECT_EQ(hud->subviews().size(), 2u);
}

TEST(QvProgressHUD, WithoutIndicatorTheTextIsLargeCentredAndKeepsItsFirstSize) {
    auto hud = QvProgressHUD::initWithText("OK", false);
    EXPECT_FALSE(hud->activityIndicator());
    auto label = hud->textLabel();
    EXPECT_EQ(label->font().pointSize, 50);
    EXPECT_TRUE(label->font().bold);
    const CGSize fitted = sizeWithFont("OK", UIFont::boldSystemFontOfSize(50));
    EXPECT_EQ(label->frame().size, fitted);
    EXPECT_DOUBLE_EQ(label->center().x, 77);
    EXPECT_DOUBLE_EQ(label->center().y, 62);

    hud->setText("A much longer text");
    EXPECT_EQ(label->text(), "A much longer text");
    EXPECT_EQ(label->frame().size, fitted);
    EXPECT_FALSE(hud->activityIndicator());
    EXPECT_EQ(hud->subviews().size(), 1u);
}

// The background picture's alpha at pixel (x, y), row 0 at the top.
int alphaAt(const CGImageRef& image, int x, int y) {
    const auto* row = image->data() + static_cast<size_t>(y) * image->bytesPerRow();
    return static_cast<int>(reinterpret_cast<const uint32_t*>(row)[x] >> 24);
}

TEST(QvProgressHUD, TheBackgroundIsABlackRoundedPanelAtEightTenths) {
    auto hud = QvProgressHUD::init();
    ASSERT_TRUE(hud->image());
    const CGImageRef& image = hud->image()->CGImage();
    ASSERT_EQ(image->width(), 100u);
    ASSERT_EQ(image->height(), 100u);
    // Corners are clear; the pixel 1 in from a corner lies wholly outside its radius-9 arc.
    for (auto [x, y] : {std::pair{0, 0}, {99, 0}, {0, 99}, {99, 99}, {1, 1}, {98, 98}})
        EXPECT_EQ(alphaAt(image, x, y), 0) << x << "," << y;
    // Inside the arc and along the edges the panel is solid.
    for (auto [x, y] : {std::pair{50, 50}, {5, 5}, {94, 94}, {50, 0}, {0, 50}}) {
        EXPECT_NEAR(alphaAt(image, x, y), 204, 1) << x << "," << y;
        const auto* row = image->data() + static_cast<size_t>(y) * image->bytesPerRow();
        EXPECT_EQ(reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF, 0u) << "black";
    }
}

// The radius a corner really got: the distance from the first arc's start to the corner.
struct RadiusCase {
    CGRect rect;
    CGFloat asked;
    CGFloat given;
    friend std::ostream& operator<<(std::ostream& out, const RadiusCase& c) {
        return out << c.rect.size.width << "x" << c.rect.size.height << " radius " << c.asked;
    }
};

class RoundedRectPathTest : public ::testing::TestWithParam<RadiusCase> {};

TEST_P(RoundedRectPathTest, CornersAreQuarterCirclesOfTheLimitedRadius) {
    const auto [rect, asked, r] = GetParam();
    CGPathRef path = CreateRoundedRectPath(rect, asked);
    ASSERT_TRUE(path);
    const CGFloat minX = rect.origin.x, minY = rect.origin.y;
    const CGFloat maxX = minX + rect.size.width, maxY = minY + rect.size.height;
    // Corner, centre of its arc, and where the arc ends, in path order.
    struct Corner {
        CGPoint centre;
        CGPoint end;
    };
    const Corner corners[] = {{{minX + r, minY + r}, {minX, minY + r}},
                              {{minX + r, maxY - r}, {minX + r, maxY}},
                              {{maxX - r, maxY - r}, {maxX, maxY - r}},
                              {{maxX - r, minY + r}, {maxX - r, minY}}};
    const auto& e = path->elements();
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(e.front(), (CGPathElement{kCGPathElementMoveToPoint, {CGPointMake(minX + r, minY)}}));
    EXPECT_EQ(e.back().type, kCGPathElementCloseSubpath);
    size_t corner = 0;
    CGPoint from = e.front().points[0];
    for (size_t i = 1; i + 1 < e.size(); ++i) {
        if (e[i].type == kCGPathElementAddLineToPoint) {
            from = e[i].points[0];
            continue;
        }
        ASSERT_EQ(e[i].type, kCGPathElementAddCurveToPoint);
        ASSERT_LT(corner, 4u);
        const Corner& c = corners[corner];
        // The curve's middle lies on the circle of radius r round the corner's centre.
        const auto& p = e[i].points;
        const CGPoint mid{(from.x + 3 * p[0].x + 3 * p[1].x + p[2].x) / 8,
                          (from.y + 3 * p[0].y + 3 * p[1].y + p[2].y) / 8};
        EXPECT_NEAR(std::hypot(mid.x - c.centre.x, mid.y - c.centre.y), r, r * 1e-3);
        from = p[2];
        const bool lastOfCorner = e[i + 1].type != kCGPathElementAddCurveToPoint;
        if (lastOfCorner) {
            EXPECT_NEAR(from.x, c.end.x, 1e-9) << "corner " << corner;
            EXPECT_NEAR(from.y, c.end.y, 1e-9) << "corner " << corner;
            ++corner;
        }
    }
    EXPECT_EQ(corner, 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Radii, RoundedRectPathTest,
    ::testing::Values(RadiusCase{{{0, 0}, {100, 100}}, 9, 9},
                      RadiusCase{{{0, 0}, {100, 100}}, 80, 50},  // a circle
                      RadiusCase{{{0, 0}, {200, 40}}, 30, 30},   // over half the short side
                      RadiusCase{{{0, 0}, {200, 40}}, 150, 100},
                      RadiusCase{{{10, 20}, {60, 30}}, 5, 5}));

TEST(RoundedRectPath, ARadiusOfHalfTheSideMakesACircle) {
    CGPathRef path = CreateRoundedRectPath(CGRectMake(0, 0, 100, 100), 80);
    // Inside a square's corner but outside the circle.
    EXPECT_FALSE(CGPathContainsPoint(path, nullptr, CGPointMake(10, 10), false));
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(50, 2), false));
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(16, 16), false));
}

}  // namespace
