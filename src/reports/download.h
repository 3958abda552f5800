#pragma once
// The report download: one HTTP/1.1 GET into a file.
#include <string>

bool startNetwork();
void stopNetwork();
// Nonzero on success, 0 on failure. A null url gives 0.
int downloadToFile(const char* url, const std::string& fileName);
