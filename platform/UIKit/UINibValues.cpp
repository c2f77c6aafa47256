#include "platform/UIKit/UINibValues.h"

#include <array>

namespace {

std::optional<std::array<double, 4>> fourNumbers(const Value& value) {
    if (!value.isArray() || value.arrayRef().size() != 4)
        return std::nullopt;
    std::array<double, 4> numbers{};
    for (size_t i = 0; i < 4; ++i) {
        const Value& item = value.arrayRef()[i];
        if (!item.isNumber())
            return std::nullopt;
        numbers[i] = item.doubleValue();
    }
    return numbers;
}

}  // namespace

std::optional<CGRect> rectFromNibValue(const Value& value) {
    auto n = fourNumbers(value);
    if (!n)
        return std::nullopt;
    return CGRectMake((*n)[0], (*n)[1], (*n)[2], (*n)[3]);
}

std::optional<UIColor> colorFromNibValue(const Value& value) {
    auto n = fourNumbers(value);
    if (!n)
        return std::nullopt;
    return UIColor((*n)[0], (*n)[1], (*n)[2], (*n)[3]);
}
