#include "app/Classes/QvProgressHUD.h"

#include <algorithm>

#include "platform/CoreGraphics/CGContext.h"

namespace {

constexpr CGRect kOverlayFrame{{82.5, 177.5}, {155, 125}};
constexpr CGRect kTextFrame{{0, 75}, {155, 30}};
constexpr CGRect kIndicatorWithText{{59, 27}, {37, 37}};
constexpr CGRect kIndicatorAlone{{59, 44}, {37, 37}};
constexpr CGPoint kLargeTextCentre{77, 62};
constexpr size_t kBackgroundSide = 100;
constexpr CGFloat kCornerRadius = 9;

// The panel picture: the rounded rectangle filled black at alpha 0.8, clear around it.
std::shared_ptr<UIImage> backgroundImage() {
    CGPathRef path =
        CreateRoundedRectPath(CGRectMake(0, 0, kBackgroundSide, kBackgroundSide), kCornerRadius);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context =
        CGBitmapContextCreate(nullptr, kBackgroundSide, kBackgroundSide, 8, kBackgroundSide * 4,
                              space, kCGImageAlphaPremultipliedFirst);
    if (!context)
        return nullptr;
    CGContextSetFillColorSpace(context, space);
    CGContextSetRGBFillColor(context, 0, 0, 0, 0.8);
    CGContextAddPath(context, path);
    CGContextFillPath(context);
    CGImageRef image = CGBitmapContextCreateImage(context);
    return UIImage::imageWithCGImage(image);
}

}  // namespace

std::shared_ptr<QvProgressHUD> QvProgressHUD::initWithText(const std::optional<std::string>& text,
                                                           bool showIndicator) {
    auto hud = std::make_shared<QvProgressHUD>();
    hud->setFrame(kOverlayFrame);
    hud->setImage(backgroundImage());

    auto label = UILabel::initWithFrame(kTextFrame);
    label->setTextAlignment(UITextAlignmentCenter);
    label->setTextColor(UIColor::whiteColor());
    label->setText(text.value_or(""));
    label->setFont(UIFont::boldSystemFontOfSize(24));
    label->setBackgroundColor(UIColor::clearColor());
    hud->addSubview(label);
    hud->textLabel_ = label;

    if (!showIndicator) {
        // One large line in the middle of the panel, sized once to its first text.
        label->setFont(UIFont::boldSystemFontOfSize(50));
        label->sizeToFit();
        const CGSize size = label->frame().size;
        label->setFrame(CGRectMake(kLargeTextCentre.x - size.width / 2,
                                   kLargeTextCentre.y - size.height / 2, size.width, size.height));
        return hud;
    }
    auto indicator = UIActivityIndicatorView::initWithActivityIndicatorStyle(
        UIActivityIndicatorViewStyleWhiteLarge);
    hud->activityIndicator_ = indicator;
    hud->placeIndicator(text.has_value());
    indicator->startAnimating();
    hud->addSubview(indicator);
    return hud;
}

std::shared_ptr<QvProgressHUD> QvProgressHUD::init() {
    return initWithText(std::nullopt, true);
}

void QvProgressHUD::setText(const std::optional<std::string>& text) {
    if (auto label = textLabel_.lock())
        label->setText(text.value_or(""));
    placeIndicator(text.has_value());
}

void QvProgressHUD::placeIndicator(bool hasText) {
    if (auto indicator = activityIndicator_.lock())
        indicator->setFrame(hasText ? kIndicatorWithText : kIndicatorAlone);
}

CGPathRef CreateRoundedRectPath(CGRect rect, CGFloat radius) {
    const CGFloat minX = rect.origin.x, minY = rect.origin.y;
    const CGFloat maxX = minX + rect.size.width, maxY = minY + rect.size.height;
    // Half the larger side, not the smaller: a wide short rectangle keeps a radius taller than
    // itself.
    const double limit = std::max(rect.size.width, rect.size.height) / 2.0;
    const CGFloat r = radius > limit ? limit : radius;

    CGMutablePathRef path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, minX + r, minY);
    CGPathAddArcToPoint(path, nullptr, minX, minY, minX, minY + r, r);
    CGPathAddLineToPoint(path, nullptr, minX, maxY - r);
    CGPathAddArcToPoint(path, nullptr, minX, maxY, minX + r, maxY, r);
    CGPathAddLineToPoint(path, nullptr, maxX - r, maxY);
    CGPathAddArcToPoint(path, nullptr, maxX, maxY, maxX, maxY - r, r);
    CGPathAddLineToPoint(path, nullptr, maxX, minY + r);
    CGPathAddArcToPoint(path, nullptr, maxX, minY, maxX - r, minY, r);
    CGPathCloseSubpath(path);
    CGPathRef copy = CGPathCreateCopy(path);
    CGPathRelease(path);
    return copy;
}
