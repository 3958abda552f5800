// Response decoder: any bytes decode without a crash, and to the same result
// and the same reason for a failure however the reads cut them: all at
// once, in pieces of a size the first byte chooses, and in reads of the sizes
// the decoder itself asks for (as the download reads). Body bytes come only
// after an accepted head, never more than came in, and the decoder asks for
// at most 1024 bytes at a time.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "reports/http_response.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

struct Outcome {
  HttpResponseDecoder::Result result;
  bool headAccepted;
  HttpResponseDecoder::Framing framing;
  HttpResponseDecoder::Failure failure;
  std::string body;
  bool operator==(const Outcome&) const = default;
};

// piece 0: the reads the decoder asks for.
Outcome decode(const std::string& bytes, size_t piece) {
  HttpResponseDecoder decoder;
  std::string body;
  size_t at = 0;
  while (at < bytes.size() && decoder.result() == HttpResponseDecoder::Result::NeedMore) {
    const size_t wanted = decoder.nextReadSize();
    require(wanted >= 1 && wanted <= HttpResponseDecoder::kMaxReadBytes);
    const size_t n = std::min(piece == 0 ? wanted : piece, bytes.size() - at);
    const size_t before = body.size();
    decoder.feed(bytes.data() + at, n, body);
    require(body.size() - before <= n);
    if (!decoder.headAccepted()) require(body.empty());
    at += n;
  }
  if (decoder.result() == HttpResponseDecoder::Result::NeedMore) decoder.finish();
  require(decoder.result() != HttpResponseDecoder::Result::NeedMore);
  require(decoder.nextReadSize() == 0);
  if (decoder.result() == HttpResponseDecoder::Result::Done) require(decoder.headAccepted());
  // A reason exactly when it failed.
  require((decoder.result() == HttpResponseDecoder::Result::Failed) ==
          (decoder.failure() != HttpResponseDecoder::Failure::None));
  return {decoder.result(), decoder.headAccepted(), decoder.framing(), decoder.failure(), body};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0] % 16 + 1;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Outcome whole = decode(bytes, bytes.size() + 1);
  require(whole.body.size() <= bytes.size());
  require(decode(bytes, piece) == whole);
  require(decode(bytes, 0) == whole);
  return 0;
}
