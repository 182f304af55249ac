#!/usr/bin/env python3
"""Writes a realistic supplier build log for benchmarks, the same for a seed.

  generate_log.py PROFILE SIZE_MB OUTPUT [--seed N]

Profiles:
  dense     a parallel full rebuild: about 45% of lines announce a C file
            ("12> Compiling ../../Source/App/main.c ..."), mixed with warnings
            and their excerpts, assembler lines, .cpp lines that do not count,
            backslash paths and CR LF line ends.
  sparse    a verbose link-heavy log: linker and archiver command lines of 10
            to 60 KB, with a compile line now and then.
  longline  one single compile line of SIZE_MB, its path built of directory
            steps with both kinds of separator.
  binary    one line of SIZE_MB without the word Compiling, as a binary file
            passed by mistake may be.
"""

import argparse
import random

MB = 1 << 20

DIRS = ["Source/App", "Source/Drivers", "Source/Comm/protocol_v2.1", "Source/Diag",
        "Middlewares/FreeRTOS/Source", "Middlewares/LwIP/src/core/ipv4",
        "Drivers/STM32F4xx_HAL_Driver/Src", "Drivers/CMSIS/Device/ST/STM32F4xx/Source"]
WORDS = ["uart", "can", "flash", "crc16", "timer", "gpio", "dma", "adc", "spi", "i2c",
         "tasks", "queue", "list", "heap_4", "port", "main", "app_init", "diag_log"]


def source_path(rng, extension):
    path = "%s/%s_%d%s" % (rng.choice(DIRS), rng.choice(WORDS), rng.randrange(400), extension)
    return path


def compile_line(rng, path):
    prefix = "%d> " % rng.randrange(1, 17) if rng.random() < 0.8 else ""
    if rng.random() < 0.3:
        return "%sCompiling ..\\..\\%s ...\r\n" % (prefix, path.replace("/", "\\"))
    return "%sCompiling ../../%s ...\r\n" % (prefix, path)


def dense_lines(rng):
    while True:
        r = rng.random()
        if r < 0.45:
            yield compile_line(rng, source_path(rng, ".c"))
        elif r < 0.55:
            path = source_path(rng, ".c")
            yield "..\\..\\%s:%d:%d: warning: comparison of integer expressions of different " \
                  "signedness: 'int' and 'uint32_t' [-Wsign-compare]\r\n" % (
                      path.replace("/", "\\"), rng.randrange(1, 900), rng.randrange(1, 80))
            yield "  %3d |   for (i = 0; i < count; i++)\r\n" % rng.randrange(1, 900)
            yield "      |                 ^\r\n"
        elif r < 0.65:
            yield compile_line(rng, source_path(rng, ".cpp"))
        elif r < 0.75:
            yield "%d> Assembling ../../Startup/startup_%d.s ...\r\n" % (
                rng.randrange(1, 17), rng.randrange(40))
        elif r < 0.85:
            yield "make[%d]: Entering directory 'D:/Jenkins/ws/fw/Build/Release/%s'\r\n" % (
                rng.randrange(1, 4), rng.choice(WORDS))
        else:
            yield "%d> %s.o -> lib%s.a\r\n" % (rng.randrange(1, 17), rng.choice(WORDS),
                                              rng.choice(WORDS))


def sparse_lines(rng):
    while True:
        r = rng.random()
        if r < 0.6:
            target = rng.randrange(10 * 1024, 60 * 1024)
            parts = ["arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb -Wl,--gc-sections -o app.elf"]
            length = len(parts[0])
            while length < target:
                obj = " Build/Release/obj/%s_%d.o" % (rng.choice(WORDS), rng.randrange(100000))
                parts.append(obj)
                length += len(obj)
            yield "".join(parts) + "\r\n"
        elif r < 0.8:
            yield compile_line(rng, source_path(rng, ".c"))
        else:
            yield "Linking app.elf ...\r\n"


def write_long_line(out, size):
    out.write(b"Compiling ../../")
    written, i = 0, 0
    chunk = []
    while written < size:
        step = b"Source\\Module_%d/sub.dir/" % i
        chunk.append(step)
        written += len(step)
        i += 1
        if len(chunk) == 10000:
            out.write(b"".join(chunk))
            chunk = []
    out.write(b"".join(chunk) + b"file.c ...\r\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("profile", choices=["dense", "sparse", "longline", "binary"])
    parser.add_argument("size_mb", type=float)
    parser.add_argument("output")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    size = int(args.size_mb * MB)
    rng = random.Random(args.seed)
    with open(args.output, "wb") as out:
        if args.profile == "longline":
            write_long_line(out, size)
            return
        if args.profile == "binary":
            chunk = bytes(c for c in range(256) if c not in b"\n\r\x1aC") * 4096
            for _ in range(size // len(chunk)):
                out.write(chunk)
            out.write(b"\n")
            return
        lines = dense_lines(rng) if args.profile == "dense" else sparse_lines(rng)
        written, batch = 0, []
        for line in lines:
            batch.append(line)
            written += len(line)
            if len(batch) == 20000 or written >= size:
                out.write("".join(batch).encode())
                batch = []
            if written >= size:
                break


if __name__ == "__main__":
    main()
