#pragma once
// The report download: one HTTP/1.1 GET into a file.
#include <string>

#include "reports/http_response.h"

bool startNetwork();
void stopNetwork();
// Nonzero on success, 0 on failure. A null url gives 0. When `why` is given,
// it tells why the response was refused or broke off; None when the download
// succeeded or failed anywhere else (link, connection, request, file).
int downloadToFile(const char* url, const std::string& fileName, HttpResponseDecoder::Failure* why = nullptr);
