#pragma once
// Date, zone, host-name and path helpers shared by the HTTP client and the
// transport. Free functions without state; the only failure is the zone
// query of LocalOffsetFromUtc.

#include <array>
#include <string>
#include <string_view>

#include "framework/date_time.h"
#include "http/exceptions.h"

namespace ah {

// Index 1..7 = "Sun".."Sat" (the numbering of DayOfWeek); index 0 is empty.
extern const std::array<std::string_view, 8> DayNames;
// Index 1..12 = "Jan".."Dec"; index 0 is empty.
extern const std::array<std::string_view, 13> MonthNames;

// 1..7 for a three-letter day name in any case, 0 otherwise.
int DayNameToNumber(std::string_view text);
// 1..12 for a three-letter month name in any case, 0 otherwise.
int MonthNameToNumber(std::string_view text);

// Reads the date and time at the start of text in any of the three shapes
// servers send (RFC 1123, RFC 850 with a two-digit year, asctime) and
// leaves in text what follows, normally the zone. Returns 0 for empty or
// unparsable text; never raises.
TDateTime ParseInternetDate(std::string& text);
// The local date-time of an internet date with its zone. A zone named by
// letters ("GMT", "EST") counts as UTC. Passes on the failure of
// LocalOffsetFromUtc.
TDateTime InternetDateToLocal(std::string_view text);
// "+hhmm" / "-hhmm" as a signed day fraction; 0 for anything else.
TDateTime ParseZoneOffset(std::string_view text);
// Local time minus UTC now, as a signed day fraction (positive east of
// Greenwich). Raises EIdFailedToRetreiveTimeZoneInfo when the system cannot
// say.
TDateTime LocalOffsetFromUtc();
// "GMT" for a zero offset when use_gmt; otherwise "+hhmm" / "-hhmm".
std::string FormatZoneOffset(TDateTime offset, bool use_gmt);
// "Tue, 8 Dec 2026 05:01:02 +0100": value written as given (a local time)
// with the local zone as suffix.
std::string FormatInternetDate(TDateTime value, bool use_gmt);

// True when the first four dot-separated pieces of the trimmed text are
// integers 0..255; text after a fourth dot is not examined.
bool IsIPAddress(std::string_view text);
// False when text begins with "." or is an IP address.
bool IsHostNameText(std::string_view text);
// The host from its first "." on (srv.zone.lan gives .zone.lan); the whole
// host when it has no dot.
std::string HostDomainPart(std::string_view host);
// The path that a request for path means while the current one is
// base_path: "." segments stay, ".." drops one segment, runs of the
// delimiter collapse; a path that starts with the delimiter stands as is.
std::string MergeRelativePath(std::string_view base_path, std::string_view path,
                              std::string_view delimiter = "/");

}  // namespace ah
