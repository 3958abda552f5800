#include "reports/http_response.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Result = HttpResponseDecoder::Result;
using Framing = HttpResponseDecoder::Framing;
using Failure = HttpResponseDecoder::Failure;

struct DecodeCase {
  const char* name;
  std::string response;
  // What the decoder says once it has all the bytes and, if it still wants
  // more, has been told that the connection ended.
  Result result;
  bool headAccepted;
  Framing framing;
  std::string body;
  Failure why = Failure::None;  // for a Failed result
};

// Test listings name a case by its name, not by a dump of its bytes.
void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.name; }

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunkedHead = kOk + "Transfer-Encoding: chunked\r\n\r\n";

std::string manySmallChunks(std::string* body) {
  std::string chunks;
  for (int i = 0; i < 300; ++i) {
    const std::string data(static_cast<size_t>(i % 17 + 1), static_cast<char>('a' + i % 26));
    char size[16];
    std::snprintf(size, sizeof size, "%x", static_cast<unsigned>(data.size()));
    chunks += size + std::string("\r\n") + data + "\r\n";
    *body += data;
  }
  return chunks + "0\r\n\r\n";
}

std::vector<DecodeCase> decodeCases() {
  std::string manyBody;
  const std::string many = manySmallChunks(&manyBody);
  const std::string binary("\0\r\n\r\n\xff\r0\r\n\0", 11);
  return {
      // Status line.
      {"ContentLength", kOk + "Content-Length: 5\r\n\r\nhello", Result::Done, true, Framing::ContentLength,
       "hello"},
      {"Found302WithBody",
       "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 4\r\n\r\nmoved", Result::Done,
       true, Framing::ContentLength, "move"},
      {"NotFound", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", Result::Failed, false,
       Framing::Unknown, "", Failure::StatusNotAccepted},
      {"ServerError", "HTTP/1.1 500 Internal Server Error\r\n\r\nx", Result::Failed, false, Framing::Unknown,
       "", Failure::StatusNotAccepted},
      {"CodeAnywhereInStatusLine", "HTTP/1.0 503 Busy since 200 s\r\n\r\nx", Result::Done, true,
       Framing::UntilClose, "x"},
      {"EmptyStatusLine", "\r\n" + kOk + "\r\nx", Result::Failed, false, Framing::Unknown, "",
       Failure::StatusNotAccepted},
      {"NothingReceived", "", Result::Failed, false, Framing::Unknown, "", Failure::NoStatusLine},
      // Line ends: CR, with an LF after it skipped; a lone LF ends nothing.
      {"LinesEndAtCrAlone", "HTTP/1.1 200 OK\rContent-Length: 2\r\rok!", Result::Done, true,
       Framing::ContentLength, "ok"},
      {"LoneLfEndsNoLine", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", Result::Failed, false,
       Framing::Unknown, "", Failure::NoStatusLine},
      {"LoneLfInsideStatusLine", "HTTP/1.1 200 OK\nContent-Length: 2\r\n\r\nabc", Result::Done, true,
       Framing::UntilClose, "abc"},
      {"BodyBeginsAfterOneLf", kOk + "Content-Length: 4\r\n\r\n\n\nab", Result::Done, true,
       Framing::ContentLength, "\n\nab"},
      {"HeadWithoutEmptyLine", kOk + "Content-Length: 2\r\n", Result::Failed, false, Framing::Unknown, "",
       Failure::HeadCutShort},
      // Headers.
      {"HeaderNamesInCapitals", kOk + "CONTENT-LENGTH: 3\r\n\r\nabcdef", Result::Done, true,
       Framing::ContentLength, "abc"},
      {"HeaderNamesMixedCase", kOk + "transfer-ENCODING: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", Result::Done,
       true, Framing::Chunked, "abc"},
      {"HeaderNameMustBeginTheLine", kOk + "X-Content-Length: 3\r\n\r\nabcdef", Result::Done, true,
       Framing::UntilClose, "abcdef"},
      {"NoBlankBeforeColon", kOk + "Content-Length : 3\r\n\r\nabcdef", Result::Done, true,
       Framing::UntilClose, "abcdef"},
      {"LaterLengthReplacesEarlier", kOk + "Content-Length: 10\r\nContent-Length: 2\r\n\r\nabcdef",
       Result::Done, true, Framing::ContentLength, "ab"},
      {"LengthWithBlanksAndTail", kOk + "Content-length:\t  +3 bytes\r\n\r\nabcdef", Result::Done, true,
       Framing::ContentLength, "abc"},
      {"NegativeLength", kOk + "Content-Length: -5\r\n\r\nabcdef", Result::Failed, false, Framing::Unknown,
       "", Failure::BadContentLength},
      {"LengthNotANumber", kOk + "Content-Length: five\r\n\r\nabcdef", Result::Failed, false,
       Framing::Unknown, "", Failure::BadContentLength},
      {"LengthEmpty", kOk + "Content-Length:\r\n\r\nabcdef", Result::Failed, false, Framing::Unknown, "",
       Failure::BadContentLength},
      {"LengthTooLarge", kOk + "Content-Length: 99999999999999999999\r\n\r\nab", Result::Failed, false,
       Framing::Unknown, "", Failure::BadContentLength},
      {"BadLengthReplacedByGoodOne", kOk + "Content-Length: x\r\nContent-Length: 1\r\n\r\nab", Result::Done,
       true, Framing::ContentLength, "a"},
      {"ChunkedWinsOverLength",
       kOk + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n", Result::Done,
       true, Framing::Chunked, "abcd"},
      {"ChunkedWinsOverBadLength",
       kOk + "Content-Length: -1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nz\r\n0\r\n", Result::Done, true,
       Framing::Chunked, "z"},
      {"ChunkedAmongCodings", kOk + "Transfer-Encoding: gzip, chunked\r\n\r\n1\r\nz\r\n0\r\n\r\n",
       Result::Done, true, Framing::Chunked, "z"},
      {"OtherCodingIsNotChunked", kOk + "Transfer-Encoding: identity\r\n\r\n1\r\nz", Result::Done, true,
       Framing::UntilClose, "1\r\nz"},
      // Content-length framing.
      {"LengthZero", kOk + "Content-Length: 0\r\n\r\nignored", Result::Done, true, Framing::ContentLength,
       ""},
      {"BytesBeyondLengthIgnored", kOk + "Content-Length: 3\r\n\r\nabcHTTP/1.1 200", Result::Done, true,
       Framing::ContentLength, "abc"},
      {"LengthCutShort", kOk + "Content-Length: 10\r\n\r\nhello", Result::Failed, true,
       Framing::ContentLength, "hello", Failure::BodyCutShort},
      {"BinaryBodyUntouched", kOk + "Content-Length: 11\r\n\r\n" + binary, Result::Done, true,
       Framing::ContentLength, binary},
      // Chunked framing.
      {"Chunked", kChunkedHead + "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", Result::Done, true,
       Framing::Chunked, "hello world"},
      {"ManySmallChunks", kChunkedHead + many, Result::Done, true, Framing::Chunked, manyBody},
      {"ChunkExtensionsIgnored", kChunkedHead + "5;name=\"v;1\"\r\nhello\r\n2 ; x\r\n!!\r\n0;last\r\n\r\n",
       Result::Done, true, Framing::Chunked, "hello!!"},
      {"HexSizesAnyCase", kChunkedHead + "a\r\n0123456789\r\nB\r\nabcdefghijk\r\n0\r\n\r\n", Result::Done,
       true, Framing::Chunked, "0123456789abcdefghijk"},
      {"SizeAsPercentX", kChunkedHead + "  0x3\r\nabc\r\n+2\r\nde\r\n000\r\n\r\n", Result::Done, true,
       Framing::Chunked, "abcde"},
      {"SizeLineWithoutNumberEnds", kChunkedHead + "3\r\nabc\r\nzz\r\n4\r\nlost\r\n", Result::Done, true,
       Framing::Chunked, "abc"},
      {"EmptySizeLineEnds", kChunkedHead + "3\r\nabc\r\n\r\n4\r\nlost\r\n", Result::Done, true,
       Framing::Chunked, "abc"},
      {"ZeroXWithoutDigitsEnds", kChunkedHead + "3\r\nabc\r\n0xg\r\n", Result::Done, true, Framing::Chunked,
       "abc"},
      {"TrailersNotRead", kChunkedHead + "3\r\nabc\r\n0\r\nTrailer: x\r\n\r\nHTTP", Result::Done, true,
       Framing::Chunked, "abc"},
      {"LastChunkWithoutLineEnd", kChunkedHead + "3\r\nabc\r\n0", Result::Done, true, Framing::Chunked,
       "abc"},
      {"ChunkDataLooksLikeFraming", kChunkedHead + "7\r\n0\r\n\r\n\xff\r\r\n0\r\n\r\n", Result::Done, true,
       Framing::Chunked, "0\r\n\r\n\xff\r"},
      {"ChunkDataWithoutCrLf", kChunkedHead + "3\r\nabc4\r\ndefg\n1\r\nh\r\n0\r\n\r\n", Result::Done, true,
       Framing::Chunked, "abcdefgh"},
      {"ChunkCutShort", kChunkedHead + "5\r\nhel", Result::Failed, true, Framing::Chunked, "hel",
       Failure::ChunksCutShort},
      {"LastChunkMissing", kChunkedHead + "5\r\nhello\r\n", Result::Failed, true, Framing::Chunked, "hello",
       Failure::ChunksCutShort},
      {"SizeLineCutShort", kChunkedHead + "5\r\nhello\r\n1", Result::Failed, true, Framing::Chunked, "hello",
       Failure::ChunksCutShort},
      {"ExtensionCutShort", kChunkedHead + "5;ext", Result::Failed, true, Framing::Chunked, "",
       Failure::ChunksCutShort},
      {"NegativeChunkSize", kChunkedHead + "2\r\nab\r\n-5\r\nabcde\r\n0\r\n\r\n", Result::Failed, true,
       Framing::Chunked, "ab", Failure::BadChunkSize},
      {"ChunkSizeTooLarge", kChunkedHead + "1\r\na\r\n10000000000000000\r\n", Result::Failed, true,
       Framing::Chunked, "a", Failure::BadChunkSize},
      // Until the connection ends.
      {"UntilClose", kOk + "Server: test\r\n\r\nall\r\nof it", Result::Done, true, Framing::UntilClose,
       "all\r\nof it"},
      {"UntilCloseEmpty", kOk + "\r\n", Result::Done, true, Framing::UntilClose, ""},
  };
}

// Feeds the response in pieces of `piece` bytes (0: all at once), then tells
// the decoder that the connection ended if it still wants more.
void decode(const std::string& response, size_t piece, HttpResponseDecoder& decoder, std::string& body) {
  if (piece == 0) piece = response.size() + 1;
  for (size_t at = 0; at < response.size() && decoder.result() == Result::NeedMore; at += piece) {
    const size_t n = std::min(piece, response.size() - at);
    decoder.feed(response.data() + at, n, body);
  }
  if (decoder.result() == Result::NeedMore) decoder.finish();
}

class DecodeTest : public testing::TestWithParam<std::tuple<DecodeCase, size_t>> {};

TEST_P(DecodeTest, SameResultHoweverTheReadsCut) {
  const auto& [c, piece] = GetParam();
  HttpResponseDecoder decoder;
  std::string body;
  decode(c.response, piece, decoder, body);
  EXPECT_EQ(decoder.result(), c.result);
  EXPECT_EQ(decoder.headAccepted(), c.headAccepted);
  EXPECT_EQ(decoder.framing(), c.framing);
  EXPECT_EQ(body, c.body);
  EXPECT_EQ(decoder.failure(), c.why);
  EXPECT_EQ(decoder.nextReadSize(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Response, DecodeTest,
                         testing::Combine(testing::ValuesIn(decodeCases()), testing::Values(0, 1, 2, 7)),
                         [](const testing::TestParamInfo<DecodeTest::ParamType>& info) {
                           const size_t piece = std::get<1>(info.param);
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  (piece == 0 ? std::string("Whole") : "By" + std::to_string(piece));
                         });

TEST(HttpResponseDecoder, HeadUpTo64KiB) {
  const std::string filler = "X-Filler: " + std::string(60000, 'f') + "\r\n";
  std::string body;
  HttpResponseDecoder fits;
  const std::string small = kOk + filler + "Content-Length: 2\r\n\r\nok";
  EXPECT_EQ(fits.feed(small.data(), small.size(), body), Result::Done);
  EXPECT_EQ(body, "ok");

  // The head counts up to and including its empty line's CR.
  const std::string exact =
      kOk + "X: " + std::string(HttpResponseDecoder::kMaxHeadBytes - kOk.size() - 6, 'x') + "\r\n\r";
  ASSERT_EQ(exact.size(), HttpResponseDecoder::kMaxHeadBytes);
  HttpResponseDecoder atLimit;
  body.clear();
  EXPECT_EQ(atLimit.feed(exact.data(), exact.size(), body), Result::NeedMore);
  EXPECT_TRUE(atLimit.headAccepted());

  HttpResponseDecoder tooLong;
  const std::string large = kOk + filler + filler + "Content-Length: 2\r\n\r\nok";
  body.clear();
  // Refused as soon as the limit is passed, not when the head ends.
  EXPECT_EQ(tooLong.feed(large.data(), HttpResponseDecoder::kMaxHeadBytes + 1, body), Result::Failed);
  EXPECT_EQ(tooLong.failure(), Failure::HeadTooLong);
  EXPECT_FALSE(tooLong.headAccepted());
  EXPECT_EQ(body, "");

  // The LF of a line end counts too: when a header line's CR is the last
  // byte allowed, the LF right behind it fails the head, in the same read
  // or in the next one.
  constexpr size_t kMax = HttpResponseDecoder::kMaxHeadBytes;
  const std::string lineAtLimit = kOk + "X: " + std::string(kMax - kOk.size() - 4, 'x') + "\r\n\r\n";
  ASSERT_EQ(lineAtLimit.find('\r', kOk.size()), kMax - 1);
  HttpResponseDecoder sameRead;
  EXPECT_EQ(sameRead.feed(lineAtLimit.data(), kMax + 1, body), Result::Failed);
  EXPECT_EQ(sameRead.failure(), Failure::HeadTooLong);
  HttpResponseDecoder nextRead;
  EXPECT_EQ(nextRead.feed(lineAtLimit.data(), kMax, body), Result::NeedMore);
  EXPECT_EQ(nextRead.feed(lineAtLimit.data() + kMax, 1, body), Result::Failed);
  EXPECT_EQ(nextRead.failure(), Failure::HeadTooLong);
}

TEST(HttpResponseDecoder, RefusesAsSoonAsTheStatusLineEnds) {
  HttpResponseDecoder decoder;
  std::string body;
  const std::string status = "HTTP/1.1 404 Not Found\r";
  EXPECT_EQ(decoder.feed(status.data(), status.size(), body), Result::Failed);
  EXPECT_EQ(decoder.failure(), Failure::StatusNotAccepted);
  EXPECT_EQ(decoder.statusLine(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(decoder.nextReadSize(), 0u);
}

TEST(HttpResponseDecoder, ReadSizesNeverPassThePieceInHand) {
  std::string body;
  HttpResponseDecoder decoder;
  EXPECT_EQ(decoder.nextReadSize(), 1024u);
  EXPECT_EQ(decoder.readTimeoutSeconds(), 10);
  const std::string head = kOk + "Content-Length: 1500\r\n\r\n";
  decoder.feed(head.data(), head.size(), body);
  EXPECT_EQ(decoder.nextReadSize(), 1024u);
  const std::string data(1400, 'd');
  decoder.feed(data.data(), data.size(), body);
  EXPECT_EQ(decoder.nextReadSize(), 100u);
  EXPECT_EQ(decoder.readTimeoutSeconds(), 10);
  // An LF still owed by the head's last line end is asked for as well.
  HttpResponseDecoder lfOwed;
  const std::string headCr = kOk + "Content-Length: 5\r\n\r";
  lfOwed.feed(headCr.data(), headCr.size(), body);
  EXPECT_EQ(lfOwed.nextReadSize(), 6u);

  HttpResponseDecoder chunked;
  const std::string chunkedHead = kChunkedHead + "bb8\r\n";  // one chunk of 3000 bytes
  chunked.feed(chunkedHead.data(), chunkedHead.size(), body);
  const std::string part(2500, 'c');
  chunked.feed(part.data(), part.size(), body);
  EXPECT_EQ(chunked.nextReadSize(), 500u);
  chunked.feed(part.data(), 500, body);
  EXPECT_EQ(chunked.nextReadSize(), 1024u);  // the next size line

  HttpResponseDecoder untilClose;
  const std::string plainHead = kOk + "\r\n";
  untilClose.feed(plainHead.data(), plainHead.size(), body);
  EXPECT_EQ(untilClose.nextReadSize(), 1024u);
  EXPECT_EQ(untilClose.readTimeoutSeconds(), 1);
}

TEST(HttpResponseDecoder, UntilCloseStopsAtItsLimit) {
  HttpResponseDecoder decoder;
  std::string body;
  const std::string head = kOk + "\r\n";
  decoder.feed(head.data(), head.size(), body);
  const std::string block(1 << 20, 'b');
  int64_t fed = 0;
  while (decoder.result() == Result::NeedMore && fed < HttpResponseDecoder::kUntilCloseLimit + (1 << 20)) {
    body.clear();
    decoder.feed(block.data(), block.size(), body);
    fed += static_cast<int64_t>(body.size());
  }
  EXPECT_EQ(decoder.result(), Result::Done);
  EXPECT_EQ(fed, HttpResponseDecoder::kUntilCloseLimit);
}

}  // namespace
