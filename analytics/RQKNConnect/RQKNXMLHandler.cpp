#include "analytics/RQKNConnect/RQKNXMLHandler.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace {

// Any character that is not Unicode white space (spaces, tabs, line ends and the rest).
bool hasNonBlank(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || !u_isUWhiteSpace(c))
            return true;
    }
    return false;
}

}  // namespace

std::shared_ptr<RQKNXMLHandler> RQKNXMLHandler::init() {
    return std::shared_ptr<RQKNXMLHandler>(new RQKNXMLHandler());
}

RQKNXMLHandler::Entry& RQKNXMLHandler::topObject(bool create) {
    Entry& top = stack_.back();
    if (create && top.kind == Kind::Placeholder)
        top = {Kind::Dictionary, Value::dictionary()};
    return top;
}

RQKNXMLHandler::Entry* RQKNXMLHandler::topContainer() {
    if (stack_.size() < 2)
        return nullptr;
    Entry& below = stack_[stack_.size() - 2];
    if (below.kind == Kind::Placeholder)
        below = {Kind::Dictionary, Value::dictionary()};
    return &below;
}

void RQKNXMLHandler::flushCharacters() {
    std::optional<std::string> chars = std::exchange(chars_, std::nullopt);
    // Text outside every element does not come from a conforming parser; it is dropped.
    if (!chars || stack_.empty() || !hasNonBlank(*chars))
        return;
    Entry* container = topContainer();
    if (container && container->kind == Kind::List) {
        ValueDictionary single;
        single.set(nameStack_.back(), std::move(*chars));
        stack_.back() = {Kind::TextInList, Value(std::move(single))};
    } else {
        stack_.back() = {Kind::Text, Value(std::move(*chars))};
    }
}

void RQKNXMLHandler::parserDidStartElementNamespaceURIQualifiedNameAttributes(
    NSXMLParser&, const std::string& elementName, const std::optional<std::string>&,
    const std::optional<std::string>&, const NSXMLAttributes& attributes) {
    flushCharacters();
    auto list = attributes.find("list");
    if (list != attributes.end() && list->second == "true")
        stack_.push_back({Kind::List, Value::array()});
    else
        stack_.push_back({Kind::Placeholder, Value()});
    nameStack_.push_back(elementName);
}

void RQKNXMLHandler::parserFoundCharacters(NSXMLParser&, const std::string& string) {
    if (chars_)
        *chars_ += string;
    else
        chars_ = string;
}

void RQKNXMLHandler::parserDidEndElementNamespaceURIQualifiedName(
    NSXMLParser&, const std::string&, const std::optional<std::string>&,
    const std::optional<std::string>&) {
    if (stack_.empty())
        return;
    flushCharacters();
    Value value = topObject(false).value;
    std::string name = nameStack_.back();
    stack_.pop_back();
    nameStack_.pop_back();
    if (stack_.empty()) {
        rootObject_ = std::move(value);
        rootName_ = std::move(name);
        return;
    }
    Entry& parent = topObject(true);
    if (parent.kind == Kind::List)
        parent.value.arrayRef().push_back(std::move(value));
    else if (parent.kind == Kind::Dictionary)
        parent.value.dictionaryRef().set(std::move(name), std::move(value));
    // A parent holding text drops the child.
}

void RQKNXMLHandler::parserParseErrorOccurred(NSXMLParser&, const NSErrorPtr& parseError) {
    parseError_ = parseError;
}
