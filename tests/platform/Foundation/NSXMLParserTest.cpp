#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/NSXMLParser.h"

namespace {

// Writes every message as one line of text; joins adjacent text pieces only in `joinedText`.
class Recorder : public NSXMLParserDelegate {
  public:
    void parserDidStartElementNamespaceURIQualifiedNameAttributes(
        NSXMLParser& parser, const std::string& name, const std::optional<std::string>& uri,
        const std::optional<std::string>& qName, const NSXMLAttributes& attributes) override {
        std::string line = "<" + name;
        for (const auto& [key, value] : attributes) line += " " + key + "=" + value;
        events.push_back(line + ">");
        namespacesSeen |= uri.has_value() || qName.has_value();
        if (name == abortAt)
            parser.abortParsing();
    }
    void parserFoundCharacters(NSXMLParser&, const std::string& text) override {
        ++textPieces;
        events.push_back("'" + text + "'");
    }
    void parserFoundCDATA(NSXMLParser&, const Data& block) override {
        events.push_back("cdata:" + std::string(block.begin(), block.end()));
    }
    void parserDidEndElementNamespaceURIQualifiedName(
        NSXMLParser&, const std::string& name, const std::optional<std::string>& uri,
        const std::optional<std::string>& qName) override {
        events.push_back("</" + name + ">");
        namespacesSeen |= uri.has_value() || qName.has_value();
    }
    void parserParseErrorOccurred(NSXMLParser& parser, const NSErrorPtr& error) override {
        events.push_back("error");
        errors.push_back(error);
        lineAtError = parser.lineNumber();
    }

    // The text events merged, as a reader that joins pieces sees them.
    std::vector<std::string> joinedText() const {
        std::vector<std::string> out;
        for (const std::string& e : events) {
            if (e.starts_with("'") && !out.empty() && out.back().starts_with("'"))
                out.back() = out.back().substr(0, out.back().size() - 1) + e.substr(1);
            else
                out.push_back(e);
        }
        return out;
    }

    std::vector<std::string> events;
    std::vector<NSErrorPtr> errors;
    int textPieces = 0;
    bool namespacesSeen = false;
    std::string abortAt;
    long lineAtError = 0;
};

Data bytes(const std::string& text) {
    return Data(text.begin(), text.end());
}

struct ParseRun {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<NSXMLParser> parser;
    bool ok = false;
};

ParseRun parse(const std::string& document, const std::string& abortAt = "") {
    ParseRun run;
    run.recorder->abortAt = abortAt;
    run.parser = NSXMLParser::initWithData(bytes(document));
    run.parser->setDelegate(run.recorder);
    run.ok = run.parser->parse();
    return run;
}

}  // namespace

TEST(NSXMLParserTest, ReportsWellFormedDocumentsInDocumentOrder) {
    struct Case {
        const char* name;
        std::string document;
        std::vector<std::string> events;  // text pieces joined
    };
    const std::vector<Case> cases = {
        {"nested with attributes",
         R"(<?xml version="1.0"?><a list="true" x='1'><b>hi</b><c/></a>)",
         {"<a list=true x=1>", "<b>", "'hi'", "</b>", "<c>", "</c>", "</a>"}},
        {"entities and character references are replaced",
         "<a>x &amp; y &lt;z&gt; &#233;&#x41;</a>",
         {"<a>",
          "'x & y <z> \xc3\xa9"
          "A'",
          "</a>"}},
        {"white space between tags is reported as text",
         "<a>\n  <b/>\n</a>",
         {"<a>", "'\n  '", "<b>", "</b>", "'\n'", "</a>"}},
        {"CDATA goes to its own message",
         "<a>1<![CDATA[<raw> & ]]>2</a>",
         {"<a>", "'1'", "cdata:<raw> & ", "'2'", "</a>"}},
        {"comments and processing instructions send nothing",
         "<a><!-- c --><?pi x?>t</a>",
         {"<a>", "'t'", "</a>"}},
        {"names are kept as written, prefixes included",
         R"(<kn:r xmlns:kn="urn:x"><kn:u/></kn:r>)",
         {"<kn:r xmlns:kn=urn:x>", "<kn:u>", "</kn:u>", "</kn:r>"}},
        {"UTF-8 text", "<a>\xe2\x82\xac 5</a>", {"<a>", "'\xe2\x82\xac 5'", "</a>"}},
    };
    for (const Case& c : cases) {
        ParseRun run = parse(c.document);
        EXPECT_TRUE(run.ok) << c.name;
        EXPECT_EQ(run.parser->parserError(), nullptr) << c.name;
        EXPECT_EQ(run.recorder->joinedText(), c.events) << c.name;
        EXPECT_FALSE(run.recorder->namespacesSeen) << c.name;
    }
}

TEST(NSXMLParserTest, TextMayArriveInSeveralPieces) {
    // expat breaks text at entities and line ends; a reader must join the pieces.
    ParseRun run = parse("<a>one &amp; two\nthree</a>");
    ASSERT_TRUE(run.ok);
    EXPECT_GT(run.recorder->textPieces, 1);
    EXPECT_EQ(run.recorder->joinedText()[1], "'one & two\nthree'");
}

TEST(NSXMLParserTest, MalformedDocumentsEndWithOneErrorAtItsPlace) {
    struct Case {
        const char* name;
        std::string document;
        long code;
        long line;
        long column;
        std::vector<std::string> eventsBefore;
    };
    const std::vector<Case> cases = {
        {"mismatched end tag",
         "<a>\n  <b>x</c>\n</a>",
         NSXMLParserTagNameMismatchError,
         2,
         9,
         {"<a>", "'\n  '", "<b>", "'x'"}},
        {"document ends inside an element",
         "<a><b>",
         NSXMLParserPrematureDocumentEndError,
         1,
         7,
         {"<a>", "<b>"}},
        {"empty data", "", NSXMLParserEmptyDocumentError, 1, 1, {}},
        {"text only", "just text", NSXMLParserInternalError, 1, 1, {}},
        {"undefined entity", "<a>&nope;</a>", NSXMLParserInternalError, 1, 4, {"<a>"}},
        {"second root element", "<a/><b/>", NSXMLParserInternalError, 1, 5, {"<a>", "</a>"}},
    };
    for (const Case& c : cases) {
        ParseRun run = parse(c.document);
        EXPECT_FALSE(run.ok) << c.name;
        auto expected = c.eventsBefore;
        expected.push_back("error");
        EXPECT_EQ(run.recorder->joinedText(), expected) << c.name;
        ASSERT_EQ(run.recorder->errors.size(), 1u) << c.name;
        const NSErrorPtr& error = run.recorder->errors[0];
        EXPECT_EQ(error, run.parser->parserError()) << c.name;
        EXPECT_EQ(error->domain(), NSXMLParserErrorDomain) << c.name;
        EXPECT_EQ(error->code(), c.code) << c.name;
        EXPECT_EQ(error->userInfo()[NSXMLParserErrorLineNumberKey].integerValue(), c.line)
            << c.name;
        EXPECT_EQ(error->userInfo()[NSXMLParserErrorColumnKey].integerValue(), c.column) << c.name;
        EXPECT_EQ(run.parser->lineNumber(), c.line) << c.name;
        EXPECT_EQ(run.recorder->lineAtError, c.line) << c.name;
        EXPECT_NE(error->localizedDescription().find("line " + std::to_string(c.line)),
                  std::string::npos)
            << c.name << ": " << error->localizedDescription();
    }
}

TEST(NSXMLParserTest, AbortStopsTheMessagesAndReportsTheAbort) {
    ParseRun run = parse("<a><b>t</b><c/></a>", "b");
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.recorder->events, (std::vector<std::string>{"<a>", "<b>", "error"}));
    ASSERT_NE(run.parser->parserError(), nullptr);
    EXPECT_EQ(run.parser->parserError()->code(), NSXMLParserDelegateAbortedParseError);
}

TEST(NSXMLParserTest, ASecondParseSendsNothingAndRepeatsTheResult) {
    ParseRun run = parse("<a>x</a>");
    ASSERT_TRUE(run.ok);
    const size_t count = run.recorder->events.size();
    EXPECT_TRUE(run.parser->parse());
    EXPECT_EQ(run.recorder->events.size(), count);
}

TEST(NSXMLParserTest, ADelegateThatIsGoneHearsNothing) {
    auto parser = NSXMLParser::initWithData(bytes("<a>x</a>"));
    {
        auto recorder = std::make_shared<Recorder>();
        parser->setDelegate(recorder);
    }
    EXPECT_TRUE(parser->parse());
}

namespace {

// `depth` nested elements "<e>" around the text "x".
std::string nested(long depth) {
    std::string document;
    for (long i = 0; i < depth; ++i) document += "<e>";
    document += "x";
    for (long i = 0; i < depth; ++i) document += "</e>";
    return document;
}

const char* const kBillionLaughs =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE lolz [\n"
    " <!ENTITY lol \"lol\">\n"
    " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
    " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
    " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
    " <!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n"
    " <!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">\n"
    " <!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">\n"
    " <!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">\n"
    " <!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">\n"
    " <!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">\n"
    "]>\n"
    "<lolz>&lol9;</lolz>";

}  // namespace

TEST(NSXMLParserTest, HostileDocumentsAreRefusedBeforeTheyCostAnything) {
    struct Case {
        const char* name;
        std::string document;
        long code;  // 0: the document is read
        const char* reason;
        size_t startsBefore;  // start tags heard before the error, or in all
    };
    const std::vector<Case> cases = {
        {"billion laughs", kBillionLaughs, NSXMLParserEntityDeclarationRefusedError,
         "declares the entity \"lol\"", 0},
        {"external entity", "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>",
         NSXMLParserEntityIsExternalError, "declares the external entity \"x\"", 0},
        {"parameter entity", "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY y 'z'>\"> %p;]><r/>",
         NSXMLParserEntityDeclarationRefusedError, "declares the parameter entity \"p\"", 0},
        {"entity declared after an external subset",
         "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY q \"quoted\">]><r>&q;</r>",
         NSXMLParserEntityDeclarationRefusedError, "declares the entity \"q\"", 0},
        {"nesting at the limit", nested(NSXMLParserMaximumDepth), 0, "",
         static_cast<size_t>(NSXMLParserMaximumDepth)},
        {"nesting one past the limit", nested(NSXMLParserMaximumDepth + 1),
         NSXMLParserNestingTooDeepError, "nests elements deeper than 256 levels",
         static_cast<size_t>(NSXMLParserMaximumDepth)},
        {"nesting far past the limit", nested(100'000), NSXMLParserNestingTooDeepError,
         "nests elements deeper than 256 levels", static_cast<size_t>(NSXMLParserMaximumDepth)},
        // Only declarations are refused: a reference to an outside DTD is not loaded.
        {"external DTD named, not loaded", "<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r>a</r>", 0,
         "", 1},
    };
    for (const Case& c : cases) {
        ParseRun run = parse(c.document);
        const auto& events = run.recorder->events;
        const size_t starts = std::count_if(events.begin(), events.end(), [](const auto& e) {
            return e.starts_with("<") && !e.starts_with("</");
        });
        EXPECT_EQ(starts, c.startsBefore) << c.name;
        EXPECT_EQ(std::count(events.begin(), events.end(), "'lol'"), 0) << c.name;
        if (c.code == 0) {
            EXPECT_TRUE(run.ok) << c.name;
            EXPECT_TRUE(run.recorder->errors.empty()) << c.name;
            continue;
        }
        EXPECT_FALSE(run.ok) << c.name;
        ASSERT_EQ(run.recorder->errors.size(), 1u) << c.name;
        EXPECT_EQ(events.back(), "error") << c.name << ": nothing follows the error";
        const NSErrorPtr& error = run.recorder->errors[0];
        EXPECT_EQ(error, run.parser->parserError()) << c.name;
        EXPECT_EQ(error->domain(), NSXMLParserErrorDomain) << c.name;
        EXPECT_EQ(error->code(), c.code) << c.name;
        EXPECT_NE(error->localizedDescription().find(c.reason), std::string::npos)
            << c.name << ": " << error->localizedDescription();
        EXPECT_NE(error->localizedDescription().find("line "), std::string::npos) << c.name;
    }
}
