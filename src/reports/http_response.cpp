#include "reports/http_response.h"

#include <algorithm>
#include <cstring>
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
  step_ = Step::End;
  failure_ = why;
  return result_ = Result::Failed;
}

HttpResponseDecoder::Result HttpResponseDecoder::done() {
  step_ = Step::End;
  return result_ = Result::Done;
}

size_t HttpResponseDecoder::nextReadSize() const {
  if (result_ != Result::NeedMore) return 0;
  if (step_ == Step::CountedBody || step_ == Step::ChunkData) {
    // One more when the LF of a line end is still to come before the bytes.
    const int64_t wanted = remaining_ + (skipLineFeed_ ? 1 : 0);
    return static_cast<size_t>(std::min<int64_t>(wanted, static_cast<int64_t>(kMaxReadBytes)));
  }
  return kMaxReadBytes;
}

HttpResponseDecoder::Result HttpResponseDecoder::feed(const char* data, size_t size, std::string& body) {
  size_t i = 0;
  while (i < size && result_ == Result::NeedMore) {
    if (skipLineFeed_) {
      skipLineFeed_ = false;
      if (data[i] == '\n') {
        if (step_ == Step::HeadLine && ++headBytes_ > kMaxHeadBytes) return fail(Failure::HeadTooLong);
        ++i;
        continue;
      }
    }
    switch (step_) {
      case Step::HeadLine: {
        const char* start = data + i;
        const size_t left = size - i;
        const void* cr = std::memchr(start, '\r', left);
        const size_t take = cr ? static_cast<size_t>(static_cast<const char*>(cr) - start) + 1 : left;
        headBytes_ += take;
        if (headBytes_ > kMaxHeadBytes) return fail(Failure::HeadTooLong);
        line_.append(start, cr ? take - 1 : take);
        i += take;
        if (cr) {
          skipLineFeed_ = true;
          endHeadLine();
        }
        break;
      }
      case Step::CountedBody:
      case Step::ChunkData: {
        const size_t take =
            static_cast<size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(size - i)));
        body.append(data + i, take);
        i += take;
        remaining_ -= static_cast<int64_t>(take);
        if (remaining_ == 0) {
          if (step_ == Step::CountedBody) return done();
          step_ = Step::AfterChunkData;
        }
        break;
      }
      case Step::AfterChunkData:
        // The CR LF that closes a chunk's data; either byte may be missing.
        if (data[i] == '\r') {
          ++i;
          skipLineFeed_ = true;
        } else if (data[i] == '\n') {
          ++i;
        }
        step_ = Step::ChunkSizeStart;
        chunkSize_ = 0;
        chunkNegative_ = false;
        break;
      case Step::ChunkSizeStart: {
        const char c = data[i];
        if (isSizeBlank(c)) {
          ++i;
        } else if (c == '+' || c == '-') {
          chunkNegative_ = c == '-';
          ++i;
          step_ = Step::ChunkSizeSign;
        } else if (c == '0') {
          ++i;
          step_ = Step::ChunkSizeZero;
        } else if (hexValue(c) >= 0) {
          step_ = Step::ChunkSizeDigits;
        } else {
          return done();  // a size line without a number counts as size 0
        }
        break;
      }
      case Step::ChunkSizeSign:
        if (data[i] == '0') {
          ++i;
          step_ = Step::ChunkSizeZero;
        } else if (hexValue(data[i]) >= 0) {
          step_ = Step::ChunkSizeDigits;
        } else {
          return done();
        }
        break;
      case Step::ChunkSizeZero:
        if (data[i] == 'x' || data[i] == 'X') {
          ++i;
          step_ = Step::ChunkSizeX;
        } else if (hexValue(data[i]) >= 0) {
          step_ = Step::ChunkSizeDigits;
        } else {
          chunkSizeEnded();
        }
        break;
      case Step::ChunkSizeX:
        // "0x" without a hexadecimal digit after it is the number 0.
        if (hexValue(data[i]) >= 0) {
          step_ = Step::ChunkSizeDigits;
        } else {
          chunkSizeEnded();
        }
        break;
      case Step::ChunkSizeDigits: {
        const int digit = hexValue(data[i]);
        if (digit < 0) {
          chunkSizeEnded();
          break;
        }
        if (chunkSize_ > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) >> 4))
          return fail(Failure::BadChunkSize);
        chunkSize_ = (chunkSize_ << 4) | static_cast<uint64_t>(digit);
        ++i;
        break;
      }
      case Step::ChunkLineRest: {
        // A chunk extension after the size: skipped up to the line's CR.
        const void* cr = std::memchr(data + i, '\r', size - i);
        if (!cr) {
          i = size;
        } else {
          i = static_cast<size_t>(static_cast<const char*>(cr) - data) + 1;
          skipLineFeed_ = true;
          step_ = Step::ChunkData;
        }
        break;
      }
      case Step::End:
        return result_;
    }
  }
  return result_;
}

void HttpResponseDecoder::chunkSizeEnded() {
  if (chunkSize_ == 0) {
    done();  // the last chunk: trailers and the final CR LF are not read
  } else if (chunkNegative_) {
    fail(Failure::BadChunkSize);
  } else {
    remaining_ = static_cast<int64_t>(chunkSize_);
    step_ = Step::ChunkLineRest;
  }
}

HttpResponseDecoder::Result HttpResponseDecoder::finish() {
  if (result_ != Result::NeedMore) return result_;
  switch (step_) {
    case Step::CountedBody:
      return framing_ == Framing::UntilClose ? done() : fail(Failure::BodyCutShort);
    case Step::ChunkSizeZero:
    case Step::ChunkSizeX:
      return done();  // the stream ended right after a last chunk's "0"
    case Step::ChunkSizeDigits:
      return chunkSize_ == 0 ? done() : fail(Failure::ChunksCutShort);
    case Step::HeadLine:
      return fail(lineCount_ == 0 ? Failure::NoStatusLine : Failure::HeadCutShort);
    default:
      return fail(Failure::ChunksCutShort);  // inside a chunk or its size line, or no last chunk
  }
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
    step_ = Step::ChunkSizeStart;
  } else if (contentLengthSeen_) {
    if (!contentLengthValid_) {
      fail(Failure::BadContentLength);
      return;
    }
    framing_ = Framing::ContentLength;
    step_ = Step::CountedBody;
    remaining_ = contentLength_;
  } else {
    framing_ = Framing::UntilClose;
    step_ = Step::CountedBody;
    remaining_ = kUntilCloseLimit;
  }
  headAccepted_ = true;
  if (framing_ == Framing::ContentLength && remaining_ == 0) done();
}
