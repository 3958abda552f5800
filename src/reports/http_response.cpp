#include "reports/http_response.h"

#include <algorithm>
#include <limits>
#include <string_view>

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The blanks that "%x" skips in front of a number; CR is not among them here
// because it ends the size line.
bool isSizeBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f'; }

// A content-length value: blanks, an optional "+", then decimal digits; text
// after the digits is ignored. False for a negative number, no digits, or a
// number too large to count.
bool parseContentLength(std::string_view text, int64_t& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  int64_t result = 0;
  for (; !text.empty() && text.front() >= '0' && text.front() <= '9'; text.remove_prefix(1)) {
    const int digit = text.front() - '0';
    if (result > (std::numeric_limits<int64_t>::max() - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

}  // namespace

HttpResponseDecoder::Result HttpResponseDecoder::fail(Failure why) {
  failure_ = why;
  return result_ = Result::Failed;
}

HttpResponseDecoder::Result HttpResponseDecoder::done() { return result_ = Result::Done; }

size_t HttpResponseDecoder::nextReadSize() const {
  if (result_ != Result::NeedMore) return 0;
  const bool counted = framing_ == Framing::ContentLength || framing_ == Framing::UntilClose ||
                       (framing_ == Framing::Chunked && chunkStep_ == ChunkStep::Data);
  if (!counted) return kMaxReadBytes;
  // One more when the LF of a line end is still to come before the bytes.
  const int64_t wanted = remaining_ + (skipLineFeed_ ? 1 : 0);
  return static_cast<size_t>(std::min<int64_t>(wanted, static_cast<int64_t>(kMaxReadBytes)));
}

HttpResponseDecoder::Result HttpResponseDecoder::feed(const char* data, size_t size, std::string& body) {
  size_t at = 0;
  while (at < size && result_ == Result::NeedMore) {
    const std::string_view rest(data + at, size - at);
    if (skipLineFeed_) {
      at += skipLineFeed(rest.front());
      continue;
    }
    switch (framing_) {
      case Framing::Unknown:
        at += feedHead(rest);
        break;
      case Framing::ContentLength:
        at += feedContentLengthBody(rest, body);
        break;
      case Framing::Chunked:
        at += feedChunkedBody(rest, body);
        break;
      case Framing::UntilClose:
        at += feedUntilCloseBody(rest, body);
        break;
    }
  }
  return result_;
}

// After a CR: an LF right behind it is part of the line end; any other byte
// is left to the step that comes next.
size_t HttpResponseDecoder::skipLineFeed(char c) {
  skipLineFeed_ = false;
  if (c != '\n') return 0;
  if (framing_ == Framing::Unknown && ++headBytes_ > kMaxHeadBytes) fail(Failure::HeadTooLong);
  return 1;
}

// The status line and the header lines, up to and including a line's CR.
size_t HttpResponseDecoder::feedHead(std::string_view bytes) {
  const size_t cr = bytes.find('\r');
  const size_t taken = cr == std::string_view::npos ? bytes.size() : cr + 1;
  headBytes_ += taken;
  if (headBytes_ > kMaxHeadBytes) {
    fail(Failure::HeadTooLong);
    return taken;
  }
  line_.append(bytes.substr(0, cr == std::string_view::npos ? taken : cr));
  if (cr != std::string_view::npos) {
    skipLineFeed_ = true;
    endHeadLine();
  }
  return taken;
}

size_t HttpResponseDecoder::takeBody(std::string_view bytes, std::string& body) {
  const size_t taken = static_cast<size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(bytes.size())));
  body.append(bytes.substr(0, taken));
  remaining_ -= static_cast<int64_t>(taken);
  return taken;
}

// Exactly content-length bytes; bytes behind them are ignored.
size_t HttpResponseDecoder::feedContentLengthBody(std::string_view bytes, std::string& body) {
  const size_t taken = takeBody(bytes, body);
  if (remaining_ == 0) done();
  return taken;
}

// Everything until the connection ends (finish), or up to the limit.
size_t HttpResponseDecoder::feedUntilCloseBody(std::string_view bytes, std::string& body) {
  const size_t taken = takeBody(bytes, body);
  if (remaining_ == 0) done();
  return taken;
}

// Chunks, each a size line, its data and a CR LF, up to the chunk of size 0.
size_t HttpResponseDecoder::feedChunkedBody(std::string_view bytes, std::string& body) {
  switch (chunkStep_) {
    case ChunkStep::SizeStart:
    case ChunkStep::SizeSign:
    case ChunkStep::SizeZero:
    case ChunkStep::SizeX:
    case ChunkStep::SizeDigits:
      return feedChunkSize(bytes.front());
    case ChunkStep::Extension:
      return skipChunkExtension(bytes);
    case ChunkStep::Data: {
      const size_t taken = takeBody(bytes, body);
      if (remaining_ == 0) chunkStep_ = ChunkStep::AfterData;
      return taken;
    }
    case ChunkStep::AfterData:
      return skipChunkDataEnd(bytes.front());
  }
  return 0;
}

// One byte of a size line, read as "%x" reads a number: blanks, a sign, an
// optional "0x", hexadecimal digits. A size line without a number counts as
// size 0, the last chunk.
size_t HttpResponseDecoder::feedChunkSize(char c) {
  const bool hexDigit = hexValue(c) >= 0;
  switch (chunkStep_) {
    case ChunkStep::SizeStart:
      if (isSizeBlank(c)) return 1;
      if (c == '+' || c == '-') {
        chunkNegative_ = c == '-';
        chunkStep_ = ChunkStep::SizeSign;
        return 1;
      }
      [[fallthrough]];
    case ChunkStep::SizeSign:
      if (c == '0') {
        chunkStep_ = ChunkStep::SizeZero;
        return 1;
      }
      if (hexDigit) {
        chunkStep_ = ChunkStep::SizeDigits;
      } else {
        done();
      }
      return 0;
    case ChunkStep::SizeZero:
      if (c == 'x' || c == 'X') {
        chunkStep_ = ChunkStep::SizeX;
        return 1;
      }
      [[fallthrough]];
    case ChunkStep::SizeX:
      // "0x" without a hexadecimal digit after it is the number 0.
      if (hexDigit) {
        chunkStep_ = ChunkStep::SizeDigits;
      } else {
        chunkSizeEnded();
      }
      return 0;
    case ChunkStep::SizeDigits:
      if (!hexDigit) {
        chunkSizeEnded();
        return 0;
      }
      if (chunkSize_ > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) >> 4)) {
        fail(Failure::BadChunkSize);
        return 0;
      }
      chunkSize_ = (chunkSize_ << 4) | static_cast<uint64_t>(hexValue(c));
      return 1;
    case ChunkStep::Extension:
    case ChunkStep::Data:
    case ChunkStep::AfterData:
      break;
  }
  return 0;
}

void HttpResponseDecoder::chunkSizeEnded() {
  if (chunkSize_ == 0) {
    done();  // the last chunk: trailers and the final CR LF are not read
  } else if (chunkNegative_) {
    fail(Failure::BadChunkSize);
  } else {
    remaining_ = static_cast<int64_t>(chunkSize_);
    chunkStep_ = ChunkStep::Extension;
  }
}

// A chunk extension after the size: skipped up to the line's CR.
size_t HttpResponseDecoder::skipChunkExtension(std::string_view bytes) {
  const size_t cr = bytes.find('\r');
  if (cr == std::string_view::npos) return bytes.size();
  skipLineFeed_ = true;
  chunkStep_ = ChunkStep::Data;
  return cr + 1;
}

// The CR LF that closes a chunk's data; either byte may be missing.
size_t HttpResponseDecoder::skipChunkDataEnd(char c) {
  chunkStep_ = ChunkStep::SizeStart;
  chunkSize_ = 0;
  chunkNegative_ = false;
  if (c == '\r') skipLineFeed_ = true;
  return c == '\r' || c == '\n' ? 1 : 0;
}

HttpResponseDecoder::Result HttpResponseDecoder::finish() {
  if (result_ != Result::NeedMore) return result_;
  switch (framing_) {
    case Framing::Unknown:
      return fail(lineCount_ == 0 ? Failure::NoStatusLine : Failure::HeadCutShort);
    case Framing::ContentLength:
      return fail(Failure::BodyCutShort);
    case Framing::Chunked:
      return finishChunkedBody();
    case Framing::UntilClose:
      return done();
  }
  return result_;
}

HttpResponseDecoder::Result HttpResponseDecoder::finishChunkedBody() {
  switch (chunkStep_) {
    case ChunkStep::SizeZero:
    case ChunkStep::SizeX:
      return done();  // the stream ended right after a last chunk's "0"
    case ChunkStep::SizeDigits:
      if (chunkSize_ == 0) return done();
      break;
    case ChunkStep::SizeStart:
    case ChunkStep::SizeSign:
    case ChunkStep::Extension:
    case ChunkStep::Data:
    case ChunkStep::AfterData:
      break;
  }
  return fail(Failure::ChunksCutShort);  // inside a chunk or its size line, or no last chunk
}

void HttpResponseDecoder::endHeadLine() {
  std::string line;
  line.swap(line_);
  if (lineCount_++ == 0) {
    statusLine_ = std::move(line);
    if (statusLine_.find("200") == std::string::npos && statusLine_.find("302") == std::string::npos)
      fail(Failure::StatusNotAccepted);
    return;
  }
  if (line.empty()) {
    endOfHead();
  } else {
    headerLine(line);
  }
}

void HttpResponseDecoder::headerLine(const std::string& line) {
  static constexpr std::string_view kTransferEncoding = "transfer-encoding:";
  static constexpr std::string_view kContentLength = "content-length:";
  if (startsWithNoCase(line, kTransferEncoding)) {
    if (line.find("chunked", kTransferEncoding.size()) != std::string::npos) chunked_ = true;
  } else if (startsWithNoCase(line, kContentLength)) {
    contentLengthSeen_ = true;
    contentLengthValid_ =
        parseContentLength(std::string_view(line).substr(kContentLength.size()), contentLength_);
  }
}

void HttpResponseDecoder::endOfHead() {
  if (chunked_) {
    framing_ = Framing::Chunked;
    chunkStep_ = ChunkStep::SizeStart;
  } else if (contentLengthSeen_) {
    if (!contentLengthValid_) {
      fail(Failure::BadContentLength);
      return;
    }
    framing_ = Framing::ContentLength;
    remaining_ = contentLength_;
  } else {
    framing_ = Framing::UntilClose;
    remaining_ = kUntilCloseLimit;
  }
  headAccepted_ = true;
  if (framing_ == Framing::ContentLength && remaining_ == 0) done();
}
