// An input file whose first read that reaches a given byte fails there, as
// a bad sector would; reads after it would succeed again.
#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/file.h"

class Failing_File : public platform::Read_Only_File {
public:
    explicit Failing_File(std::uint64_t failing_byte) : failing_byte_(failing_byte) {}

protected:
    ssize_t Read_Some(int fd, void* buffer, std::size_t length, std::uint64_t offset) const override {
        if (!failed_ && offset + length > failing_byte_) {
            // The bytes before the bad one come back first; the next read fails.
            if (offset < failing_byte_) length = static_cast<std::size_t>(failing_byte_ - offset);
            else {
                failed_ = true;
                errno = EIO;
                return -1;
            }
        }
        return Read_Only_File::Read_Some(fd, buffer, length, offset);
    }

private:
    std::uint64_t failing_byte_;
    mutable bool failed_ = false;
};
