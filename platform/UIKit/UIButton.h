#pragma once
// A push button: per control state a title, a title colour and a background image; a state
// without its own value shows the normal state's. Drawn as its background colour, then its
// background image filling the bounds, then its title centred in bold 15-point type; faded while
// disabled. While a finger holds it (highlighted) without a background image of that state
// of its own, its background colour and image show darkened by kHighlightShade, as the phone
// shows a pressed button.
//
// Threads: main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/UIKit/UIControl.h"
#include "platform/UIKit/UIImage.h"

enum UIButtonType { UIButtonTypeCustom = 0, UIButtonTypeRoundedRect = 1 };

class UIButton : public UIControl {
  public:
    // How opaque a disabled button is drawn.
    static constexpr double kDisabledAlpha = 0.45;
    // How much black a pressed button's background takes on.
    static constexpr double kHighlightShade = 0.35;

    UIButton() = default;
    // A custom button is transparent until given a title or images; a rounded-rect one has a
    // white background and a blue title colour.
    static std::shared_ptr<UIButton> buttonWithType(UIButtonType type);

    void setTitle(const std::string& title, unsigned state);
    // The title of `state`, else of the normal state; "" when none.
    std::string titleForState(unsigned state) const;
    // The title shown now.
    std::string currentTitle() const { return titleForState(state()); }

    void setTitleColor(UIColor color, unsigned state);
    UIColor titleColorForState(unsigned state) const;
    UIColor currentTitleColor() const { return titleColorForState(state()); }

    void setBackgroundImage(const std::shared_ptr<UIImage>& image, unsigned state);
    std::shared_ptr<UIImage> backgroundImageForState(unsigned state) const;
    std::shared_ptr<UIImage> currentBackgroundImage() const {
        return backgroundImageForState(state());
    }

    // "title", "titleColor" [r, g, b, a], "backgroundImage" (a resource name), "buttonType"
    // ("custom" or "roundedRect"), all for the normal state, besides the control's properties.
    void setNibProperties(const Value& properties) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    template <class T>
    static std::optional<T> lookUp(const std::map<unsigned, T>& values, unsigned state);

    std::map<unsigned, std::string> titles_;
    std::map<unsigned, UIColor> titleColors_;
    std::map<unsigned, std::shared_ptr<UIImage>> backgroundImages_;
};
