"""The peer of the archive decode benchmark: Python's email package parses the archive, decodes
every leaf part and writes it to a file, as the codec does.

usage: python_email_peer.py ARCHIVE OUTPUT_FOLDER
prints: seconds (parse + decode + write) and the peak memory above the start, in bytes
"""
import email
import os
import resource
import sys
import time


def peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def main():
    start_peak = peak_bytes()
    with open(sys.argv[1], "rb") as archive:
        data = archive.read()
    began = time.perf_counter()
    message = email.message_from_bytes(data)
    for number, part in enumerate(message.walk()):
        if part.is_multipart():
            continue
        with open(os.path.join(sys.argv[2], "part%d" % number), "wb") as out:
            out.write(part.get_payload(decode=True) or b"")
    print(time.perf_counter() - began, peak_bytes() - start_peak)


if __name__ == "__main__":
    main()
