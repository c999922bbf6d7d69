#pragma once

#include <cstdint>
#include <exception>

// The one exception a client's Process may throw: the engine hands its code to its error
// handler and goes on with the next client.
class ZOInputClientException : public std::exception {
public:
    explicit ZOInputClientException(std::uint64_t code) : m_code(code) {}
    std::uint64_t Code() const { return m_code; }
    const char* what() const noexcept override { return "ZOInputClientException"; }

private:
    std::uint64_t m_code;
};
