// Scanning a log that is a regular file: blocks read and scanned by two
// threads at once.
#ifndef KESTRANE_SCAN_FILE_SCAN_H_
#define KESTRANE_SCAN_FILE_SCAN_H_

#include <cstddef>

#include "scan/log_file.h"
#include "scan/scan.h"

/// The size of the blocks that ScanLogFile reads: small enough that a block,
/// and the entries found in it, stay in the cache of the core that scans it.
constexpr size_t kFileBlockSize = size_t{256} << 10;

/// As ScanBuildLog, for a log that is a regular file of bytes (not UTF-16):
/// each block is read by the thread that scans it, at its own place in the
/// file, and a block's lines are those that begin in it, so that blocks need
/// nothing from each other. `workers` more threads help.
bool ScanLogFile(LogFile& file, SourceFileList* list, size_t blockSize,
                 int workers);

/// The threads that help to scan `file`, besides the one that reads it: one
/// where there are two cores and the file is large, else none.
int HelpingThreads(const LogFile& file);

/// Whether the file begins with a UTF-16 byte-order mark.
bool StartsWithByteOrderMark(LogFile& file);

#endif  // KESTRANE_SCAN_FILE_SCAN_H_
