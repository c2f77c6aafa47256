#include "platform/Foundation/NSException.h"

void NSAssertionFailure(const std::string& message) {
    throw NSException(NSInternalInconsistencyException, message);
}
