#pragma once
// A colour: red, green, blue and alpha components from 0.0 to 1.0 (not premultiplied).

#include <cairo.h>

#include <string>

class UIColor {
  public:
    constexpr UIColor() = default;  // clear
    constexpr UIColor(double red, double green, double blue, double alpha)
        : red_(red), green_(green), blue_(blue), alpha_(alpha) {}

    static constexpr UIColor colorWithRed(double red, double green, double blue, double alpha) {
        return UIColor(red, green, blue, alpha);
    }
    static constexpr UIColor blackColor() { return UIColor(0, 0, 0, 1); }
    static constexpr UIColor whiteColor() { return UIColor(1, 1, 1, 1); }
    static constexpr UIColor greyColor() { return UIColor(0.5, 0.5, 0.5, 1); }
    static constexpr UIColor clearColor() { return UIColor(); }

    double red() const { return red_; }
    double green() const { return green_; }
    double blue() const { return blue_; }
    double alpha() const { return alpha_; }

    // "red green blue alpha", each with up to 6 significant digits (%g).
    std::string description() const;
    void setSource(cairo_t* cr) const { cairo_set_source_rgba(cr, red_, green_, blue_, alpha_); }

    bool operator==(const UIColor&) const = default;

  private:
    double red_ = 0;
    double green_ = 0;
    double blue_ = 0;
    double alpha_ = 0;
};
