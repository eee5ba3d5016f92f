// The line writer that the display, the checks and the reports share: its
// pieces, its bound, and how a refused write fails the stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <streambuf>
#include <string>

#include "text/LineWriter.h"

using morven::LineWriter;

namespace {

TEST(LineWriter, Pieces) {
  std::ostringstream out;
  LineWriter<64> line;
  line.text("a=").dec(42, 5).text(" b=").hex(0xbeef, 6, '0').text(" c=").dec(7, 3, '.');
  line.text(std::string("xyz"), 2).repeat('-', 3).hex(UINT64_MAX);
  line.fixed<4>([](char* p) { p[0] = 'W', p[1] = 'X', p[2] = 'Y', p[3] = 'Z'; });
  EXPECT_EQ(line.view(), "a=   42 b=00beef c=..7xy---ffffffffffffffffWXYZ");
  line.end(out).text("next").end(out, false);
  EXPECT_EQ(out.str(), "a=   42 b=00beef c=..7xy---ffffffffffffffffWXYZ\nnext\n");
}

// However much is appended, the line holds at most its capacity less the
// newline's place; each kind of piece is cut at the bound.
TEST(LineWriter, NeverWritesPastItsCapacity) {
  struct Case {
    const char* name;
    void (*fill)(LineWriter<8>&);
    std::string expected;
  };
  const Case cases[] = {
      {"text", [](LineWriter<8>& l) { l.text("0123456789"); }, "0123456"},
      {"padding", [](LineWriter<8>& l) { l.text("ab").dec(5, 100); }, "ab     "},
      {"digits", [](LineWriter<8>& l) { l.text("ab").dec(UINT64_MAX); }, "ab18446"},
      {"hex", [](LineWriter<8>& l) { l.hex(0x123456789abcdef, 20, '0'); }, "0000012"},
      {"repeat", [](LineWriter<8>& l) { l.repeat('x', 1000); }, "xxxxxxx"},
      {"fixed",
       [](LineWriter<8>& l) {
         l.text("abcde").fixed<4>([](char* p) { p[0] = 'W', p[1] = 'X', p[2] = 'Y', p[3] = 'Z'; });
       },
       "abcdeWX"},
      {"full", [](LineWriter<8>& l) { l.text("0123456").text("more").dec(1); }, "0123456"},
  };
  for (const Case& c : cases) {
    LineWriter<8> line;
    c.fill(line);
    EXPECT_EQ(line.view(), c.expected) << c.name;
    EXPECT_EQ(line.room(), 0u) << c.name;
    std::ostringstream out;
    line.end(out);
    EXPECT_EQ(out.str(), c.expected + "\n") << c.name;
  }
}

// A stream buffer that takes at most `room` characters and refuses a sync
// when told to.
class RefusingBuffer : public std::streambuf {
 public:
  RefusingBuffer(size_t room, bool refuseSync) : _room(room), _refuseSync(refuseSync) {}
  std::string taken;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::streamsize k = std::min<std::streamsize>(n, std::streamsize(_room - taken.size()));
    taken.append(s, size_t(k));
    return k;
  }
  int sync() override { return _refuseSync ? -1 : 0; }

 private:
  size_t _room;
  bool _refuseSync;
};

TEST(LineWriter, ARefusedWriteFailsTheStream) {
  RefusingBuffer buffer(6, false);
  std::ostream out(&buffer);
  LineWriter<32> line;
  line.text("abc").end(out);
  EXPECT_TRUE(out.good());
  line.text("defg").end(out);
  EXPECT_TRUE(out.bad());
  // A failed stream takes no more lines.
  line.text("h").end(out);
  EXPECT_EQ(buffer.taken, "abc\nde");
}

// A refused flush fails the stream too; a line that is not flushed does not
// ask for one.
TEST(LineWriter, ARefusedFlushFailsTheStream) {
  RefusingBuffer buffer(100, true);
  std::ostream out(&buffer);
  LineWriter<32> line;
  line.text("IDLE").end(out, false);
  EXPECT_TRUE(out.good());
  line.text("flushed").end(out);
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(buffer.taken, "IDLE\nflushed\n");
}

}  // namespace
