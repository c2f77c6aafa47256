#pragma once
// Turns one XML answer of the REST API into plain values, as the delegate of NSXMLParser:
//
//   element with the attribute list="true"        -> array of its children's values
//   element with child elements                   -> dictionary, child name -> value (a repeated
//                                                    name keeps the last value)
//   element with non-blank text                   -> the text as gathered, white space kept
//   ... whose parent is a list                    -> dictionary {element name: text}
//   empty element, or white space only            -> null
//
// A run of non-blank text replaces what its element held so far, and a child that ends inside an
// element holding such text is dropped. Only start tags, text, end tags and the parse error are
// read: CDATA sections, comments and processing instructions add nothing.
//
// One handler serves one document. Threads: the parser's thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSXMLParser.h"
#include "platform/Foundation/Value.h"

class RQKNXMLHandler : public NSObject, public NSXMLParserDelegate {
  public:
    static std::shared_ptr<RQKNXMLHandler> init();

    // The parser's error, null when none.
    const NSErrorPtr& parseError() const { return parseError_; }
    // The document element's name, nullopt until it has ended.
    const std::optional<std::string>& rootName() const { return rootName_; }
    // The document element's value; null until it has ended (and for an empty element).
    const Value& rootObject() const { return rootObject_; }

    void parserDidStartElementNamespaceURIQualifiedNameAttributes(
        NSXMLParser& parser, const std::string& elementName,
        const std::optional<std::string>& namespaceURI,
        const std::optional<std::string>& qualifiedName,
        const NSXMLAttributes& attributes) override;
    void parserFoundCharacters(NSXMLParser& parser, const std::string& string) override;
    void parserDidEndElementNamespaceURIQualifiedName(
        NSXMLParser& parser, const std::string& elementName,
        const std::optional<std::string>& namespaceURI,
        const std::optional<std::string>& qualifiedName) override;
    void parserParseErrorOccurred(NSXMLParser& parser, const NSErrorPtr& parseError) override;

  private:
    RQKNXMLHandler() = default;

    // What an open element holds so far.
    enum class Kind {
        Placeholder,  // nothing yet (null)
        List,         // an array
        Dictionary,   // child elements
        Text,         // its text
        TextInList,   // {name: text}, the text of an element whose parent is a list
    };
    struct Entry {
        Kind kind;
        Value value;
    };

    // The innermost open element's entry; with `create`, a placeholder becomes a dictionary.
    Entry& topObject(bool create);
    // The entry below it (a placeholder becomes a dictionary), or null when there is none.
    Entry* topContainer();
    void flushCharacters();

    std::vector<Entry> stack_;
    std::vector<std::string> nameStack_;
    Value rootObject_;
    std::optional<std::string> rootName_;
    std::optional<std::string> chars_;
    NSErrorPtr parseError_;
};
