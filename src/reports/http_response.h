#pragma once
// Decoder of one HTTP/1.1 response, fed the bytes as they come, in slices of
// any size: the same bytes give the same result however the reads cut them.
// Pure: no sockets, no files. The download reads, feeds and writes.
//
// Head: lines end at CR (an LF right after it is skipped with it; a lone LF
// does not end a line). The status line is accepted when it contains "200"
// or "302" anywhere. Header lines up to the first empty line:
// "transfer-encoding:" (any letter case) whose value contains "chunked", and
// "content-length:" (any letter case) with a decimal number after blanks; a
// later content-length replaces an earlier one. A head longer than 64 KiB,
// or a content-length that is negative or not a number, fails.
//
// Body framing, in this order: chunked (it wins over a content-length);
// content-length (exactly that many bytes, later ones ignored); else until
// the connection ends (at most 1,000,000,000 bytes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class HttpResponseDecoder {
 public:
  static constexpr size_t kMaxHeadBytes = size_t{64} * 1024;
  static constexpr int64_t kUntilCloseLimit = 1'000'000'000;
  static constexpr size_t kMaxReadBytes = 1024;

  enum class Result {
    NeedMore,  // feed more bytes
    Done,      // the body is complete; further bytes are ignored
    Failed,    // the response is refused or broken; further bytes are ignored
  };
  enum class Framing { Unknown, ContentLength, Chunked, UntilClose };
  // Why the result is Failed; None while it is not.
  enum class Failure {
    None,
    NoStatusLine,       // the connection ended before the status line did (or before any byte)
    StatusNotAccepted,  // the status line holds neither "200" nor "302"
    HeadTooLong,        // more than kMaxHeadBytes before the body
    HeadCutShort,       // the connection ended before the empty line that ends the head
    BadContentLength,   // the content-length is negative, not a number or too large
    BadChunkSize,       // a chunk size is negative or too large to count
    BodyCutShort,       // the connection ended before content-length bytes had come
    ChunksCutShort,     // the connection ended before the last chunk (size 0)
  };

  // Decodes `size` bytes; body bytes among them are appended to `body`.
  Result feed(const char* data, size_t size, std::string& body);
  // The connection gave nothing more (closed, timed out or broken). Done when
  // the body is complete at this point: always under until-close framing,
  // never while the head or a counted body is unfinished.
  Result finish();

  Result result() const { return result_; }
  Failure failure() const { return failure_; }
  // True once the whole head has been read and accepted; body bytes may
  // follow. Stays true when the body later fails.
  bool headAccepted() const { return headAccepted_; }
  Framing framing() const { return framing_; }
  const std::string& statusLine() const { return statusLine_; }

  // How many bytes the next read should ask for: at most 1024, and never more
  // than the bytes still missing of a counted body or of the current chunk.
  // 0 when the decoder wants no more.
  size_t nextReadSize() const;
  // Seconds a read may wait for data: 1 while the body runs until the
  // connection ends, else 10.
  int readTimeoutSeconds() const { return framing_ == Framing::UntilClose ? 1 : 10; }

 private:
  // Where a chunked body stands.
  enum class ChunkStep {
    SizeStart,   // blanks before a chunk size
    SizeSign,    // after "+" or "-"
    SizeZero,    // after a leading "0": maybe "0x"
    SizeX,       // after "0x"
    SizeDigits,  // hexadecimal digits of the size
    Extension,   // the rest of the size line: ignored up to CR
    Data,        // `remaining_` bytes of the current chunk
    AfterData,   // the CR LF after a chunk's data
  };

  // The steps of feed. Each takes bytes from the front of `bytes` (never
  // empty) and says how many it took; 0 when it only moved on to another
  // step or ended the response, which then looks at the same bytes.
  size_t skipLineFeed(char c);
  size_t feedHead(std::string_view bytes);
  size_t feedContentLengthBody(std::string_view bytes, std::string& body);
  size_t feedChunkedBody(std::string_view bytes, std::string& body);
  size_t feedUntilCloseBody(std::string_view bytes, std::string& body);
  // Parts of those: body bytes up to `remaining_`, and a chunked body's
  // pieces.
  size_t takeBody(std::string_view bytes, std::string& body);
  size_t feedChunkSize(char c);
  size_t skipChunkExtension(std::string_view bytes);
  size_t skipChunkDataEnd(char c);

  void endHeadLine();
  void headerLine(const std::string& line);
  void endOfHead();
  // The chunk size is complete (the byte after it is not part of it).
  void chunkSizeEnded();
  Result finishChunkedBody();
  Result fail(Failure why);
  Result done();

  Result result_ = Result::NeedMore;
  Failure failure_ = Failure::None;
  Framing framing_ = Framing::Unknown;  // Unknown while the head is read
  bool headAccepted_ = false;
  bool skipLineFeed_ = false;  // an LF right after a CR is part of the line end
  size_t headBytes_ = 0;
  size_t lineCount_ = 0;
  std::string line_;
  std::string statusLine_;

  bool chunked_ = false;
  bool contentLengthSeen_ = false;
  bool contentLengthValid_ = false;
  int64_t contentLength_ = -1;

  int64_t remaining_ = 0;  // bytes still expected of the counted body or the current chunk
  ChunkStep chunkStep_ = ChunkStep::SizeStart;
  uint64_t chunkSize_ = 0;
  bool chunkNegative_ = false;
};
