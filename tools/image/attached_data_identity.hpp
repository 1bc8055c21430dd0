#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// An image's identity: a 64-bit FNV-1a hash of its attached data, byte for byte as the image
// holds it. Equal attached data gives equal identities whatever the machine; a launcher can
// tell by it whether a tree was unpacked from its own data.
class AttachedDataIdentity {
  public:
    void add(const unsigned char* data, std::size_t size);
    std::uint64_t value() const { return state_; }

  private:
    std::uint64_t state_ = 0xcbf29ce484222325u;
};

// The identity as 16 lowercase hex digits, most significant first.
std::string identity_text(std::uint64_t identity);
