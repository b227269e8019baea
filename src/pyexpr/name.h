// Name: the text of an identifier. Up to 24 bytes are kept inline, so the
// names of ordinary expressions never allocate.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lumra::pyexpr {

class Name {
public:
    static constexpr size_t kInlineCapacity = 24;

    Name() noexcept = default;
    explicit Name(std::string_view text) { init(text); }
    Name(const char* text) : Name(std::string_view(text)) {}  // NOLINT(google-explicit-constructor)
    Name(const Name& other) { init(other.view()); }
    Name(Name&& other) noexcept { steal(other); }
    Name& operator=(const Name& other) {
        if (this != &other) {
            Name copy(other);
            release();
            steal(copy);
        }
        return *this;
    }
    Name& operator=(Name&& other) noexcept {
        if (this != &other) {
            release();
            steal(other);
        }
        return *this;
    }
    ~Name() { release(); }

    const char* data() const noexcept { return heap_ ? ptr_ : buf_; }
    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::string_view view() const noexcept { return std::string_view(data(), size_); }
    std::string str() const { return std::string(view()); }
    operator std::string_view() const noexcept { return view(); }  // NOLINT(google-explicit-constructor)

    friend bool operator==(const Name& a, const Name& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const Name& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const Name& a, const char* b) noexcept { return a.view() == std::string_view(b); }

private:
    void init(std::string_view text) {
        size_ = static_cast<uint32_t>(text.size());
        if (text.size() <= kInlineCapacity) {
            heap_ = false;
            if (!text.empty()) std::memcpy(buf_, text.data(), text.size());
        } else {
            ptr_ = new char[text.size()];
            std::memcpy(ptr_, text.data(), text.size());
            heap_ = true;
        }
    }
    void steal(Name& other) noexcept {
        std::memcpy(buf_, other.buf_, kInlineCapacity);
        size_ = other.size_;
        heap_ = other.heap_;
        other.size_ = 0;
        other.heap_ = false;
    }
    void release() noexcept {
        if (heap_) delete[] ptr_;
        heap_ = false;
        size_ = 0;
    }

    union {
        char buf_[kInlineCapacity] = {};
        char* ptr_;
    };
    uint32_t size_ = 0;
    bool heap_ = false;
};

}  // namespace lumra::pyexpr
