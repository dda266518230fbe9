#!/usr/bin/env python3
"""Reference for the window's download path: http.client reads the whole body into memory, then
it is saved the way the window saves it (a temporary file beside the target, flushed to the disk,
renamed into place).

    pyref.py URL FILE
"""

import http.client
import os
import sys
import urllib.parse


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    url = urllib.parse.urlsplit(sys.argv[1])
    target = sys.argv[2]
    connection = http.client.HTTPConnection(url.hostname, url.port or 80, timeout=30)
    connection.request("GET", url.path or "/")
    response = connection.getresponse()
    body = response.read()
    connection.close()
    if response.status // 100 != 2:
        print(f"status {response.status}", file=sys.stderr)
        return 1
    temporary = os.path.join(os.path.dirname(target) or ".",
                             "." + os.path.basename(target) + f".pyref-{os.getpid()}")
    with open(temporary, "wb") as out:
        out.write(body)
        out.flush()
        os.fsync(out.fileno())
    os.rename(temporary, target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
