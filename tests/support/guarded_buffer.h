// A caller's buffer of exactly the size it claims, between two runs of guard bytes: a write outside it
// changes a guard, which Intact() reports; under AddressSanitizer the guards are poisoned too, so a stray
// access stops the test where it happens.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_TEST_ASAN 1
#endif
#endif
#ifdef KESTREL_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fake {

class GuardedBuffer {
public:
    static constexpr std::size_t kGuard = 16;  // keeps the buffer 16-byte aligned
    explicit GuardedBuffer(std::size_t size, unsigned char fill = 0xCC)
        : size_(size), block_(new unsigned char[size + 2 * kGuard]) {
        std::memset(block_.get(), 0xA5, size + 2 * kGuard);
        std::memset(bytes(), fill, size);
        Poison(true);
    }
    ~GuardedBuffer() { Poison(false); }
    unsigned char* bytes() { return block_.get() + kGuard; }
    char* chars() { return reinterpret_cast<char*>(bytes()); }
    std::uint32_t* words() { return reinterpret_cast<std::uint32_t*>(bytes()); }
    std::int32_t* int32() { return reinterpret_cast<std::int32_t*>(bytes()); }
    bool Intact() {
        Poison(false);
        bool intact = true;
        for (std::size_t i = 0; i < kGuard; ++i) intact = intact && block_[i] == 0xA5 && bytes()[size_ + i] == 0xA5;
        Poison(true);
        return intact;
    }
    // The text up to its terminator; "<unterminated>" when none is inside.
    std::string Text() {
        const char* end = static_cast<const char*>(std::memchr(bytes(), 0, size_));
        return end ? std::string(chars(), static_cast<std::size_t>(end - chars())) : "<unterminated>";
    }

private:
    void Poison(bool on) {
#ifdef KESTREL_TEST_ASAN
        if (on) {
            ASAN_POISON_MEMORY_REGION(block_.get(), kGuard);
            ASAN_POISON_MEMORY_REGION(bytes() + size_, kGuard);
        } else {
            ASAN_UNPOISON_MEMORY_REGION(block_.get(), size_ + 2 * kGuard);
        }
#else
        (void)on;
#endif
    }
    std::size_t size_;
    std::unique_ptr<unsigned char[]> block_;
};

}  // namespace fake
