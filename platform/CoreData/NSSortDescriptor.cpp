#include "platform/CoreData/NSSortDescriptor.h"

namespace {

template <class T>
int order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int ascendingOrder(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull())
        return order(!a.isNull(), !b.isNull());
    if (a.isString() && b.isString())
        return order(a.string(), b.string());
    if (a.isDate() && b.isDate())
        return order(a.date(), b.date());
    if (a.isNumber() && b.isNumber())
        return order(a.doubleValue(), b.doubleValue());
    return order(static_cast<int>(a.type()), static_cast<int>(b.type()));
}

}  // namespace

int NSSortDescriptor::compare(const Value& a, const Value& b) const {
    int result = ascendingOrder(a, b);
    return ascending_ ? result : -result;
}
