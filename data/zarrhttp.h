#ifndef ZARRHTTP_H
#define ZARRHTTP_H

#include <QString>
#include <QtGlobal>

#include <memory>

#include "data/zarrstore.h"

// Why reading a Zarr image from an address failed. English texts, translated by the
// panel in the context "SlicesCtrl" like the other reasons.
namespace skipReason {
inline constexpr const char *httpUnreachable =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its server cannot be reached (no such host, or the connection was refused)");
inline constexpr const char *httpTimeout = QT_TRANSLATE_NOOP("SlicesCtrl", "its server did not answer in time");
inline constexpr const char *httpServerError =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its server kept failing (a server error or a cut connection, after retries)");
inline constexpr const char *httpRefused =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its server refused the request (an HTTP client error other than 404)");
inline constexpr const char *httpTooLarge =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its server sent more than a Zarr file of that kind may hold");
inline constexpr const char *httpRedirect =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its server redirected to another site or too many times");
inline constexpr const char *httpSecure =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its secure connection failed (certificate or TLS error)");
inline constexpr const char *httpStopped = QT_TRANSLATE_NOOP("SlicesCtrl", "its download was stopped");
}  // namespace skipReason

// Reading Zarr keys from an http:// or https:// address. All requests of the process
// run on one network thread that owns a QNetworkAccessManager; a caller on any other
// thread blocks on its own request only. At most `parallel` requests are in flight,
// the rest wait in turn. A request that fails for a reason that may pass (a network
// error, a server error 5xx, a body cut short) is tried again after a short pause
// that doubles each time, up to `attempts` tries in all; one that stalls longer
// than `timeoutMs` without a byte ends with its reason at once. A response longer
// than the caller's bound is cut off and a fault. Redirects are followed within the
// same site; no credentials are ever sent. The thread starts with the first request
// and ends with the application object; without one, every read is a fault.
namespace zarrhttp {

struct Settings {
    int parallel = 6;
    int attempts = 4;
    int timeoutMs = 30000;
    int firstPauseMs = 250;
};

Settings settings();
// For tests and tools: applies to requests started afterwards.
void setSettings(const Settings &s);

}  // namespace zarrhttp

// The store of an address (openZarrStore makes it for http:// and https://).
std::shared_ptr<ZarrStore> makeHttpStore(const QString &address);

#endif
