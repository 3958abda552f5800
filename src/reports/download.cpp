#include "reports/download.h"

bool startNetwork() { return false; }
void stopNetwork() {}
int downloadToFile(const char*, const std::string&) { return 0; }
