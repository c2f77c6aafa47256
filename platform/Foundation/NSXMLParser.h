#pragma once
// An event-driven XML parser on expat. `parse` reads the whole document and tells the delegate,
// in document order, of each start tag with its attributes, of the text between tags (in
// pieces: one run of text may arrive as several messages), of CDATA sections and of each end
// tag. A document that is not well-formed ends the parse with one parse-error message; the
// messages before it stand.
//
// Namespaces are not processed: element names are the names as written ("kn:user"), and the
// namespace and qualified-name arguments are always nullopt. External entities are not loaded.
//
// Hostile documents are refused as parse errors: one that declares any entity in its document
// type declaration (internal or external, general or parameter: the way to blow a small answer
// up into gigabytes of text), and one whose elements nest deeper than NSXMLParserMaximumDepth.
// The five predefined entities and character references are read as usual.
//
// Threads: one parser is used by one thread at a time; the delegate is called on that thread.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

// The deepest element nesting accepted, the root element counting as 1.
inline constexpr long NSXMLParserMaximumDepth = 256;

inline constexpr const char* NSXMLParserErrorDomain = "NSXMLParserErrorDomain";
// In a parse error's user information: the line (from 1), the column (from 1) and expat's text.
inline constexpr const char* NSXMLParserErrorLineNumberKey = "NSXMLParserErrorLineNumber";
inline constexpr const char* NSXMLParserErrorColumnKey = "NSXMLParserErrorColumn";
inline constexpr const char* NSXMLParserErrorMessageKey = "NSXMLParserErrorMessage";

// The kinds of parse error; anything expat reports that has no kind of its own is internal.
enum NSXMLParserError : long {
    NSXMLParserInternalError = 1,
    NSXMLParserOutOfMemoryError = 2,
    NSXMLParserEmptyDocumentError = 4,
    NSXMLParserPrematureDocumentEndError = 5,
    NSXMLParserInvalidCharacterError = 9,
    NSXMLParserEntityIsExternalError = 29,
    NSXMLParserTagNameMismatchError = 76,
    // An entity declaration other than an external one.
    NSXMLParserEntityDeclarationRefusedError = 1001,
    NSXMLParserNestingTooDeepError = 1002,
    NSXMLParserDelegateAbortedParseError = 512,
};

using NSXMLAttributes = std::map<std::string, std::string>;

class NSXMLParser;

// Each message has a default that does nothing.
class NSXMLParserDelegate {
  public:
    virtual ~NSXMLParserDelegate() = default;
    virtual void parserDidStartElementNamespaceURIQualifiedNameAttributes(
        NSXMLParser& parser, const std::string& elementName,
        const std::optional<std::string>& namespaceURI,
        const std::optional<std::string>& qualifiedName, const NSXMLAttributes& attributes) {
        (void)parser, (void)elementName, (void)namespaceURI, (void)qualifiedName, (void)attributes;
    }
    // Text outside CDATA sections, entities already replaced.
    virtual void parserFoundCharacters(NSXMLParser& parser, const std::string& string) {
        (void)parser, (void)string;
    }
    // The whole content of one CDATA section.
    virtual void parserFoundCDATA(NSXMLParser& parser, const Data& CDATABlock) {
        (void)parser, (void)CDATABlock;
    }
    virtual void parserDidEndElementNamespaceURIQualifiedName(
        NSXMLParser& parser, const std::string& elementName,
        const std::optional<std::string>& namespaceURI,
        const std::optional<std::string>& qualifiedName) {
        (void)parser, (void)elementName, (void)namespaceURI, (void)qualifiedName;
    }
    virtual void parserParseErrorOccurred(NSXMLParser& parser, const NSErrorPtr& parseError) {
        (void)parser, (void)parseError;
    }
};

class NSXMLParser : public NSObject {
  public:
    // A parser over a copy of `data`.
    static std::shared_ptr<NSXMLParser> initWithData(Data data);

    // Not retained: whoever made the delegate keeps it alive during `parse`.
    void setDelegate(std::weak_ptr<NSXMLParserDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Parses the whole document: true when it is well-formed, else false after the delegate's
    // parse-error message. A parser parses once; a second call returns the first result and
    // sends nothing.
    bool parse();
    // Stops a running parse from within a delegate message: no further message but the
    // parse error NSXMLParserDelegateAbortedParseError.
    void abortParsing();

    // The error of the last parse, null when there was none.
    const NSErrorPtr& parserError() const { return error_; }
    // Where the parser stands (from 1): during a delegate message the event's place, after an
    // error the error's place.
    long lineNumber() const;

    ~NSXMLParser() override;
    NSXMLParser(const NSXMLParser&) = delete;
    NSXMLParser& operator=(const NSXMLParser&) = delete;

  private:
    explicit NSXMLParser(Data data) : data_(std::move(data)) {}
    struct Callbacks;

    Data data_;
    std::weak_ptr<NSXMLParserDelegate> delegate_;
    void* expat_ = nullptr;  // the XML_Parser while `parse` runs
    bool parsed_ = false;
    bool result_ = false;
    bool aborted_ = false;
    bool sawElement_ = false;
    bool inCDATA_ = false;
    long depth_ = 0;
    // Why the parser itself stopped the parse: the error kind and its description (0: it did not).
    long refusal_ = 0;
    std::string refusalReason_;
    Data cdata_;
    long line_ = 0;
    long column_ = 0;
    NSErrorPtr error_;
};
