#include "platform/Foundation/NSError.h"

#include <cstring>

#include "platform/Foundation/NSString.h"

std::shared_ptr<NSError> NSError::make(std::string domain, long code, std::string description) {
    ValueDictionary info;
    info.set(NSLocalizedDescriptionKey, std::move(description));
    return std::make_shared<NSError>(std::move(domain), code, Value(std::move(info)));
}

std::shared_ptr<NSError> NSError::posix(int errnum, const std::string& what) {
    return make(NSPOSIXErrorDomain, errnum, what + ": " + std::strerror(errnum));
}

std::string NSError::localizedDescription() const {
    Value d = userInfo_[NSLocalizedDescriptionKey];
    if (d.isString())
        return d.string();
    return stringWithFormat("The operation couldn't be completed. (%s error %ld.)", domain_.c_str(),
                            code_);
}

std::string NSError::description() const {
    return stringWithFormat("Error Domain=%s Code=%ld \"%s\" UserInfo=%s", domain_.c_str(), code_,
                            localizedDescription().c_str(), userInfo_.description().c_str());
}
