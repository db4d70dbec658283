#include "PlatformCocoaError.h"

NSString* const NSOSStatusErrorDomain = NSString::createWithUTF8String("NSOSStatusErrorDomain");

NSError* NSError::errorWithDomain(NSString* domain, NSInteger code) {
    if (!domain) return nullptr;
    domain->retain();
    return autoreleased(new NSError(domain, code));
}

NSError::~NSError() {
    _domain->release();
}
