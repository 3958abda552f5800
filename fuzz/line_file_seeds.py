#!/usr/bin/env python3
"""Writes the seeds of line_file_fuzz (fuzz/corpus/line_file_fuzz/): scripts of
line-file operations in the target's input format, see fuzz/line_file_fuzz.cpp.

    python3 fuzz/line_file_seeds.py
"""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "line_file_fuzz")
READ, AT_END, WRITE, SEEK, LENGTH, REOPEN, CLOSE, NO_FILE = range(8)
# Read sizes, by index: whole, 1, 3, 7, 61, 2048, 4095 bytes, whole.
# First open of file 0: 0 openForRead, 1 openForUpdate, 2 createFile, 3 none.
# REOPEN argument: 0 openForRead, 1 openForUpdate, 2 createFile.
# SEEK argument: 0-7 that position, 8-14 that far before the end (14: the end), 15 two behind it.
# WRITE argument: that many script bytes follow as the text; 15: one byte follows, repeated 4100 times
# (the first two times in an input; later ones take 15 script bytes).


def op(kind, number=0, argument=0):
    return bytes([kind | number << 3 | argument << 4])


def seed(name, read_size, first_open, script, contents):
    assert len(script) < 256
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(bytes([read_size | first_open << 3, len(script)]) + script + contents)


def main():
    os.makedirs(HERE, exist_ok=True)
    seed("read_whole", 0, 0, b"", b"1\r\n0\r\n0\r\nAnna\n3\r0\x00tail\r\n\r\n")
    seed("read_by_single_bytes", 1, 0, op(READ) + op(AT_END) + op(READ) + op(LENGTH) + op(READ), b"a\r\nb\rc\nd\r")
    seed("update_in_the_middle", 3, 1,
         op(READ) + op(WRITE, 0, 2) + b"XY" + op(READ) + op(AT_END) + op(SEEK, 0, 0) + op(READ) + op(LENGTH)
         + op(CLOSE), b"first\r\nsecond\r\nthird\r\n")
    seed("write_behind_the_end", 2, 1,
         op(SEEK, 0, 15) + op(WRITE, 0, 3) + b"end" + op(LENGTH) + op(SEEK, 0, 0) + op(READ) + op(READ) + op(AT_END),
         b"ab\r")
    seed("second_file_long_line", 0, 0,
         op(REOPEN, 1, 1) + op(WRITE, 1, 15) + b"q" + op(WRITE, 1, 1) + b"\r" + op(REOPEN, 1, 0) + op(READ, 1)
         + op(READ, 1) + op(AT_END, 1) + op(WRITE, 1, 2) + b"no" + op(CLOSE, 1) + op(READ) + op(NO_FILE, 0, 0)
         + op(NO_FILE, 0, 13), b"zero\n")
    seed("created_then_read_back", 5, 0,
         op(REOPEN, 0, 2) + op(WRITE, 0, 4) + b"abcd" + op(WRITE, 0, 0) + op(SEEK, 0, 0) + op(READ) + op(READ)
         + op(READ) + op(LENGTH), b"gone after createFile")
    seed("no_file_numbers", 0, 3, b"".join(op(NO_FILE, 0, a) for a in range(16)), b"x")
    # A line of more than two buffers: readLine makes room for the rest of the file at once.
    seed("long_line_crossing_blocks", 6, 1, op(READ) + op(WRITE, 0, 1) + b"w" + op(READ) + op(AT_END),
         b"y" * 8300 + b"\r\n" + b"z" * 10)


if __name__ == "__main__":
    main()
