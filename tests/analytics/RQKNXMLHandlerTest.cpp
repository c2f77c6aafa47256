#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/RQKNConnect/RQKNXMLHandler.h"
#include "platform/Foundation/NSXMLParser.h"

namespace {

std::shared_ptr<RQKNXMLHandler> read(const std::string& document) {
    auto handler = RQKNXMLHandler::init();
    auto parser = NSXMLParser::initWithData(Data(document.begin(), document.end()));
    parser->setDelegate(handler);
    parser->parse();
    return handler;
}

Value dict(std::vector<std::pair<std::string, Value>> entries) {
    ValueDictionary d;
    for (auto& [key, value] : entries) d.set(key, value);
    return Value(std::move(d));
}

Value array(ValueArray items) {
    return Value(std::move(items));
}

}  // namespace

TEST(RQKNXMLHandlerTest, MapsElementsToValues) {
    struct Case {
        const char* name;
        std::string document;
        std::string rootName;
        Value root;
    };
    const std::vector<Case> cases = {
        {"a list of rows with child elements",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<kql_query_response list=\"true\">\n"
         "  <user>\n    <sex>male</sex>\n    <birthday>March 3, 1975</birthday>\n  </user>\n"
         "  <user>\n    <sex>female</sex>\n    <birthday/>\n  </user>\n"
         "</kql_query_response>\n",
         "kql_query_response",
         array({dict({{"sex", "male"}, {"birthday", "March 3, 1975"}}),
                dict({{"sex", "female"}, {"birthday", Value()}})})},
        {"a list of text members gives single-entry dictionaries",
         "<ids list=\"true\"><id>1</id><uid>2</uid></ids>", "ids",
         array({dict({{"id", "1"}}), dict({{"uid", "2"}})})},
        {"an empty list", "<r list=\"true\"></r>", "r", array({})},
        {"an empty list written with one tag", "<r list=\"true\"/>", "r", array({})},
        {"list in another case is no list", "<r list=\"True\"></r>", "r", Value()},
        {"another attribute is ignored", "<r other=\"true\"><a>1</a></r>", "r", dict({{"a", "1"}})},
        {"empty element with two tags", "<r><a></a></r>", "r", dict({{"a", Value()}})},
        {"empty element with one tag", "<r><a/></r>", "r", dict({{"a", Value()}})},
        {"blank element", "<r><a> \n\t \r\n</a></r>", "r", dict({{"a", Value()}})},
        {"no-break space is white space too", "<r><a>\xC2\xA0\xE2\x80\x83</a></r>", "r",
         dict({{"a", Value()}})},
        {"text keeps its white space", "<r><a>\n  word\n</a></r>", "r",
         dict({{"a", "\n  word\n"}})},
        {"a repeated name keeps the last value", "<r><a>1</a><b>x</b><a>2</a></r>", "r",
         dict({{"a", "2"}, {"b", "x"}})},
        {"a root holding only text", "<r> hello </r>", "r", " hello "},
        {"an empty root", "<r/>", "r", Value()},
        {"text then a child: the child is dropped", "<r><a>text<b>child</b></a></r>", "r",
         dict({{"a", "text"}})},
        {"a child then text: the text wins", "<r><a><b>child</b>text</a></r>", "r",
         dict({{"a", "text"}})},
        {"text in a list member, then a child: dropped", "<r list=\"true\"><m>t<c>x</c></m></r>",
         "r", array({dict({{"m", "t"}})})},
        {"nested lists", "<r list=\"true\"><g list=\"true\"><i>1</i></g><g list=\"true\"/></r>",
         "r", array({array({dict({{"i", "1"}})}), array({})})},
        {"entities and text pieces are joined", "<r><a>x &amp; y\nz</a></r>", "r",
         dict({{"a", "x & y\nz"}})},
        {"CDATA and comments add nothing", "<r><a><![CDATA[raw]]><!-- c --></a></r>", "r",
         dict({{"a", Value()}})},
        {"indentation between elements is never a value", "<r>\n  <a>1</a>\n  \n</r>", "r",
         dict({{"a", "1"}})},
    };
    for (const Case& c : cases) {
        auto handler = read(c.document);
        EXPECT_EQ(handler->parseError(), nullptr) << c.name;
        EXPECT_EQ(handler->rootName(), c.rootName) << c.name;
        EXPECT_EQ(handler->rootObject(), c.root)
            << c.name << ": " << handler->rootObject().description();
    }
}

TEST(RQKNXMLHandlerTest, AnErrorAnswerKeepsItsEntries) {
    auto handler = read(
        "<error_response><error_code>102</error_code><error_msg>Session key invalid</error_msg>"
        "<request_args list=\"true\"><arg><key>method</key><value>kinnet.kql.query</value></arg>"
        "</request_args></error_response>");
    EXPECT_EQ(handler->rootName(), "error_response");
    EXPECT_EQ(handler->rootObject(),
              dict({{"error_code", "102"},
                    {"error_msg", "Session key invalid"},
                    {"request_args",
                     array({dict({{"key", "method"}, {"value", "kinnet.kql.query"}})})}}));
}

TEST(RQKNXMLHandlerTest, AMalformedDocumentLeavesTheErrorAndNoRoot) {
    struct Case {
        const char* name;
        std::string document;
    };
    const std::vector<Case> cases = {
        {"unclosed", "<r><a>1</a>"},
        {"mismatched", "<r><a>1</b></r>"},
        {"not XML", "Service Unavailable"},
        {"empty", ""},
        // Hostile answers, refused by the parser before they cost anything.
        {"entity expansion",
         "<!DOCTYPE r [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
         "<r><k>&b;</k></r>"},
        {"nested too deep",
         [] {
             std::string deep;
             for (int i = 0; i < 10'000; ++i) deep += "<k>";
             deep += "1";
             for (int i = 0; i < 10'000; ++i) deep += "</k>";
             return deep;
         }()},
    };
    for (const Case& c : cases) {
        auto handler = read(c.document);
        ASSERT_NE(handler->parseError(), nullptr) << c.name;
        EXPECT_EQ(handler->parseError()->domain(), NSXMLParserErrorDomain) << c.name;
        EXPECT_FALSE(handler->rootName().has_value()) << c.name;
        EXPECT_TRUE(handler->rootObject().isNull()) << c.name;
    }
    // A root that has ended stays, even when junk follows it.
    auto handler = read("<r>1</r><junk/>");
    EXPECT_NE(handler->parseError(), nullptr);
    EXPECT_EQ(handler->rootName(), "r");
    EXPECT_EQ(handler->rootObject(), Value("1"));
}
