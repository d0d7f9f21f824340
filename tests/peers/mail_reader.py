"""Reads a composed message with Python's own e-mail package, a reader independent of the
one that wrote it, and prints what a mail program would show: one line per field,
"name: value" with the value as a JSON string. The header fields come first, then for
every leaf part its type, charset, file name and content (text as text, anything else as
hexadecimal), then the defects the reader found ("defects: []" when none).
"""
import email
import email.policy
import json
import sys


def main():
    with open(sys.argv[1], "rb") as source:
        message = email.message_from_binary_file(source, policy=email.policy.default)
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
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
