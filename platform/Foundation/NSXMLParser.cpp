#include "platform/Foundation/NSXMLParser.h"

#include <expat.h>

#include <algorithm>
#include <climits>

struct NSXMLParser::Callbacks {
    static NSXMLParser& self(void* userData) { return *static_cast<NSXMLParser*>(userData); }

    // The delegate for one message; null when there is none or the parse was aborted.
    static std::shared_ptr<NSXMLParserDelegate> delegate(NSXMLParser& parser) {
        if (parser.aborted_)
            return nullptr;
        return parser.delegate_.lock();
    }

    // Stops the parse at once with an error of the parser's own; no further message but it.
    static void refuse(NSXMLParser& parser, long kind, std::string reason) {
        if (parser.aborted_ || !parser.expat_)
            return;
        parser.refusal_ = kind;
        parser.refusalReason_ = std::move(reason);
        parser.aborted_ = true;
        XML_StopParser(static_cast<XML_Parser>(parser.expat_), XML_FALSE);
    }

    static void entityDeclaration(void* userData, const XML_Char* entityName, int isParameter,
                                  const XML_Char*, int, const XML_Char*, const XML_Char* systemId,
                                  const XML_Char* publicId, const XML_Char*) {
        NSXMLParser& parser = self(userData);
        const bool external = systemId || publicId;
        std::string reason = std::string("The XML document declares the ") +
                             (external ? "external " : "") + (isParameter ? "parameter " : "") +
                             "entity \"" + entityName +
                             "\"; documents that declare entities are refused";
        refuse(
            parser,
            external ? NSXMLParserEntityIsExternalError : NSXMLParserEntityDeclarationRefusedError,
            std::move(reason));
    }

    static void startElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
        NSXMLParser& parser = self(userData);
        parser.sawElement_ = true;
        if (++parser.depth_ > NSXMLParserMaximumDepth) {
            refuse(parser, NSXMLParserNestingTooDeepError,
                   "The XML document nests elements deeper than " +
                       std::to_string(NSXMLParserMaximumDepth) + " levels");
            return;
        }
        auto d = delegate(parser);
        if (!d)
            return;
        NSXMLAttributes attributeMap;
        for (int i = 0; attributes[i] && attributes[i + 1]; i += 2)
            attributeMap[attributes[i]] = attributes[i + 1];
        d->parserDidStartElementNamespaceURIQualifiedNameAttributes(parser, name, std::nullopt,
                                                                    std::nullopt, attributeMap);
    }

    static void endElement(void* userData, const XML_Char* name) {
        NSXMLParser& parser = self(userData);
        --parser.depth_;
        if (auto d = delegate(parser))
            d->parserDidEndElementNamespaceURIQualifiedName(parser, name, std::nullopt,
                                                            std::nullopt);
    }

    static void characters(void* userData, const XML_Char* text, int length) {
        NSXMLParser& parser = self(userData);
        if (parser.inCDATA_) {
            parser.cdata_.insert(parser.cdata_.end(), text, text + length);
            return;
        }
        if (auto d = delegate(parser))
            d->parserFoundCharacters(parser, std::string(text, static_cast<size_t>(length)));
    }

    static void startCDATA(void* userData) {
        NSXMLParser& parser = self(userData);
        parser.inCDATA_ = true;
        parser.cdata_.clear();
    }

    static void endCDATA(void* userData) {
        NSXMLParser& parser = self(userData);
        parser.inCDATA_ = false;
        Data block = std::move(parser.cdata_);
        parser.cdata_.clear();
        if (auto d = delegate(parser))
            d->parserFoundCDATA(parser, block);
    }
};

namespace {

long errorKind(XML_Error code, bool sawElement) {
    switch (code) {
        case XML_ERROR_NO_MEMORY:
            return NSXMLParserOutOfMemoryError;
        case XML_ERROR_NO_ELEMENTS:
            // expat's words for both an empty document and one that ends inside an element.
            return sawElement ? NSXMLParserPrematureDocumentEndError
                              : NSXMLParserEmptyDocumentError;
        case XML_ERROR_UNCLOSED_TOKEN:
        case XML_ERROR_PARTIAL_CHAR:
        case XML_ERROR_UNCLOSED_CDATA_SECTION:
            return NSXMLParserPrematureDocumentEndError;
        case XML_ERROR_INVALID_TOKEN:
        case XML_ERROR_BAD_CHAR_REF:
            return NSXMLParserInvalidCharacterError;
        case XML_ERROR_TAG_MISMATCH:
            return NSXMLParserTagNameMismatchError;
        case XML_ERROR_ABORTED:
            return NSXMLParserDelegateAbortedParseError;
        default:
            return NSXMLParserInternalError;
    }
}

long clampToLong(XML_Size value) {
    return value > static_cast<XML_Size>(LONG_MAX) ? LONG_MAX : static_cast<long>(value);
}

}  // namespace

std::shared_ptr<NSXMLParser> NSXMLParser::initWithData(Data data) {
    return std::shared_ptr<NSXMLParser>(new NSXMLParser(std::move(data)));
}

NSXMLParser::~NSXMLParser() = default;

bool NSXMLParser::parse() {
    if (parsed_)
        return result_;
    parsed_ = true;
    // Kept alive while the delegate runs, in case it drops its last reference to the parser.
    auto keepAlive = retained(this);

    XML_Parser expat = XML_ParserCreate(nullptr);
    if (!expat) {
        error_ = NSError::make(NSXMLParserErrorDomain, NSXMLParserOutOfMemoryError,
                               "The XML parser could not be created.");
        if (auto d = delegate_.lock())
            d->parserParseErrorOccurred(*this, error_);
        return result_ = false;
    }
    expat_ = expat;
    XML_SetUserData(expat, this);
    XML_SetElementHandler(expat, &Callbacks::startElement, &Callbacks::endElement);
    XML_SetCharacterDataHandler(expat, &Callbacks::characters);
    XML_SetCdataSectionHandler(expat, &Callbacks::startCDATA, &Callbacks::endCDATA);
    XML_SetEntityDeclHandler(expat, &Callbacks::entityDeclaration);

    // expat takes an int length; larger documents go in slices.
    constexpr size_t kSlice = 1 << 30;
    XML_Status status = XML_STATUS_OK;
    size_t offset = 0;
    do {
        const size_t length = std::min(kSlice, data_.size() - offset);
        const bool last = offset + length == data_.size();
        status = XML_Parse(expat, reinterpret_cast<const char*>(data_.data()) + offset,
                           static_cast<int>(length), last);
        offset += length;
    } while (status == XML_STATUS_OK && offset < data_.size());

    line_ = clampToLong(XML_GetCurrentLineNumber(expat));
    column_ = clampToLong(XML_GetCurrentColumnNumber(expat)) + 1;
    result_ = status == XML_STATUS_OK;
    if (!result_) {
        const XML_Error code = XML_GetErrorCode(expat);
        const std::string message = XML_ErrorString(code) ? XML_ErrorString(code) : "";
        const std::string place =
            " (line " + std::to_string(line_) + ", column " + std::to_string(column_) + ")";
        ValueDictionary info;
        info.set(NSLocalizedDescriptionKey,
                 (refusal_ ? refusalReason_ : "The XML document is not well-formed: " + message) +
                     place + ".");
        info.set(NSXMLParserErrorLineNumberKey, line_);
        info.set(NSXMLParserErrorColumnKey, column_);
        info.set(NSXMLParserErrorMessageKey, refusal_ ? refusalReason_ + "." : message);
        error_ = std::make_shared<NSError>(NSXMLParserErrorDomain,
                                           refusal_ ? refusal_ : errorKind(code, sawElement_),
                                           Value(std::move(info)));
    }
    expat_ = nullptr;
    XML_ParserFree(expat);
    if (!result_) {
        aborted_ = false;  // the error message itself is still sent
        if (auto d = delegate_.lock())
            d->parserParseErrorOccurred(*this, error_);
    }
    return result_;
}

void NSXMLParser::abortParsing() {
    if (!expat_ || aborted_)
        return;
    aborted_ = true;
    XML_StopParser(static_cast<XML_Parser>(expat_), XML_FALSE);
}

long NSXMLParser::lineNumber() const {
    if (expat_)
        return clampToLong(XML_GetCurrentLineNumber(static_cast<XML_Parser>(expat_)));
    return line_;
}
