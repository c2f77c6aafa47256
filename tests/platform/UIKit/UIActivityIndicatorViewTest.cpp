#include "platform/UIKit/UIActivityIndicatorView.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/RunLoopTesting.h"

namespace {

// Draws the indicator on a transparent surface of its size.
class Drawing {
  public:
    explicit Drawing(UIActivityIndicatorView& view) {
        const CGRect b = view.bounds();
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(b.size.width),
                                              static_cast<int>(b.size.height));
        cairo_t* cr = cairo_create(surface_);
        view.setFrame(b);
        view.drawHierarchy(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
    }
    ~Drawing() { cairo_surface_destroy(surface_); }
    int alphaAt(int x, int y) const {
        const auto* row =
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        return static_cast<int>(reinterpret_cast<const uint32_t*>(row)[x] >> 24);
    }
    int maxAlpha() const {
        int most = 0;
        for (int y = 0; y < cairo_image_surface_get_height(surface_); ++y)
            for (int x = 0; x < cairo_image_surface_get_width(surface_); ++x)
                most = std::max(most, alphaAt(x, y));
        return most;
    }

  private:
    cairo_surface_t* surface_;
};

TEST(UIActivityIndicatorView, TheStyleSetsTheSize) {
    const std::pair<UIActivityIndicatorViewStyle, double> cases[] = {
        {UIActivityIndicatorViewStyleWhiteLarge, 37},
        {UIActivityIndicatorViewStyleWhite, 20},
        {UIActivityIndicatorViewStyleGray, 20}};
    for (auto [style, side] : cases) {
        auto view = UIActivityIndicatorView::initWithActivityIndicatorStyle(style);
        EXPECT_EQ(view->frame(), CGRectMake(0, 0, side, side)) << style;
        EXPECT_EQ(view->activityIndicatorViewStyle(), style);
        EXPECT_FALSE(view->isAnimating());
    }
}

TEST(UIActivityIndicatorView, TheBrightSpokeTurnsOnceASecondWithTheClock) {
    ManualClockScope time;
    time.clock().set(1'300'000'000.0);
    auto view = UIActivityIndicatorView::initWithActivityIndicatorStyle(
        UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_EQ(Drawing(*view).maxAlpha(), 0);  // stopped and hidden when stopped

    view->startAnimating();
    // Twelve o'clock and six o'clock spokes, halfway along each.
    const int x = 18, top = 7, bottom = 30;
    EXPECT_EQ(view->leadingSpoke(), 0);
    {
        Drawing drawing(*view);
        EXPECT_GT(drawing.alphaAt(x, top), drawing.alphaAt(x, bottom) + 50);
    }
    time.advance(0.25);
    EXPECT_EQ(view->leadingSpoke(), 3);
    time.advance(0.25);
    EXPECT_EQ(view->leadingSpoke(), 6);
    {
        Drawing drawing(*view);
        EXPECT_GT(drawing.alphaAt(x, bottom), drawing.alphaAt(x, top) + 50);
    }
    time.advance(0.5);
    EXPECT_EQ(view->leadingSpoke(), 0);

    view->stopAnimating();
    view->setHidesWhenStopped(false);
    EXPECT_GT(Drawing(*view).maxAlpha(), 200);  // a still wheel
}

}  // namespace
