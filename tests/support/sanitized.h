// Whether this is an AddressSanitizer or ThreadSanitizer build: their allocator owns operator new and
// keeps freed memory back on purpose.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RACKHOST_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RACKHOST_SANITIZER_ALLOCATOR 1
#endif
#endif
