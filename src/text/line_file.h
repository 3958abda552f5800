#pragma once
// Line-oriented text files under small file numbers. Every file of the tool
// is read and written through these operations, always with file number 0.
// Paths are Windows-1250 byte texts; the platform layer converts them.
#include <cstdint>
#include <string>

bool openForRead(int fileNumber, const std::string& path);
bool openForUpdate(int fileNumber, const std::string& path);
bool createFile(int fileNumber, const std::string& path);
std::string readLine(int fileNumber);
bool atEnd(int fileNumber);
void writeLine(int fileNumber, const std::string& text);
int64_t fileLength(int fileNumber);
void seekTo(int fileNumber, int64_t position);
void closeFile(int fileNumber);
// Closes every open file number, storing pending bytes (used at shut-down).
void closeAllFiles();
// The process's working directory with exactly one trailing separator, or
// the empty text when it cannot be determined.
std::string workingDirectoryPath();
