// Bytes read by range: a file on disk read where it is asked (files.h), or
// bytes already in memory. Programs are parsed through this, so that only
// their headers and tables are read, never the library appended to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace txlib {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies the `count` bytes at `offset`, which lie inside Size(). Failure
    // (status 2) when they cannot be read.
    virtual void Read(uint64_t offset, void* out, size_t count) const = 0;
    // The name failures give (a path).
    virtual const std::string& Name() const = 0;
};

// Bytes held by the caller, which outlive this view.
class MemoryBytes : public ByteSource {
  public:
    MemoryBytes(const std::vector<uint8_t>& bytes, std::string name)
        : data_(bytes.data()), size_(bytes.size()), name_(std::move(name)) {}
    MemoryBytes(const uint8_t* data, size_t size, std::string name)
        : data_(data), size_(size), name_(std::move(name)) {}
    uint64_t Size() const override { return size_; }
    void Read(uint64_t offset, void* out, size_t count) const override;
    const std::string& Name() const override { return name_; }

  private:
    const uint8_t* data_;
    size_t size_;
    std::string name_;
};

// Bytes to store at a file offset.
struct Patch {
    uint64_t offset;
    std::vector<uint8_t> bytes;
};

// A 32-bit little-endian value as a patch.
Patch U32Patch(uint64_t offset, uint32_t value);

// Lays the part of `patch` that falls among the `size` bytes at `data`,
// which hold the file's bytes from `offset` on.
void ApplyPatch(const Patch& patch, uint64_t offset, uint8_t* data, size_t size);

} // namespace txlib
