// A caller's buffer of exactly the size it claims to have, on the heap,
// between two runs of guard bytes. A write outside the buffer changes a
// guard, which Intact() reports in every build; under AddressSanitizer the
// guards are also poisoned, so any read or write of them stops the test at
// the faulty access.
#pragma once

#include <cstddef>
#include <cstdint>
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
    static constexpr unsigned char kGuardByte = 0xA5;

    explicit GuardedBuffer(std::size_t size, unsigned char fill = 0xCC)
        : size_(size), fill_(fill), block_(new unsigned char[size + 2 * kGuard]) {
        std::memset(block_.get(), kGuardByte, kGuard);
        std::memset(block_.get() + kGuard, fill, size);
        std::memset(block_.get() + kGuard + size, kGuardByte, kGuard);
        Poison(true);
    }
    ~GuardedBuffer() { Poison(false); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    unsigned char* bytes() { return block_.get() + kGuard; }
    const unsigned char* bytes() const { return block_.get() + kGuard; }
    char* chars() { return reinterpret_cast<char*>(bytes()); }
    std::uint32_t* words() { return reinterpret_cast<std::uint32_t*>(bytes()); }
    std::int32_t* int32() { return reinterpret_cast<std::int32_t*>(bytes()); }
    std::size_t size() const { return size_; }

    // No byte outside the buffer was changed.
    bool Intact() {
        Poison(false);
        bool intact = true;
        for (std::size_t i = 0; i < kGuard; ++i)
            intact = intact && block_[i] == kGuardByte && block_[kGuard + size_ + i] == kGuardByte;
        Poison(true);
        return intact;
    }
    // No byte inside the buffer was changed either.
    bool Untouched() {
        for (std::size_t i = 0; i < size_; ++i)
            if (bytes()[i] != fill_) return false;
        return Intact();
    }
    // The text in the buffer, up to its terminator; no terminator within
    // the buffer gives "<unterminated>".
    std::string Text() const {
        const void* end = std::memchr(bytes(), 0, size_);
        if (!end) return "<unterminated>";
        return std::string(chars_const(), static_cast<const char*>(end));
    }
    std::uint32_t Word(std::size_t i) const {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes() + 4 * i, 4);
        return word;
    }

private:
    const char* chars_const() const { return reinterpret_cast<const char*>(bytes()); }
    void Poison(bool on) {
#ifdef KESTREL_TEST_ASAN
        if (on) {
            ASAN_POISON_MEMORY_REGION(block_.get(), kGuard);
            ASAN_POISON_MEMORY_REGION(block_.get() + kGuard + size_, kGuard);
        } else {
            ASAN_UNPOISON_MEMORY_REGION(block_.get(), size_ + 2 * kGuard);
        }
#else
        (void)on;
#endif
    }

    std::size_t size_;
    unsigned char fill_;
    std::unique_ptr<unsigned char[]> block_;
};

}  // namespace fake
