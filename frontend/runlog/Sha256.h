#pragma once

// SHA-256 from the system's own cryptography: libcrypto on Linux, CNG (bcrypt) on Windows.

#include <cstddef>
#include <memory>
#include <string>

namespace runlog {

class Sha256 {
public:
    // Throws std::runtime_error when the system offers no SHA-256.
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const void* data, std::size_t size);
    // The digest in lower-case hex; ends the computation.
    std::string hex();

private:
    struct State;
    std::unique_ptr<State> state_;
};

std::string hexText(const unsigned char* bytes, std::size_t size);

} // namespace runlog
