#pragma once
// A horizontal slider: a value between a minimum and a maximum (single precision), a thumb
// image, and the track left of the thumb (minimum track image) and right of it (maximum track
// image). A person drags it: touch down, value changed while the thumb moves, touch up inside or
// outside at the end.
//
// Threads: main thread only.

#include <map>
#include <memory>

#include "platform/UIKit/UIControl.h"
#include "platform/UIKit/UIImage.h"

class UISlider : public UIControl {
  public:
    UISlider() = default;

    float minimumValue() const { return minimum_; }
    // The value is pinned again to the new range.
    void setMinimumValue(float value);
    float maximumValue() const { return maximum_; }
    void setMaximumValue(float value);
    float value() const { return value_; }
    // Pinned to minimum ... maximum (to the minimum when the maximum lies below it). Sends no
    // event: only a person's drag does.
    void setValue(float value, bool animated = false);

    void setThumbImage(const std::shared_ptr<UIImage>& image, unsigned state);
    std::shared_ptr<UIImage> thumbImageForState(unsigned state) const;
    void setMinimumTrackImage(const std::shared_ptr<UIImage>& image, unsigned state);
    std::shared_ptr<UIImage> minimumTrackImageForState(unsigned state) const;
    void setMaximumTrackImage(const std::shared_ptr<UIImage>& image, unsigned state);
    std::shared_ptr<UIImage> maximumTrackImageForState(unsigned state) const;

    // A person's finger: down on the thumb, moved to `value` (pinned; value changed is sent),
    // and up inside or outside the slider. The first two are ignored (false) while the slider is
    // disabled or not on screen or the application ignores interaction events; the last three
    // while no touch is down.
    bool touchDown();
    bool moveTo(float value);
    bool touchUpInside();
    bool touchUpOutside();
    bool isTracking() const { return tracking_; }
    // The whole drag: touch down, moved to `value`, touch up inside.
    bool slide(float value);
    // The value whose thumb centre lies at `x` (the slider's coordinates), pinned to the range.
    float valueAtX(double x) const;

    // A finger: touchDown as it begins, moveTo the value under it as it moves (the thumb
    // follows the finger), touchUpInside or touchUpOutside as it ends inside or outside the
    // bounds.
    bool touchBegan(CGPoint point) override;
    void touchMoved(CGPoint point) override;
    void touchEnded(CGPoint point) override;

    // "minimumValue", "maximumValue", "value" besides the control's properties.
    void setNibProperties(const Value& properties) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    static std::shared_ptr<UIImage> lookUp(
        const std::map<unsigned, std::shared_ptr<UIImage>>& images, unsigned state);
    bool canTouch();
    double thumbWidth() const;

    float minimum_ = 0;
    float maximum_ = 1;
    float value_ = 0;
    bool tracking_ = false;
    std::map<unsigned, std::shared_ptr<UIImage>> thumbImages_;
    std::map<unsigned, std::shared_ptr<UIImage>> minimumTrackImages_;
    std::map<unsigned, std::shared_ptr<UIImage>> maximumTrackImages_;
};
