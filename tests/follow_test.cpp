// --follow: a file read while a writer appends to it. A writer here writes
// an mvgen file in pieces (a chunk in two halves across a wait longer than
// the interval, pauses, a last chunk) while mvscan follows it; the final
// report is that of a plain run over the finished file, byte for byte (the
// display modes, which show packets as they come, print the size line at
// the end, as for a stream). A stop by SIGINT reports what was read; a file
// that shrinks or is replaced is a read error with status 2; the picture
// and the page written while the file grows are always whole files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileBuilder.h"
#include "RunTool.h"
#include "mvgen_files.h"

using namespace testing_files;
using mvgen_files::runMvgen;
using std::chrono::milliseconds;

namespace {

// Asks until the condition holds, for a minute at most: a checked build
// among other tests may take its time, and the test waits on what it needs
// to have happened, never on a guess of how long that takes.
bool waitFor(const std::function<bool()>& condition) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

// mvscan started in the background, its output collected when it ends.
class Background {
 public:
  Background(const std::vector<std::string>& args, const std::string& dir) {
    _out = dir + "/.bg-stdout";
    _err = dir + "/.bg-stderr";
    _pid = fork();
    if (_pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      const int o = open(_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = open(_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int n = open("/dev/null", O_RDONLY);
      dup2(n, 0);
      dup2(o, 1);
      dup2(e, 2);
      std::vector<char*> argv{const_cast<char*>(MVSCAN_BINARY)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(MVSCAN_BINARY, argv.data());
      _exit(127);
    }
  }
  ~Background() {
    if (_pid > 0 && !_waited) {
      kill(_pid, SIGKILL);
      waitpid(_pid, nullptr, 0);
    }
  }
  pid_t pid() const { return _pid; }
  // Whether its main thread waits in poll(): a follow does only when it has
  // read all the file holds (its signal handlers are set by then).
  bool waitsForData() const {
    std::ifstream f("/proc/" + std::to_string(_pid) + "/syscall");
    long number = -1;
    f >> number;
#ifdef SYS_poll
    if (number == SYS_poll) return true;
#endif
    return number == SYS_ppoll;
  }
  // Waits until the follow has read all the file holds, then stops it as
  // Ctrl-C does.
  bool interruptOnceCaughtUp(int signal = SIGINT) {
    if (!waitFor([this] { return waitsForData(); })) return false;
    return kill(_pid, signal) == 0;
  }
  RunResult wait() {
    int status = 0;
    waitpid(_pid, &status, 0);
    _waited = true;
    RunResult r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readWholeFile(_out);
    r.err = readWholeFile(_err);
    return r;
  }
  // The process's CPU time so far (user + system), from /proc.
  double cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(_pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::stod(field);
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
  }

 private:
  pid_t _pid = -1;
  bool _waited = false;
  std::string _out, _err;
};

void append(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::app);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

// The bytes of an mvgen file of `packets` packets in chunks of `chunk`,
// written to whole.mv; empty when mvgen fails.
std::string wholeFile(const TempDir& dir, const char* packets, const char* chunk) {
  if (runMvgen({"-n", packets, "-c", chunk, "-o", dir.file("whole.mv")}).status != 0) return "";
  return readWholeFile(dir.file("whole.mv"));
}

// A writer that appends bytes from `from` on to grow.mv, `piece` bytes at a
// time with a pause after each.
std::thread appendInPieces(const TempDir& dir, const std::string& bytes, size_t from, size_t piece,
                           milliseconds pause) {
  return std::thread([&dir, &bytes, from, piece, pause] {
    for (size_t at = from; at < bytes.size(); at += piece) {
      append(dir.file("grow.mv"), bytes.substr(at, piece));
      std::this_thread::sleep_for(pause);
    }
  });
}

// The offsets of the chunk headers of a MORVEN file.
std::vector<size_t> chunkStarts(const std::string& bytes) {
  std::vector<size_t> starts;
  for (size_t at = 8; at + 8 <= bytes.size();) {
    starts.push_back(at);
    uint64_t header = 0;
    for (int i = 0; i < 8; ++i) header |= uint64_t(uint8_t(bytes[at + size_t(i)])) << (8 * i);
    at += 8 + 8 * (header & 0xFFFFFFFF);
  }
  return starts;
}

// Writes the file in pieces: the header and first chunks, then one data
// chunk in two halves, the second `pause` after the follower has read the
// first, the rest in whole chunks with short waits.
void writeSlowly(const std::string& path, const std::string& bytes, milliseconds pause,
                 const Background& follower) {
  const std::vector<size_t> starts = chunkStarts(bytes);
  const size_t middle = starts[starts.size() / 2];
  const size_t split = middle + (starts[starts.size() / 2 + 1] - middle) / 2 + 3;
  append(path, bytes.substr(0, middle));
  std::this_thread::sleep_for(milliseconds(100));
  append(path, bytes.substr(middle, split - middle));
  // The follow waits inside the chunk for longer than its interval.
  EXPECT_TRUE(waitFor([&] { return follower.waitsForData(); }));
  std::this_thread::sleep_for(pause);
  size_t at = split;
  for (size_t s : starts) {
    if (s <= split) continue;
    append(path, bytes.substr(at, s - at));
    at = s;
    std::this_thread::sleep_for(milliseconds(20));
  }
  append(path, bytes.substr(at));
}

// The report with its size line moved to the end (a display's report).
std::string sizeLineLast(const std::string& report) {
  const size_t at = report.find("File size  : ");
  if (at == std::string::npos) return report;
  const size_t end = report.find('\n', at) + 1;
  std::string moved = report;
  const std::string line = moved.substr(at, end - at);
  moved.erase(at, end - at);
  return moved + line;
}

struct FollowCase {
  const char* name;
  std::vector<std::string> mvgen;
  std::vector<std::string> options;
  bool display;
};

class Follow : public ::testing::TestWithParam<FollowCase> {};

TEST_P(Follow, FinalReportIsThatOfTheFinishedFile) {
  const FollowCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> gen = c.mvgen;
  for (const char* a : {"-n", "60000", "-c", "6000", "-o"}) gen.push_back(a);
  gen.push_back(dir.file("whole.mv"));
  ASSERT_EQ(runMvgen(gen).status, 0);
  const std::string bytes = readWholeFile(dir.file("whole.mv"));
  std::vector<std::string> args = c.options;
  for (const char* a : {"--follow", "--idle", "60", "--interval", "0.2", "grow.mv"}) {
    args.push_back(a);
  }
  append(dir.file("grow.mv"), "");
  Background follower(args, dir.path());
  writeSlowly(dir.file("grow.mv"), bytes, milliseconds(300), follower);
  ASSERT_TRUE(follower.interruptOnceCaughtUp(SIGTERM));
  const RunResult got = follower.wait();
  std::vector<std::string> plainArgs = c.options;
  plainArgs.push_back("grow.mv");
  const RunResult plain = runMvscan(plainArgs, dir.path());
  EXPECT_EQ(got.status, plain.status) << got.out;
  EXPECT_EQ(got.out, c.display ? sizeLineLast(plain.out) : plain.out);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Follow,
    ::testing::Values(
        FollowCase{"FileCheck", {}, {"-f", "-j", "-c", "-H", "4"}, false},
        FollowCase{"Statistics", {}, {"-p", "-E", "-H", "16", "--no-image"}, false},
        FollowCase{"Counting", {"-k", "pc24"}, {"-p", "--no-image"}, false},
        FollowCase{"StatisticsJson", {}, {"-p", "--json", "--no-image", "-H", "8"}, false},
        FollowCase{"FileCheckJson", {}, {"--json", "-f", "-j"}, false},
        FollowCase{"Fields", {}, {"-P", "-C"}, true},
        FollowCase{"Raw", {"-k", "frame8"}, {"-R", "-L", "3"}, true},
        FollowCase{"TestGenCheck", {"-k", "testgen", "-L", "2"}, {"-Q", "-L", "2"}, false},
        FollowCase{"CounterCheck", {"-k", "counter", "-L", "2"}, {"-q", "-L", "2"}, false}),
    [](const ::testing::TestParamInfo<FollowCase>& info) { return std::string(info.param.name); });

// SIGINT ends the follow: the report of what the file held, status 0.
TEST(FollowStop, InterruptReportsWhatWasRead) {
  TempDir dir;
  const std::string bytes = wholeFile(dir, "40000", "5000");
  ASSERT_FALSE(bytes.empty());
  const std::vector<size_t> starts = chunkStarts(bytes);
  // Whole chunks only: the part is a complete file of its own.
  const std::string part = bytes.substr(0, starts[starts.size() - 3]);
  append(dir.file("grow.mv"), part);
  Background follower({"-p", "--no-image", "--follow", "--idle", "60", "grow.mv"}, dir.path());
  ASSERT_TRUE(follower.interruptOnceCaughtUp());
  const RunResult got = follower.wait();
  const RunResult plain = runMvscan({"-p", "--no-image", "grow.mv"}, dir.path());
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, plain.out);
}

// A file that shrinks or is replaced while it is followed: a read error,
// the report of what was read, status 2.
TEST(FollowStop, ShrunkOrReplacedFileIsAReadError) {
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "shrunk");
    TempDir dir;
    ASSERT_EQ(runMvgen({"-n", "20000", "-c", "5000", "-o", dir.file("grow.mv")}).status, 0);
    const std::string bytes = readWholeFile(dir.file("grow.mv"));
    const size_t chunks = chunkStarts(bytes).size();
    Background follower({"--follow", "--idle", "60", "grow.mv"}, dir.path());
    // Only once it has read the file: opened after the change, the file
    // would be one that never grows.
    ASSERT_TRUE(waitFor([&] { return follower.waitsForData(); }));
    if (replace) {
      ASSERT_EQ(runMvgen({"-n", "10", "-o", dir.file("other.mv")}).status, 0);
      ASSERT_EQ(std::rename(dir.file("other.mv").c_str(), dir.file("grow.mv").c_str()), 0);
    } else {
      std::filesystem::resize_file(dir.file("grow.mv"), 1000);
    }
    const RunResult got = follower.wait();
    EXPECT_EQ(got.status, 2);
    const std::string why = replace ? "the file was removed or replaced while it was followed"
                                    : "the file shrank from " + std::to_string(bytes.size()) +
                                          " to 1000 bytes while it was followed";
    EXPECT_NE(got.out.find("### Read error in grow.mv: " + why + "\n"), std::string::npos)
        << got.out;
    EXPECT_NE(got.out.find("Chunks = " + std::to_string(chunks) + ","), std::string::npos)
        << got.out;
  }
}

bool wholePng(const std::string& bytes) {
  return bytes.size() > 20 && bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0 &&
         bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}

// A follow of grow.mv, started on the first bytes of an mvgen file of
// 100000 packets while a writer appends the rest in pieces.
class FollowSnapshots : public ::testing::Test {
 protected:
  void start(const std::vector<std::string>& args, size_t first, size_t piece, milliseconds pause) {
    bytes = wholeFile(dir, "100000", "2000");
    ASSERT_FALSE(bytes.empty());
    append(dir.file("grow.mv"), bytes.substr(0, first));
    follower = std::make_unique<Background>(args, dir.path());
    writer = appendInPieces(dir, bytes, first, piece, pause);
  }
  void TearDown() override {
    if (writer.joinable()) writer.join();
  }
  // Once the writer is done and the follow has read it all: the end, as
  // Ctrl-C gives it.
  RunResult finish() {
    writer.join();
    EXPECT_TRUE(follower->interruptOnceCaughtUp(SIGTERM));
    return follower->wait();
  }

  TempDir dir;
  std::string bytes;
  std::unique_ptr<Background> follower;
  std::thread writer;
};

// While the file grows the picture and the page are written anew, each a
// whole file whenever it is read; the page reloads itself until the end.
TEST_F(FollowSnapshots, PictureAndPageAreAlwaysWhole) {
  ASSERT_NO_FATAL_FAILURE(start({"-p", "--follow", "--idle", "60", "--interval", "0.1", "--image",
                                 "live.png", "--html", "live.html", "grow.mv"},
                                100000, 37000, milliseconds(15)));
  int pictures = 0, pages = 0, refreshing = 0;
  // At least 100 reads, and on until a page of the follow has been seen: a
  // checked build among other tests may take its time to write the first.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int i = 0; i < 100 || (refreshing == 0 && std::chrono::steady_clock::now() < until); ++i) {
    const std::string png = readWholeFile(dir.file("live.png"));
    if (!png.empty()) {
      EXPECT_TRUE(wholePng(png)) << "a picture of " << png.size() << " bytes";
      ++pictures;
    }
    const std::string page = readWholeFile(dir.file("live.html"));
    if (!page.empty()) {
      EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
      ++pages;
      if (page.find("http-equiv=\"refresh\"") != std::string::npos) ++refreshing;
    }
    std::this_thread::sleep_for(milliseconds(7));
  }
  const RunResult got = finish();
  EXPECT_EQ(got.status, 0) << got.out;
  EXPECT_GT(pictures, 0);
  EXPECT_GT(refreshing, 0);
  const std::string last = readWholeFile(dir.file("live.html"));
  EXPECT_EQ(last.find("http-equiv=\"refresh\""), std::string::npos) << "the final page reloads";
  const RunResult plain =
      runMvscan({"-p", "--image", "plain.png", "--html", "plain.html", "grow.mv"}, dir.path());
  EXPECT_TRUE(readWholeFile(dir.file("live.png")) == readWholeFile(dir.file("plain.png")));
  (void)pages;
}

// The statistics document so far, renewed at every interval: always a whole
// document of a run that goes on; the final report is the plain run's.
TEST_F(FollowSnapshots, JsonDocumentSoFar) {
  ASSERT_NO_FATAL_FAILURE(start({"-p", "--json", "--no-image", "--follow", "--idle", "60",
                                 "--interval", "0.1", "--snapshot", "snap.json", "grow.mv"},
                                50000, 40000, milliseconds(20)));
  int documents = 0;
  uint64_t lastPackets = 0;
  // Fifteen reads, and on until a document has been seen.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int i = 0; i < 15 || (documents == 0 && std::chrono::steady_clock::now() < until); ++i) {
    const std::string text = readWholeFile(dir.file("snap.json"));
    if (!text.empty()) {
      const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
      ASSERT_FALSE(doc.is_discarded()) << text.substr(0, 200);
      EXPECT_EQ(doc["run_end"], "following");
      const uint64_t packets = doc["statistics"]["packets"].get<uint64_t>();
      EXPECT_GE(packets, lastPackets);
      EXPECT_EQ(doc["files"][0]["packets"].get<uint64_t>(), packets);
      lastPackets = packets;
      ++documents;
    }
    std::this_thread::sleep_for(milliseconds(60));
  }
  const RunResult got = finish();
  const RunResult plain = runMvscan({"-p", "--json", "--no-image", "grow.mv"}, dir.path());
  EXPECT_GT(documents, 0);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, plain.out);
}

// The time a file was last written, to the nanosecond.
std::pair<int64_t, int64_t> modified(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {-1, -1};
  return {int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec)};
}

// A chunk is counted once it is complete, and not before: a snapshot
// renewed after the follow has read half a chunk does not hold it.
TEST_F(FollowSnapshots, ChunksAreCountedOnceComplete) {
  const std::string bytes = wholeFile(dir, "30000", "10000");
  ASSERT_FALSE(bytes.empty());
  const std::vector<size_t> starts = chunkStarts(bytes);
  append(dir.file("grow.mv"), bytes.substr(0, starts[starts.size() - 2]));
  Background follower({"-p", "--json", "--no-image", "--follow", "--idle", "60", "--interval",
                       "0.1", "--snapshot", "snap.json", "grow.mv"},
                      dir.path());
  const std::string snap = dir.file("snap.json");
  const auto packets = [&] {
    const nlohmann::json doc = nlohmann::json::parse(readWholeFile(snap), nullptr, false);
    return doc.is_discarded() ? uint64_t(0) : doc["statistics"]["packets"].get<uint64_t>();
  };
  // The last two data chunks are not there yet: the first holds 10000.
  EXPECT_TRUE(waitFor([&] { return packets() == 10000u; })) << packets();
  append(dir.file("grow.mv"), bytes.substr(starts[starts.size() - 2], 40000));
  // A tick comes only while the follow waits with nothing left to read:
  // the second renewal after the write was made after it read the half.
  for (int renewal = 0; renewal < 2; ++renewal) {
    const auto before = modified(snap);
    ASSERT_TRUE(waitFor([&] { return modified(snap) != before; }));
  }
  EXPECT_EQ(packets(), 10000u) << "a chunk counted before it was complete";
  append(dir.file("grow.mv"), bytes.substr(starts[starts.size() - 2] + 40000));
  EXPECT_TRUE(waitFor([&] { return packets() == 30000u; })) << packets();
  ASSERT_TRUE(follower.interruptOnceCaughtUp(SIGTERM));
  const RunResult got = follower.wait();
  EXPECT_EQ(got.status, 0);
}

// A display into a file or pipe (written in large blocks otherwise) hands
// its lines on whenever the follow waits, as tail -f does.
TEST(FollowDisplay, LinesGoOutBeforeAWait) {
  TempDir dir;
  const std::string bytes = wholeFile(dir, "3000", "1000");
  ASSERT_FALSE(bytes.empty());
  const std::vector<size_t> starts = chunkStarts(bytes);
  append(dir.file("grow.mv"), bytes.substr(0, starts[starts.size() - 1]));
  Background follower({"-R", "-C", "--follow", "--idle", "60", "grow.mv"}, dir.path());
  // The first two data chunks' 2000 lines are out while it waits.
  std::string early;
  EXPECT_TRUE(waitFor([&] {
    early = readWholeFile(dir.file(".bg-stdout"));
    return early.find("\n2000: ") != std::string::npos;
  })) << early.size()
      << " bytes";
  ASSERT_TRUE(follower.interruptOnceCaughtUp());
  const RunResult got = follower.wait();
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(early.find("\n2001: "), std::string::npos);
}

// A follow that waits for a file that does not grow takes no CPU to speak
// of: it sleeps until the file changes or the interval ends; --idle ends it
// with the report of the file.
TEST(FollowIdle, WaitingTakesNoCpu) {
  TempDir dir;
  ASSERT_EQ(runMvgen({"-n", "1000", "-o", dir.file("grow.mv")}).status, 0);
  Background follower({"-p", "--no-image", "--follow", "--idle", "4", "grow.mv"}, dir.path());
  // From the moment it has read the file, for two seconds (a process that
  // ended meanwhile is still there to be read until it is waited for).
  ASSERT_TRUE(waitFor([&] { return follower.waitsForData(); }));
  const double before = follower.cpuSeconds();
  std::this_thread::sleep_for(milliseconds(2000));
  const double cpu = follower.cpuSeconds() - before;
  const RunResult got = follower.wait();
  EXPECT_EQ(got.status, 0);
  EXPECT_LT(cpu, 0.05) << "CPU seconds while waiting 2 s";
  EXPECT_EQ(got.out, runMvscan({"-p", "--no-image", "grow.mv"}, dir.path()).out);
}

TEST(FollowOptions, MisuseIsAUsageError) {
  TempDir dir;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--idle", "3", "a.mv"}, "### --idle and --interval go with --follow\n"},
      {{"--follow", "--interval", "0", "a.mv"},
       "### --interval: argument not in range (0.01..86400 seconds)\n"},
      {{"--follow", "--idle", "x", "a.mv"}, "### --idle: error in argument\n"},
      {{"--follow", "--merge", "a.json"}, "### --follow goes with a scan, not with --merge\n"},
      {{"--follow", "-p", "--snapshot", "s.json", "a.mv"},
       "### --snapshot goes with --follow, -p and --json\n"},
  };
  for (const auto& [args, message] : cases) {
    const RunResult r = runMvscan(args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, message);
  }
}

}  // namespace
