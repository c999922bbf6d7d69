#pragma once

#include "utility/Error.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <optional>

namespace koru::utility {

// Limits of a blocking fetch. The defaults are the program's; tests shorten them.
struct HttpFetchOptions {
    std::chrono::milliseconds connectTimeout{4000};
    // Longest wait for the next bytes of the answer (not for the whole of it).
    std::chrono::milliseconds readTimeout{4000};
    std::size_t maxBytes = 4 * 1024 * 1024; // of the body as delivered
};

// What a fetch gives: the body as text, or why there is none.
struct HttpText {
    std::optional<QString> text;
    std::optional<Error> error;
    bool ok() const { return text.has_value(); }
};

enum class HttpFetchError : qint64 {
    InvalidAddress = 1, // no host, or not a URL at all
    UnsupportedScheme,  // anything but http
    ConnectionFailed,   // refused, unreachable, unknown host, connect timeout
    NoAnswer,           // no complete answer in time, or the connection broke off
    HttpStatus,         // any status outside 200..299, redirects included
    TooLarge,           // the body passed maxBytes
    NotText,            // the body is not UTF-8
    Failed,             // anything else the transfer reports
};

inline constexpr const char* kHttpFetchErrorDomain = "KORU.HttpFetch";

// One blocking GET of an http address, without cache, redirects or compression, with the
// User-Agent "<bundle name> <bundle version>". Blocks for at most the timeouts (per wait).
HttpText fetchHttpText(const QUrl& url, const HttpFetchOptions& options = {});

} // namespace koru::utility
