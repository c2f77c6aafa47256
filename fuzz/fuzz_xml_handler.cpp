// An XML answer of the REST API, read through the expat parser into values by the handler.
#include <cstddef>
#include <cstdint>

#include "analytics/RQKNConnect/RQKNXMLHandler.h"
#include "platform/Foundation/NSXMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto handler = RQKNXMLHandler::init();
    auto parser = NSXMLParser::initWithData(Data(data, data + size));
    parser->setDelegate(handler);
    bool wellFormed = parser->parse();
    // A second parse answers the first result and sends nothing.
    if (parser->parse() != wellFormed)
        __builtin_trap();
    (void)handler->rootObject().deepCopy();
    return 0;
}
