#pragma once
// Line-oriented text files under small file numbers. Every file of the tool
// is read and written through these operations, always with file number 0.
// Paths are Windows-1250 byte texts; the platform layer converts them.
// File numbers 0 to 7 can be open at once; any other number opens nothing.
// On a number that holds no file, readLine gives "", atEnd true, fileLength
// 0, readFailed false, and writeLine, seekTo and closeFile do nothing. Errors
// while a file is open are not reported by the operations themselves (a
// short write goes unnoticed, a failed read looks like the end); a reader
// that must tell a failed read from the end asks readFailed, and code that
// must know about writes uses platform/fs.h directly.
#include <cstdint>
#include <string>

bool openForRead(int fileNumber, const std::string& path);
bool openForUpdate(int fileNumber, const std::string& path);
bool createFile(int fileNumber, const std::string& path);
std::string readLine(int fileNumber);
bool atEnd(int fileNumber);
// True once a read of the file has failed since it was opened (the end of
// the file is no failure); readLine and atEnd give what they give at an end.
bool readFailed(int fileNumber);
void writeLine(int fileNumber, const std::string& text);
int64_t fileLength(int fileNumber);
void seekTo(int fileNumber, int64_t position);
void closeFile(int fileNumber);
// Closes every open file number, storing pending bytes (used at shut-down).
void closeAllFiles();
// The process's working directory with exactly one trailing separator, or
// the empty text when it cannot be determined.
std::string workingDirectoryPath();
