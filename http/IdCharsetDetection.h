#pragma once

#include <string>

#include "http/Forward.h"
#include "net/Forward.h"

namespace kv::http {

// Learning the charset of a stored body: the meta tags of an HTML page and the byte-order mark
// or encoding declaration of an XML document. Both read the whole stream again and accept any
// bytes: malformed markup never fails, and nothing is read outside the stream.

// Scans the stream (from its start, one character per byte) for the meta tags in the head of an
// HTML page. Each meta http-equiv tag appends the line name + ": " + content to headers (when
// headers is given); a meta charset tag sets charset. charset is emptied first and stays empty
// when no tag names one; the scan starts only after an HTML tag and stops at a BODY tag or a
// TITLE met before the HEAD. Text found is returned as UTF-8 (each byte taken as U+0000..U+00FF).
// The stream's position is left at its end. A null stream gives no result.
void ScanMetaHttpEquiv(kv::net::TIdStream* stream, TIdHeaderList* headers, std::string& charset);

// The charset an XML document declares: that of its byte-order mark, else the "encoding" value
// of its prolog, else "UTF-8". The marks of the UCS-4 orders 2143 and 3412 give an empty name.
// The stream's position is restored, moved past the byte-order mark when one was found (but
// never past the end of the stream). A null stream gives "UTF-8".
std::string SniffXmlCharset(kv::net::TIdStream* stream);

}  // namespace kv::http
