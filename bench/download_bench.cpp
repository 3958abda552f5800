// Latency of downloadToFile against curl on the same loopback page.
//
//   cmake --preset bench && cmake --build --preset bench && build/bench/download_bench
//
// For a 100 KB page served with a content-length, chunked, and until the
// connection ends, downloadToFile and `curl -s -o FILE` fetch the same URL in
// turn (alternating, one run) and the medians are compared. curl's time is
// given twice: the whole process, and curl's own time_total (the transfer
// without starting the process). The same over https, from the loopback TLS
// test server (tests/support/tls_server.py) with its test CA: trusted through
// SSL_CERT_FILE here and `--cacert` for curl; the TLS version and cipher that
// each client agreed are taken from the server's log. Then: how long after
// the server's close an until-close download returns, and how much the peak
// memory grows while a 100 MB body is downloaded.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "reports/download.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Runs curl on `url` into `file` (with `extra` arguments); its own
// time_total in ms goes to `curlOwnMs`.
bool runCurl(const std::string& url, const std::string& file, double& curlOwnMs,
             const std::vector<std::string>& extra = {}) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {"curl", "-s", "-o", file, "-w", "%{time_total}"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(url);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[64];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (spawned != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  curlOwnMs = std::atof(text.c_str()) * 1000;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string page(size_t size) {
  std::string body;
  for (int row = 0; body.size() < size; ++row)
    body += "<tr><td>wyprawa " + std::to_string(row) + "</td></tr>\n";
  body.resize(size);
  return body;
}

std::string chunked(const std::string& body, size_t chunk) {
  std::string out;
  for (size_t at = 0; at < body.size(); at += chunk) {
    const std::string piece = body.substr(at, chunk);
    char size[16];
    std::snprintf(size, sizeof size, "%zx", piece.size());
    out += std::string(size) + "\r\n" + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

bool compareUrlWithCurl(const char* name, const std::string& url, const std::string& body, const TempCwd& dir,
                        int rounds, const std::vector<std::string>& curlExtra = {}) {
  std::vector<double> ours, curlWhole, curlOwn;
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    const int ok = downloadToFile(url.c_str(), "temp.html");
    ours.push_back(millisecondsSince(start));
    if (!ok || dir.read("temp.html") != body) {
      std::printf("%s: downloadToFile failed\n", name);
      return false;
    }
    double own = 0;
    start = Clock::now();
    if (!runCurl(url, "curl.html", own, curlExtra) || dir.read("curl.html") != body) {
      std::printf("%s: curl failed\n", name);
      return false;
    }
    curlWhole.push_back(millisecondsSince(start));
    curlOwn.push_back(own);
  }
  std::printf(
      "%-21s downloadToFile %7.3f ms | curl process %7.3f ms, curl time_total %7.3f ms | ratio %.2fx / "
      "%.2fx\n",
      name, median(ours), median(curlWhole), median(curlOwn), median(ours) / median(curlWhole),
      median(ours) / median(curlOwn));
  return true;
}

bool compareWithCurl(const char* name, const CannedReply& reply, const std::string& body, const TempCwd& dir,
                     int rounds) {
  HttpTestServer server(reply);
  return compareUrlWithCurl(name, server.url("/raport.html"), body, dir, rounds);
}

// The loopback TLS test server, run for the benchmark in a folder of its own.
class TlsServerProcess {
 public:
  explicit TlsServerProcess(const std::string& dir) : dir_(dir) {
    const std::string log = dir_ + "/server.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> args = {"python3", WYPRAWY_TLS_SERVER_SCRIPT, dir_, "--lifetime", "600"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; pid_ != 0 && i < 600 && ports_.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::ifstream file(dir_ + "/ports.txt");
      std::string name;
      unsigned port = 0;
      while (file >> name >> port) ports_[name] = static_cast<uint16_t>(port);
    }
  }
  ~TlsServerProcess() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  TlsServerProcess(const TlsServerProcess&) = delete;
  TlsServerProcess& operator=(const TlsServerProcess&) = delete;

  bool running() const { return ports_.count("localhost") != 0; }
  std::string url(const std::string& path) const {
    return "https://localhost:" + std::to_string(ports_.at("localhost")) + path;
  }
  // The last "negotiated VERSION CIPHER" line of the server's log.
  std::string lastNegotiated() const {
    std::ifstream log(dir_ + "/server.log");
    std::string line, last;
    while (std::getline(log, line))
      if (line.rfind("negotiated ", 0) == 0) last = line.substr(11);
    return last;
  }

 private:
  std::string dir_;
  pid_t pid_ = 0;
  std::map<std::string, uint16_t> ports_;
};

std::string patternBody(size_t size) {
  const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ<td>\r\n";
  std::string body;
  while (body.size() < size) body += pattern;
  body.resize(size);
  return body;
}

bool compareHttpsWithCurl(const TempCwd& dir, int rounds) {
  const std::string serverDir = (dir.path() / "tls-server").string();
  std::filesystem::create_directories(serverDir);
  TlsServerProcess server(serverDir);
  if (!server.running()) {
    std::printf("https: the TLS test server did not start (see %s/server.log)\n", serverDir.c_str());
    return false;
  }
  // The test CA as the system's trust store of this process, as for any
  // OpenSSL program; curl is given the same CA.
  const std::string ca = serverDir + "/ca.pem";
  setenv("SSL_CERT_FILE", ca.c_str(), 1);
  const std::vector<std::string> curlCa = {"--cacert", ca};
  const size_t size = size_t{100} * 1024;
  const std::string body = patternBody(size);
  const std::string sized = "/big/" + std::to_string(size) + "/raport.html";
  const std::string untilClose = "/bigclose/" + std::to_string(size) + "/raport.html";
  // The first download of the process loads the trust store.
  auto start = Clock::now();
  const int first = downloadToFile(server.url(sized).c_str(), "temp.html");
  std::printf("https, first download of the process (trust store loaded): %.3f ms%s\n",
              millisecondsSince(start), first ? "" : " FAILED");
  const std::string ours = server.lastNegotiated();
  double own = 0;
  runCurl(server.url(sized), "curl.html", own, curlCa);
  std::printf("https negotiated: downloadToFile %s; curl %s\n", ours.c_str(),
              server.lastNegotiated().c_str());
  bool ok = first != 0;
  ok = compareUrlWithCurl("https content-length", server.url(sized), body, dir, rounds, curlCa) && ok;
  ok = compareUrlWithCurl("https until-close", server.url(untilClose), body, dir, rounds, curlCa) && ok;
  return ok;
}

}  // namespace

int main() {
  TempCwd dir;
  if (!startNetwork()) return 1;
  bool ok = true;

  // First, while the peak is still low: a 100 MB body through the 1 KB reads.
  {
    const uint64_t size = 100'000'000;
    HttpTestServer server(CannedReply()
                              .send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n")
                              .sendRepeated("0123456789abcdef", size));
    const long before = peakKilobytes();
    const auto start = Clock::now();
    const int result = downloadToFile(server.url("/big").c_str(), "big.html");
    const double ms = millisecondsSince(start);
    const long growth = peakKilobytes() - before;
    const auto fileSize = std::filesystem::file_size(dir.path() / "big.html");
    std::printf(
        "100 MB body: %s, %ju bytes in %.0f ms (%.0f MB/s), peak memory grew by %ld KB (limit 1024 KB)\n",
        result ? "ok" : "FAILED", static_cast<uintmax_t>(fileSize), ms, size / 1e3 / ms, growth);
    ok = ok && result && fileSize == size && growth < 1024;
    std::filesystem::remove(dir.path() / "big.html");
  }

  const std::string body = page(size_t{100} * 1024);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
  const int rounds = 41;
  std::printf("100 KB page, %d rounds each, medians:\n", rounds);
  ok = compareWithCurl("content-length",
                       head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body, body, dir,
                       rounds) &&
       ok;
  ok = compareWithCurl("chunked", head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(body, 4096), body,
                       dir, rounds) &&
       ok;
  ok = compareWithCurl("until-close", head + "\r\n" + body, body, dir, rounds) && ok;
  ok = compareHttpsWithCurl(dir, rounds) && ok;

  // How soon an until-close download ends after the server has closed.
  {
    HttpTestServer server(
        CannedReply().send(head + "\r\n" + body.substr(0, 50000)).pause(50).send(body.substr(50000)));
    std::vector<double> after;
    for (int i = 0; i < rounds; ++i) {
      const int result = downloadToFile(server.url("/").c_str(), "temp.html");
      const auto end = Clock::now();
      if (!result || !server.waitForConnections(static_cast<size_t>(i) + 1, std::chrono::seconds(5))) {
        ok = false;
        break;
      }
      after.push_back(std::chrono::duration<double, std::milli>(end - server.lastCloseTime()).count());
    }
    if (!after.empty()) {
      const double worst = *std::max_element(after.begin(), after.end());
      std::printf(
          "until-close: done %.3f ms after the server's close (median), %.3f ms at worst (limit 20 ms)\n",
          median(after), worst);
      ok = ok && worst < 20;
    }
  }

  stopNetwork();
  std::printf("%s\n", ok ? "all within limits" : "SOME LIMIT MISSED");
  return ok ? 0 : 1;
}
