// A NUL-terminated text built piece by piece in memory from the allocation
// seam, handed to the caller as a plain block.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/alloc.h"
#include "extops/codecs.h"

namespace dirext::extops {

class Text {
public:
    // Room for `capacity` bytes, terminator included.
    bool reserve(std::size_t capacity)
    {
        if (capacity <= capacity_) return true;
        MallocPtr<char> grown(static_cast<char *>(dirext::alloc(capacity)));
        if (!grown) return false;
        if (buffer_) std::memcpy(grown.get(), buffer_.get(), length_);
        grown.get()[length_] = '\0';
        buffer_ = std::move(grown);
        capacity_ = capacity;
        return true;
    }

    bool append(std::string_view piece)
    {
        std::size_t needed = length_ + piece.size() + 1;
        if (needed > capacity_ && !reserve(needed > 2 * capacity_ ? needed : 2 * capacity_)) return false;
        std::memcpy(buffer_.get() + length_, piece.data(), piece.size());
        length_ += piece.size();
        buffer_.get()[length_] = '\0';
        return true;
    }

    bool append_int(int value, char separator)
    {
        char digits[16];
        int n = std::snprintf(digits, sizeof digits, "%d%c", value, separator);
        return append(std::string_view(digits, static_cast<std::size_t>(n)));
    }

    std::size_t size() const { return length_; }
    MallocPtr<char> release() { return std::move(buffer_); }

private:
    MallocPtr<char> buffer_;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace dirext::extops
