#include "PlatformCocoaError.h"

NSString* const NSOSStatusErrorDomain = NSString::createWithUTF8String("NSOSStatusErrorDomain");

NSError* NSError::errorWithDomain(NSString* domain, NSInteger code) {
    if (!domain) return nullptr;
    domain->retain();
    auto* error = new NSError(domain, code);
    error->autorelease();
    return error;
}

NSError::~NSError() {
    _domain->release();
}
