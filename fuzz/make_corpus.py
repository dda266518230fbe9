#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the cases of the unit tests, laid out as each target reads its input (see the
comment at the top of each fuzz_*.cpp). Run it again after changing a layout; it replaces the
seed files it owns and leaves other files alone.
"""

import base64
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def b(text):
    return text.encode("latin-1") if isinstance(text, str) else bytes(text)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(b(data))


def response(status, headers, body=""):
    return status + "\r\n" + "".join(h + "\r\n" for h in headers) + "\r\n" + body


# ---- status line and header block ---------------------------------------------------------------

def ntlm_type2():
    target = "DOMAIN".encode("utf-16-le")
    info = struct.pack("<HH", 2, len(target)) + target + struct.pack("<HH", 0, 0)
    header_len = 48
    msg = b"NTLMSSP\0" + struct.pack("<I", 2)
    msg += struct.pack("<HHI", len(target), len(target), header_len)
    msg += struct.pack("<I", 0x00828205)
    msg += b"\x01\x23\x45\x67\x89\xab\xcd\xef" + b"\0" * 8
    msg += struct.pack("<HHI", len(info), len(info), header_len + len(target))
    return base64.b64encode(msg + target + info).decode()


TURN = "\n=TURN=\n"
DIGEST_401 = response(
    "HTTP/1.1 401 Unauthorized",
    ['WWW-Authenticate: Basic realm="fallback"',
     'WWW-Authenticate: Digest realm="testrealm@host.com", qop="auth,auth-int", '
     'nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41"',
     "Content-Length: 0"])
OK = response("HTTP/1.1 200 OK", ["Content-Length: 6"], "secret")

HEADS = {
    "ok": response("HTTP/1.1 200 OK", ["Content-Length: 5", "Content-Type: text/html; charset=utf-8",
                                       "Date: Sun, 06 Nov 1994 08:49:37 GMT",
                                       "Last-Modified: Sunday, 06-Nov-94 08:49:37 GMT",
                                       "Expires: 0", "Server: nginx", "ETag: \"x\""], "hello"),
    "http10_keepalive": response("HTTP/1.0 200 OK", ["Connection: keep-alive", "Content-Length: 2"], "ok"),
    "folded": response("HTTP/1.1 200 OK", ["X-Long: a,", " b,", "\tc", "Content-Length: 0"]),
    "range": response("HTTP/1.1 206 Partial Content", ["Content-Range: bytes 0-4/10",
                                                       "Content-Length: 5", "Accept-Ranges: bytes"], "01234"),
    "cookies": response("HTTP/1.1 200 OK", ["Set-Cookie: session=abc123; Path=/; HttpOnly",
                                            "Set-Cookie: lang=da; Path=/app; Expires=Wed, 09 Jun 2021 10:18:14 GMT",
                                            "Set-Cookie: a=1; Domain=.kavora.test; Max-Age=60; Secure",
                                            "Content-Length: 0"]),
    "interim": "HTTP/1.1 100 Continue\r\nSet-Cookie: a=1\r\n\r\n" + response(
        "HTTP/1.1 200 OK", ["Set-Cookie: b=2", "Content-Length: 2"], "ok"),
    "not_found": response("HTTP/1.1 404 Not Found", ["Content-Type: text/html", "Content-Length: 4"], "page"),
    "bad_status": "FOO BAR\r\nX: 1\r\n\r\nabc",
    "no_reason": "HTTP/1.1 204\r\n\r\n",
    "lf_only": "HTTP/1.1 200 OK\nContent-Length: 1\n\nx",
    "chunked": response("HTTP/1.1 200 OK", ["Transfer-Encoding: chunked"], "5\r\nhello\r\n0\r\nX-T: t\r\n\r\n"),
    "switching": response("HTTP/1.1 101 Switching Protocols", ["Upgrade: x"], "raw"),
    "redirect": response("HTTP/1.1 302 Found", ["Location: /hop1", "Content-Length: 0"]) + TURN +
    response("HTTP/1.1 301 Moved Permanently", ["Location: http://other.test:8080/x?y=1#z",
                                                "Content-Length: 0"]) + TURN + OK,
    "redirect_https": response("HTTP/1.1 307 Temporary Redirect", ["Location: https://h/x", "Content-Length: 0"]),
    "redirect_no_location": response("HTTP/1.1 302 Found", ["Content-Length: 0"]),
    "digest": DIGEST_401 + TURN + OK,
    "basic": response("HTTP/1.1 401 Unauthorized", ['WWW-Authenticate: Basic realm="k"',
                                                   "Content-Length: 6"], "denied") + TURN + OK,
    "ntlm": response("HTTP/1.1 401 Unauthorized", ["WWW-Authenticate: NTLM", "WWW-Authenticate: Negotiate",
                                                  "Content-Length: 0"]) + TURN +
    response("HTTP/1.1 401 Unauthorized", ["WWW-Authenticate: NTLM " + ntlm_type2(),
                                           "Content-Length: 0"]) + TURN + OK,
    "proxy_auth": response("HTTP/1.1 407 Proxy Authentication Required",
                           ['Proxy-Authenticate: Basic realm="p"', "Proxy-Connection: close",
                            "Content-Length: 0"]),
    "meta_html": response("HTTP/1.1 200 OK", ["Content-Type: text/html", "Content-Length: 73"],
                          '<html><head><meta http-equiv="Set-Cookie" content="m=1"><meta charset=utf-8>'),
    "negative_length": response("HTTP/1.1 200 OK", ["Content-Length: -5"], "abc"),
    "huge_length": response("HTTP/1.1 200 OK", ["Content-Length: 99999999999999999999"], "abc"),
    "close": response("HTTP/1.1 200 OK", ["Connection: close"], "until close"),
    "truncated": "HTTP/1.1 200 OK\r\nContent-Le",
}


def seeds_status_and_headers():
    for name, script in HEADS.items():
        # Read one head (flags 0) and the whole exchange (flags 1, with redirects and credentials),
        # each in whole receives and in small ones.
        write("fuzz_status_and_headers", name + "-head", b"\x00\x00" + b(script))
        write("fuzz_status_and_headers", name + "-head-unlimited-split", b"\x20\x02\x01\x02" + b(script))
        write("fuzz_status_and_headers", name + "-exchange", b"\x07\x00" + b(script))
        write("fuzz_status_and_headers", name + "-exchange-split", b"\x07\x03\x01\x05\x02" + b(script))


# ---- body framing -------------------------------------------------------------------------------

def body_seed(name, framing, flags, status_index, length, sizes, extra, body):
    data = bytes([framing, flags, status_index]) + struct.pack("<H", length)
    data += bytes([len(sizes)]) + bytes(sizes) + b(extra) + b"\0" + b(body)
    write("fuzz_body_framing", name, data)


def multipart(boundary="KAVORA-PART"):
    return ("--%s\r\nContent-Type: text/plain\r\nContent-Range: bytes 0-4/10\r\n\r\n01234\r\n"
            "--%s\r\nContent-Type: text/plain\r\nContent-Range: bytes 5-9/10\r\n\r\n56789\r\n"
            "--%s--\r\n" % (boundary, boundary, boundary))


def seeds_body_framing():
    chunked = "5\r\nhello\r\n0\r\n\r\n"
    with_trailers = ("1A;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n  5  \r\n01234\r\n"
                     "0\r\nContent-Length: 99\r\nX-Trailer: t\r\n\r\n")
    html = '<html><head><meta http-equiv="Content-Type" content="text/html; charset=windows-1252"></head><body>x</body></html>'
    xml = '<?xml version="1.0" encoding="ISO-8859-1"?><r/>'
    body_seed("chunked", 0, 0, 0, 0, [], "", chunked)
    body_seed("chunked-split", 0, 0, 0, 0, [1], "", chunked)
    body_seed("chunked-trailers", 0, 0, 0, 0, [3, 7], "", with_trailers)
    body_seed("chunked-hook", 0, 8, 0, 0, [2], "", with_trailers)
    body_seed("chunked-discard", 0, 4, 0, 0, [], "", with_trailers)
    body_seed("chunked-broken", 0, 0, 0, 0, [], "", "5\r\nhello\r\n8\r\nabc")
    body_seed("chunked-bad-size", 0, 0, 0, 0, [], "", "80000000\r\nx\r\n0\r\n\r\n")
    body_seed("chunked-html", 0, 1, 0, 0, [5], "", "%x\r\n%s\r\n0\r\n\r\n" % (len(html), html))
    body_seed("length", 1, 0, 0, 5, [], "", "hello")
    body_seed("length-short", 1, 0, 0, 10, [], "", "hello")
    body_seed("length-xml", 1, 2, 0, len(xml), [4], "", xml)
    body_seed("length-html", 1, 1, 0, len(html), [], "", html)
    body_seed("length-keepalive", 1, 64, 0, 5, [], "", "hello")
    body_seed("length-head", 1, 16, 0, 5, [], "", "")
    body_seed("length-404", 1, 0, 4, 4, [], "", "page")
    body_seed("length-304", 1, 0, 3, 4, [], "", "")
    body_seed("length-500-raises", 1, 0, 0x85, 5, [], "Content-Type: text/plain; charset=utf-8", "fejl\xc3")
    body_seed("chunked-404-raises", 0, 1, 0x84, 0, [2], "", "%x\r\n%s\r\n0\r\n\r\n" % (len(html), html))
    body_seed("multipart", 2, 0, 1, 0, [], "", multipart())
    body_seed("multipart-split", 2, 0, 1, 0, [1, 2, 3], "", multipart())
    body_seed("multipart-unterminated", 2, 0, 1, 0, [], "", "--KAVORA-PART\r\nabc")
    body_seed("close", 3, 0, 0, 0, [], "", "body until the server closes")
    body_seed("close-html", 3, 1, 0, 0, [7], "", html)
    body_seed("close-silent", 3, 32, 0, 0, [], "", "abc")
    body_seed("chunked-and-length", 4, 0, 0, 3, [], "", chunked)
    body_seed("extra-headers", 5, 0, 0, 0, [],
              "Content-Type: multipart/mixed; boundary=\"q b\"\nContent-Length: 3", "--q b--\r\n")
    body_seed("extra-gzip", 5, 0, 0, 0, [], "Content-Encoding: gzip\nTransfer-Encoding: gzip, chunked",
              chunked)


# ---- URLs ---------------------------------------------------------------------------------------

URLS = [
    "http://h/Downloads/Instal34/a.exe", "http://h", "http://h/", "http://h?q=1",
    "http://h/d/f.exe?a=b#top", "http://h/d/f.exe#top?x=1", "http://[::1]:8080/x",
    "http://[fe80::1]/d/", "HTTP://h:80/x", "http:\\\\h\\d\\e\\f.exe?x=a\\b", "http://h\\d\\f.exe#a\\b",
    "http://u:p@h/x", "http://u@h/x", "http://:p@h/x", "http://u:p@q@h:81/", "ftp://h:21/pub/f.zip",
    "b.exe", "../c.exe", "d/f.exe?q#b", "/d\\f.exe?x=1:2\\3", "", "://", "http://[]:1/",
    "http://[::1/x", "http://h:/x", "https://h:443/x", "gopher://h:70/x", "http://h:080/x",
    "http:///d/b.exe", "x://@@@:::", "\xff\xfe:\\\x80", "http://h/a b/%41\xc3\xa9.exe",
    "http://h:99999/x", "http://h:-1/x", "http://h/*",
]
MERGES = [("/d/", "b.exe"), ("/d/", "../c.exe"), ("/d/", "/x"), ("/d", "b.exe"),
          ("/a//b///", "c//d"), ("/", "../../x"), ("/d/", "../.."), ("/d/", "e/"), ("/d/", ""),
          ("/d/", "e/.."), ("/d/e/", ".."), ("/", ""), ("/d/", "..x"), ("/d.e/", "f..g.exe")]


def seeds_uri():
    for i, url in enumerate(URLS):
        write("fuzz_uri", "url%02d" % i, b"\x03" + b(url))
        write("fuzz_uri", "client%02d" % i, bytes([0x04 | ((i % 4) << 3)]) + b(url))
    for i, (base, path) in enumerate(MERGES):
        write("fuzz_uri", "merge%02d" % i, b"\x00" + b(base) + b"\n" + b(path))
    relatives = [("http://h/d/a.exe", "b.exe", "../c.exe"), ("http://[::1]:8080/d/", "/x?y", "z"),
                 ("https://h/x", "y"), ("http://h:81/a/", "//other/x", "http://h2/"),
                 ("ftp://h/x", "y")]
    for i, urls in enumerate(relatives):
        write("fuzz_uri", "relative%02d" % i, b"\x07" + b("\n".join(urls)))


# ---- header store -------------------------------------------------------------------------------

BLOCKS = [
    "Content-Type: text/html; charset=\"utf-8\"\r\nX: y\r\n",
    "Set-Cookie: a=1\r\nX-B: x\r\n Set-Cookie: not-a-header\r\nset-cookie: b=2;\r\n path=/\r\n",
    'WWW-Authenticate: Basic realm="r"\r\nX: y\r\nWWW-Authenticate: Digest realm="d"\r\n',
    "Content-Disposition: attachment; filename=\"a \\\"b\\\".exe\"; size=3\r\n",
    "no separator\r\n: empty name\r\nName:\r\nName:   value   \r\n",
    "Folded: a,\r\n\tb,\r\n c\r\n",
    "a=1\nb=2\nc",
]
HEADER_OPS = [("Content-Type", "charset", "iso-8859-1"), ("Set-Cookie", "path", "/x"),
              ("WWW-Authenticate", "realm", "new realm"), ("Content-Disposition", "filename", "x;y\"z"),
              ("Name", "p", ""), ("Folded", "", "v"), ("a", "b", "c")]


def seeds_header_list():
    for i, block in enumerate(BLOCKS):
        name, param, value = HEADER_OPS[i % len(HEADER_OPS)]
        for settings in (0x0F, 0x03, 0x1D, 0x2C):
            write("fuzz_header_list", "block%d-%02x" % (i, settings),
                  bytes([settings, 20]) + b(name + "\n" + param + "\n" + value + "\n" + block))


# ---- HTML meta tags and XML -----------------------------------------------------------------------

PAGES = [
    '<html><head><meta http-equiv="Content-Type" content="text/html; charset=windows-1252"></head>',
    '<html><head><meta charset="utf-8"></head>', "<html><head><meta charset=utf-8></head>",
    "<html><head><meta charset = 'koi8-r'>",
    '<HTML><HEAD><META HTTP-EQUIV="Refresh" CONTENT="5; URL=/x"></HEAD>',
    "<html><head><meta http-equiv=Content-Language content=da>",
    "<html><head><meta http-equiv='X-Note' content='say \"hi\"'>",
    '<html><head><meta name="x" http-equiv="Expires" lang="da" content="0">',
    '<html><head><meta http-equiv="X-Flag"><meta http-equiv="X-B" content="1">',
    '<?xml version="1.0"?><!DOCTYPE html><html><head><meta http-equiv="X-A" content="1">',
    '<html><head><!-- <meta http-equiv="X-A" content="1"> --><meta http-equiv="X-B" content="2">',
    '<html><head><script>"<meta http-equiv=X-A content=1>"</script><meta http-equiv="X-B" content="2">',
    '<html><title>t</title><head><meta http-equiv="X-A" content="1">',
    '<html><head><title><meta http-equiv="X-A" content="1"></title><meta http-equiv="X-B" content="2">',
    '<html><head><meta http-equiv="X-Place" content="K\xf8benhavn">',
    '<html><body><meta http-equiv="X-A" content="1">', "<html><head><meta http-equiv=\"X-A",
    "<html><head><meta charset='utf-8", "<html><head><!-- <meta", "<html><head><", "<html><head><meta",
    "<html><head><meta http-equiv=", "<html>\0<head>\0<meta\0http-equiv=X-A\0content=\"1\">",
    "just text, no tags > at all", "",
]


def seeds_meta_scan():
    for i, page in enumerate(PAGES):
        write("fuzz_meta_scan", "page%02d" % i, bytes([i % 4]) + b(page))


def units(text, width, order):
    out = b""
    for ch in text.encode("latin-1"):
        unit = [0] * width
        unit[order] = ch
        out += bytes(unit)
    return out


def seeds_xml_sniff():
    prolog = "<?xml version='1.0' encoding='ISO-8859-5'?><r/>"
    docs = [b"\x00\x00\xFE\xFF\x00\x00\x00<", b"\x00\x00\xFF\xFE\x00\x00<\x00", b"\xFF\xFE\x00\x00<\x00\x00\x00",
            b"\xFE\xFF\x00\x00\x00<\x00\x00", b"\xFE\xFF\x00<", b"\xFF\xFE<\x00", b"\xEF\xBB\xBF<?xml version=\"1.0\"?>",
            units(prolog, 4, 3), units(prolog, 4, 2), units(prolog, 4, 0), units(prolog, 4, 1),
            units(prolog, 2, 1), units(prolog, 2, 0),
            b"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", b"<?xml version='1.0' encoding='windows-1252'?>",
            b"<?xml version = '1.0'  encoding =  \"utf-8\" ?>", b"\x4C\x6F\xA7\x94\x93\x40\xA5\x85",
            b"<?xml version=\"1.0\" encoding=\"", b"<?xm", b"", b"\xFE"]
    for i, doc in enumerate(docs):
        write("fuzz_xml_sniff", "doc%02d" % i, bytes([0 if i % 3 else 2 | (0x80 if i % 2 else 0)]) + doc)


# ---- text decoding ------------------------------------------------------------------------------

def seeds_decode_text():
    cases = [("utf-8", 65001, "fejl \xc3\xa6 \xf0\x9f\x98\x80 \xed\xa0\x80 \xc0\xaf"),
             ("iso-8859-1", 28591, "fejl \xe6"), ("windows-1252", 1252, "\x80\x9f\xe6"),
             ("utf-16le", 1200, "a\x00\x3d\xd8\x00\xde\x00\xd8"), ("utf-16be", 1201, "\x00a\xd8\x3d\xde\x00\xdc"),
             ("utf-7", 65000, "Hi Mom -+Jjo--! +ZeVnLIqe- +-"), ("us-ascii", 20127, "abc\x80"),
             ("shift_jis", 932, "\x82\xa0\x82\xa2\x81"), ("koi8-r", 20866, "\xf0\xd2\xc9"),
             ("euc-jp", 51932, "\xa4\xa2\xa4"), ("gb2312", 936, "\xc4\xe3\xba"), ("big5", 950, "\xa4\x40"),
             ("iso-2022-jp", 50220, "\x1b$B$\"\x1b(B"), ("ibm037", 37, "\xc8\x85\x93"),
             ("  Latin1 ", 28591, "\xff"), ("", 0, "bytes"), ("no-such-charset", 12345, "\xff\xfe")]
    for i, (name, page, text) in enumerate(cases):
        write("fuzz_decode_text", "named%02d" % i, b"\x00\x00" + struct.pack("<i", page) + b(name + "\n" + text))
        write("fuzz_decode_text", "table%02d" % i, bytes([1, i * 7 % 256]) + struct.pack("<i", page) +
              b"\n" + b(text))


# ---- dates --------------------------------------------------------------------------------------

DATES = [
    "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
    "Wed Nov 16 08:49:37 1994", "  \tsUN, 06 nOV 1994 08:49:37 gmt \r\n", "06 Nov 1994 08:49:37 GMT",
    "Nov  6 08:49:37 1994", "Sun,06 Nov 1994 08:49:37 GMT", "Sun, 6 Nov 1994 8:49:37 GMT",
    "Sunday, 06-November-94 08:49:37 GMT", "Thursday, 01-Jan-37 00:00:00 GMT",
    "Friday, 31-Dec-99 23:59:59 GMT", "Sun, 06 Nov 94 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 UTC",
    "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 09:49:37 +0100", "Sat, 05 Nov 1994 23:49:37 -0900",
    "Thu, 29 Feb 2024 12:00:00 GMT", "Sat, 31 Dec 2016 23:59:60 GMT", "Fri, 31 Dec 9999 23:59:59 GMT",
    "Mon, 01 Jan 0001 00:00:00 GMT", "Thu, 05 May 1960 05:05:05 GMT", "garbage", "Sun, 30 Feb 1994 08:49:37 GMT",
    "Sun, 99999999999999999999 Nov 1994 99999999999999999999:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 +0160",
    "Sun, 06 Nov 1994 08:49:37 GMT GMT", "Sun Nov  6 08:49:37", "S\xc3\xbcn, 06 Nov 1994 08:49:37 GMT",
    "Sun, 06 Nov 1994 08:49:37 GMT\0x", "", "   ", "Sun, 31 Mar 2024 01:30:00 GMT",
]
VALUES = [0.0, 34644.3677893518, -693593.0, 2958465.999, 1e300, -1e300, float("inf"), float("nan"),
          45657.5, -0.5]


def seeds_http_date():
    for i, text in enumerate(DATES):
        value = VALUES[i % len(VALUES)]
        write("fuzz_http_date", "date%02d" % i, bytes([i % 4]) + struct.pack("<d", value) + b(text))


# ---- date pictures ------------------------------------------------------------------------------

PICTURES = [
    ("dd-MM-yyyy", "dd/MM/yyyy", "-", "dddd d MMMM yyyy"), ("MM-dd-yyyy", "", "", ""),
    ("d-M-yyyy", "d.M.yyyy", ".", ""), ("yyyy-MM-dd", "yyyy-MM-dd", "-", ""), ("dd-MM-yy", "", "", ""),
    ("dd'-'MM'-'yyyy", "dd/MM/yyyy", "/", ""), ("DD-mm-YYYY", "", "", ""), ("ddddd", "ddddd dddddd", "/", "dddddd ddddd"),
    ("dddddd", "", "", ""), ("ddd, d. MMM yyyy", "gg yyyy/MM/dd", "/", "yyyy'\xe5r' d. MMMM"),
    ("'unclosed", "\"q\"", "", ""), ("%d-%m-%Y", "", "", ""), ("%Y\xe5\xb9\xb4%m\xe6\x9c\x88%d\xe6\x97\xa5", "", "", ""),
    ("%a %e. %B %Y %H:%M", "", "", ""), ("%d%d%%%Ey %Od", "", "", ""), ("", "", "", ""),
]
SEED_DATES = [(2024, 12, 31), (2024, 3, 5), (1, 1, 1), (9999, 12, 31), (0, 0, 0), (-1, 13, 32),
              (2147483647, 2147483647, 2147483647), (-2147483648, -2147483648, -2147483648)]


def seeds_date_picture():
    for i, (picture, short, sep, long_) in enumerate(PICTURES):
        year, month, day = SEED_DATES[i % len(SEED_DATES)]
        data = struct.pack("<iii", year, month, day) + bytes([i % 8])
        data += b(picture + "\n" + short + "\n" + sep + "\n" + long_)
        if i % 3 == 0:
            data += b"\n" + b("\n".join("M%d" % m for m in range(1, 13)))
        write("fuzz_date_picture", "picture%02d" % i, data)


def main():
    seeds_status_and_headers()
    seeds_body_framing()
    seeds_uri()
    seeds_header_list()
    seeds_meta_scan()
    seeds_xml_sniff()
    seeds_decode_text()
    seeds_http_date()
    seeds_date_picture()
    return 0


if __name__ == "__main__":
    sys.exit(main())
