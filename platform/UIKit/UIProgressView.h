#pragma once
// A bar that fills from the left with the progress, which is pinned to 0.0 ... 1.0.
//
// Threads: main thread only.

#include <memory>

#include "platform/UIKit/UIView.h"

enum UIProgressViewStyle { UIProgressViewStyleDefault = 0, UIProgressViewStyleBar = 1 };

class UIProgressView : public UIView {
  public:
    UIProgressView() = default;

    float progress() const { return progress_; }
    // NaN counts as 0.
    void setProgress(float progress);

    // "progress", "progressViewStyle" ("default", "bar") besides the view's properties.
    void setNibProperties(const Value& properties) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    UIProgressViewStyle style_ = UIProgressViewStyleDefault;
    float progress_ = 0;
};
