// The JSON sidecar of melvane's summary: what the summary says, as numbers a
// pipeline can read, keyed as BIDS sidecars key them where BIDS has a key and
// in BIDS units (seconds, MHz, tesla, mm). Every value is read through the
// same table fields as the summary's lines.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/scan_header.hpp"

namespace melvane {

enum class Sidecar { none, plain, identifying };

// "E01234S005P23456.json" for the summary "E01234S005P23456.7".
std::string sidecarName(const std::string& summary_name);

// The sidecar's JSON text, one object and a newline. Patient name and id,
// requisition number, physicians and history only when `identifying`.
std::string sidecarText(const pfile::ScanHeader& header, bool identifying);

// Writes sidecarText to `out`. Returns 0, or the errno of the failed write
// (EIO when the library set none).
int writeSidecar(const pfile::ScanHeader& header, bool identifying, std::FILE* out);

// `bytes` as valid UTF-8: each byte that does not start a well-formed
// sequence becomes U+FFFD, and decoding goes on at the next byte.
std::string validUtf8(std::string_view bytes);

// "2014-08-08T10:06:00" from the stored date "08/08/114" (month/day/year
// since 1900) and time "10:06" (or "10:06:30"); empty when either is not such
// a date or time.
std::string isoDateTime(std::string_view date, std::string_view time);

}  // namespace melvane
