#!/usr/bin/env python3
"""Writes the SHA-256 hashes of the self-service page's inline style and script into its
Content-Security-Policy, which admits nothing else. Run it after editing either.

Usage: update-page-hashes.py [PAGE]   (default: www/default.htm of this source tree)"""
import base64
import hashlib
import pathlib
import re
import sys

PAGE = pathlib.Path(__file__).resolve().parents[2] / "www" / "default.htm"


def inline_hashes(html, tag):
    """The CSP source expressions of every inline element of the tag, in page order."""
    bodies = re.findall(r"<%s>(.*?)</%s>" % (tag, tag), html, flags=re.S)
    return ["'sha256-%s'" % base64.b64encode(hashlib.sha256(b.encode()).digest()).decode()
            for b in bodies]


def policy_with_hashes(html):
    """The page's text with its policy naming exactly the hashes of its style and script."""
    scripts = " ".join(inline_hashes(html, "script"))
    styles = " ".join(inline_hashes(html, "style"))
    html, n = re.subn(r"script-src [^;\"]*", "script-src " + scripts, html, count=1)
    html, m = re.subn(r"style-src [^;\"]*", "style-src " + styles, html, count=1)
    if n != 1 or m != 1:
        raise SystemExit("the page has no script-src or style-src in its policy")
    return html


def main():
    page = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else PAGE
    html = page.read_text(encoding="utf-8")
    updated = policy_with_hashes(html)
    if updated != html:
        page.write_text(updated, encoding="utf-8")
        print("updated", page)
    else:
        print("unchanged", page)


if __name__ == "__main__":
    main()
