// Foundation's error object: a domain and a code. The platform's OSErr and OSStatus results
// travel in the NSOSStatusErrorDomain domain with the result as the code, so that a caller can
// hand the code back to code that speaks the platform's statuses.
#pragma once

#include "PlatformCocoaString.h"

#include <cstdint>

using NSInteger = intptr_t;

// The domain of the platform's OSErr and OSStatus results; it lives as long as the process.
extern NSString* const NSOSStatusErrorDomain;

class NSError final : public NSObject {
  public:
    // Autoreleased; null for a null domain.
    static NSError* errorWithDomain(NSString* domain, NSInteger code);

    // The domain belongs to the error.
    NSString* domain() const { return _domain; }
    NSInteger code() const { return _code; }

  private:
    NSError(NSString* domain, NSInteger code) : _domain(domain), _code(code) {}
    ~NSError() override;

    NSString* _domain;
    NSInteger _code;
};
