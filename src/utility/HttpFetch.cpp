#include "utility/HttpFetch.h"

#include "utility/VEString.h"

#include <QStringDecoder>

#include <httplib.h>

#include <charconv>
#include <cstdint>
#include <string>

namespace koru::utility {

namespace {

HttpText failure(HttpFetchError code, const QString& description) {
    return {std::nullopt,
            Error{QString::fromLatin1(kHttpFetchErrorDomain), qint64(code), description, {}}};
}

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(double(ms.count()) / 1000.0, 'g', 3);
}

} // namespace

HttpText fetchHttpText(const QUrl& url, const HttpFetchOptions& options) {
    const QString shown = url.toDisplayString();
    if (!url.isValid() || url.isRelative())
        return failure(HttpFetchError::InvalidAddress,
                       QStringLiteral("\"%1\" is not a web address.").arg(shown));
    if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return failure(
            HttpFetchError::UnsupportedScheme,
            QStringLiteral("Only http addresses can be fetched, not \"%1\".").arg(shown));
    if (url.host().isEmpty())
        return failure(HttpFetchError::InvalidAddress,
                       QStringLiteral("The address \"%1\" names no server.").arg(shown));

    const QString host = url.host();
    const int port = url.port(80);
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    std::string target = url.path(QUrl::FullyEncoded).toStdString();
    if (target.empty())
        target = "/";
    if (url.hasQuery())
        target += "?" + url.query(QUrl::FullyEncoded).toStdString();

    httplib::Client client(host.toStdString(), port);
    client.set_connection_timeout(options.connectTimeout);
    client.set_read_timeout(options.readTimeout);
    client.set_write_timeout(options.readTimeout);
    client.set_follow_location(false);
    client.set_keep_alive(false);
    client.set_decompress(false); // no Accept-Encoding is sent, so none should come

    const httplib::Headers headers{
        {"User-Agent",
         (VEString::stringWithBundleName() + QLatin1Char(' ') + VEString::stringWithBundleVersion())
             .toStdString()},
        {"Cache-Control", "no-cache"},
    };

    int status = 0;
    QString reason;
    bool tooLarge = false;
    std::string body;
    const auto result = client.Get(
        target, headers,
        [&](const httplib::Response& response) {
            status = response.status;
            reason = QString::fromStdString(response.reason).trimmed();
            if (status < 200 || status > 299)
                return false; // the body of a failure is not wanted
            if (response.has_header("Content-Length")) {
                const std::string length = response.get_header_value("Content-Length");
                std::uint64_t announced = 0;
                const auto [end, fault] =
                    std::from_chars(length.data(), length.data() + length.size(), announced);
                if (fault == std::errc::result_out_of_range ||
                    (fault == std::errc() && announced > options.maxBytes)) {
                    tooLarge = true;
                    return false;
                }
            }
            return true;
        },
        [&](const char* data, std::size_t length) {
            if (length > options.maxBytes - body.size()) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        });

    if (status != 0 && (status < 200 || status > 299))
        return failure(HttpFetchError::HttpStatus,
                       QStringLiteral("The server at %1 answered %2%3.")
                           .arg(where)
                           .arg(status)
                           .arg(reason.isEmpty() ? QString() : QLatin1Char(' ') + reason));
    if (tooLarge)
        return failure(HttpFetchError::TooLarge,
                       QStringLiteral("The answer from %1 is larger than %2 bytes.")
                           .arg(where)
                           .arg(qulonglong(options.maxBytes)));
    if (!result) {
        switch (result.error()) {
        case httplib::Error::Connection:
        case httplib::Error::ConnectionTimeout:
            return failure(HttpFetchError::ConnectionFailed,
                           QStringLiteral("Could not connect to %1 within %2 s.")
                               .arg(where, seconds(options.connectTimeout)));
        case httplib::Error::Read:
        case httplib::Error::Write:
            return failure(HttpFetchError::NoAnswer,
                           QStringLiteral("No complete answer from %1: nothing came for %2 s, "
                                          "or the connection broke off.")
                               .arg(where, seconds(options.readTimeout)));
        default:
            return failure(
                HttpFetchError::Failed,
                QStringLiteral("Fetching from %1 failed: %2.")
                    .arg(where, QString::fromStdString(httplib::to_string(result.error()))));
        }
    }

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(body.data(), qsizetype(body.size())));
    if (decoder.hasError())
        return failure(HttpFetchError::NotText,
                       QStringLiteral("The answer from %1 is not UTF-8 text.").arg(where));
    return {std::move(text), std::nullopt};
}

} // namespace koru::utility
