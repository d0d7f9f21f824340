"""Reads a composed message with Python's own e-mail package, a reader independent of the
one that wrote it, and prints what a mail program would show: one line per field,
"name: value" with the value as a JSON string. The header fields come first, then for
every leaf part its type, charset, file name and content (text as text, anything else as
hexadecimal), then the defects the reader found ("defects: []" when none) and the encoded
words of the message header that do not stand on their own (a character split between two
words, which this reader would forgive but others do not; "split words: []" when none).
"""
import base64
import binascii
import email
import email.policy
import json
import quopri
import re
import sys

ENCODED_WORD = re.compile(rb"=\?([^?\s]+)\?([BbQq])\?([^?\s]*)\?=")


def split_words(raw):
    """The encoded words of the raw header that are no whole text in their character set."""
    header = raw.split(b"\n\n", 1)[0]
    bad = []
    for match in ENCODED_WORD.finditer(header):
        charset, kind, text = match.group(1).decode("ascii"), match.group(2).upper(), match.group(3)
        try:
            data = base64.b64decode(text, validate=True) if kind == b"B" else quopri.decodestring(text, header=True)
            data.decode(charset, errors="strict")
        except (binascii.Error, LookupError, UnicodeDecodeError):
            bad.append(match.group(0).decode("ascii"))
    return bad


def main():
    with open(sys.argv[1], "rb") as source:
        raw = source.read()
    message = email.message_from_bytes(raw, policy=email.policy.default)
    out = []
    for name in ("From", "To", "Cc", "Bcc", "Subject", "MIME-Version", "Content-Type"):
        value = message.get(name)
        out.append("%s: %s" % (name.lower(), json.dumps(None if value is None else str(value), ensure_ascii=False)))
    defects = []
    for part in message.walk():
        defects += [type(d).__name__ for d in part.defects]
        if part.is_multipart():
            continue
        out.append("part: " + json.dumps(part.get_content_type()))
        out.append("charset: " + json.dumps(part.get_param("charset")))
        out.append("filename: " + json.dumps(part.get_filename(), ensure_ascii=False))
        data = part.get_payload(decode=True)
        if part.get_content_maintype() == "text":
            out.append("text: " + json.dumps(data.decode(part.get_content_charset() or "ascii"), ensure_ascii=False))
        else:
            out.append("bytes: " + json.dumps(data.hex()))
    out.append("defects: " + json.dumps(defects))
    out.append("split words: " + json.dumps(split_words(raw)))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
