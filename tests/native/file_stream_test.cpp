#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/io.h"
#include "support/file_stream.h"
#include "tests/shared/test_support.h"

using support::XFileAlarm;
using support::XFileInStream;
using support::XFileOutStream;
using support::XOpenFile;
using testing_support::Exists;
using testing_support::ReadAll;
using testing_support::TempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) {
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  std::fclose(f);
}

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + 7) % 251);
  return b;
}

// Fault injection through the seam: counts every call and fails the chosen one.
enum class Call { None, Open, Read, Lseek, Close, Write };
struct Faults {
  Call failing = Call::None;
  int failAt = 1;  // the n-th call of that kind fails
  int opens = 0, reads = 0, lseeks = 0, closes = 0, writes = 0;
  bool Fail(Call c, int& counter) { return ++counter == failAt && c == failing; }
};
Faults faults;

const platform::FileCalls kCountingCalls = {
    [](const char* p, int f, int perm) {
      return faults.Fail(Call::Open, faults.opens) ? -1 : platform::RuntimeFileCalls().open(p, f, perm);
    },
    [](int h, void* b, unsigned n) {
      return faults.Fail(Call::Read, faults.reads) ? -1 : platform::RuntimeFileCalls().read(h, b, n);
    },
    [](int h, long o, int w) {
      return faults.Fail(Call::Lseek, faults.lseeks) ? -1L : platform::RuntimeFileCalls().lseek(h, o, w);
    },
    [](int h) {
      const int r = platform::RuntimeFileCalls().close(h);  // really close, then report failure
      return faults.Fail(Call::Close, faults.closes) ? -1 : r;
    },
    [](int h, const void* b, unsigned n) {
      // A short write: one byte less than asked.
      if (faults.Fail(Call::Write, faults.writes)) return n > 0 ? platform::RuntimeFileCalls().write(h, b, n - 1) : -1;
      return platform::RuntimeFileCalls().write(h, b, n);
    },
    [](const OLECHAR* p) { return platform::RuntimeFileCalls().createOutput(p); },
};

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    faults = Faults();
    platform::SetFileCalls(&kCountingCalls);
    descriptors = testing_support::OpenFileHandles();
  }
  void TearDown() override {
    platform::SetFileCalls(nullptr);
    EXPECT_EQ(testing_support::OpenFileHandles(), descriptors) << "a handle was left open";
  }

  TempDir dir;
  int descriptors = 0;
};

Bytes ReadThrough(XFileInStream& s) {
  Bytes out;
  std::uint8_t b = 0;
  while (s.ReadByte(b).good()) out.push_back(b);
  return out;
}

TEST_F(FileStreamTest, DeliversEveryByteInOrderThenRunsDry) {
  struct Case {
    std::size_t size;
    std::int32_t buffer;
    int reads;  // source calls, the final empty one included
  };
  const Case cases[] = {{0, 8192, 1},     {8192, 8192, 2}, {8193, 8192, 3}, {3, 0, 4},
                        {10, 1, 11},      {1 << 20, 8192, 129}, {4096, 8192, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.size << " bytes, buffer " << c.buffer);
    const std::string path = dir.File("in.bin");
    const Bytes content = Pattern(c.size);
    WriteFile(path, content);
    faults.reads = 0;
    XFileInStream s(path.c_str(), c.buffer);
    EXPECT_EQ(ReadThrough(s), content);
    EXPECT_EQ(faults.reads, c.reads);
    std::uint8_t untouched = 0x5A;
    EXPECT_EQ(s.ReadByte(untouched).good(), 0);  // stays dry, and leaves the byte alone
    EXPECT_EQ(untouched, 0x5A);
  }
}

TEST_F(FileStreamTest, ReadBlockTakesTheBufferThenReadsStraightFromTheSource) {
  // (buffer size, bytes read one at a time first, lookahead by BeginStrict, block size) -> the
  // block is the file's next bytes; a file shorter than the block raises the block-read alarm.
  const Bytes content = Pattern(100);
  const std::string path = dir.File("block.bin");
  WriteFile(path, content);
  struct Case {
    std::int32_t buffer;
    int singles;
    bool lookahead;
    std::int32_t block;
  };
  const Case cases[] = {{0, 0, false, 100}, {0, 3, true, 97}, {8, 3, false, 90}, {8, 8, true, 92},
                        {8192, 1, false, 99}, {0, 0, false, 101}, {16, 5, true, 96}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "buffer " << c.buffer << " singles " << c.singles << " block " << c.block);
    const int fd = platform::RuntimeFileCalls().open(path.c_str(), _O_RDONLY | _O_BINARY, 0);
    ASSERT_NE(fd, -1);
    XFileInStream s(support::AdoptedHandle{fd}, c.buffer);
    std::uint8_t b = 0;
    for (int i = 0; i < c.singles; ++i) ASSERT_TRUE(s.ReadByte(b).good());
    if (c.lookahead) s.BeginStrict();
    Bytes block(static_cast<std::size_t>(c.block));
    const auto from = content.begin() + c.singles;
    if (c.singles + c.block > static_cast<std::int32_t>(content.size())) {
      try {
        s.ReadBlock(block.data(), c.block);
        ADD_FAILURE() << "no alarm";
      } catch (const XFileAlarm& a) {
        EXPECT_EQ(a.kind, support::FileAlarmKind::BlockRead);
      }
      continue;
    }
    s.ReadBlock(block.data(), c.block);
    EXPECT_EQ(block, Bytes(from, from + c.block));
  }
}

TEST_F(FileStreamTest, BinaryBytesComeBackUnchanged) {
  const Bytes content = {0x0D, 0x0A, 0x1A, 0x00, 0x0A, 0x0D, 0xFF, 0x1A};
  const std::string path = dir.File("bin");
  WriteFile(path, content);
  for (std::int32_t buffer : {0, 3, 8192}) {
    XFileInStream s(path.c_str(), buffer);
    EXPECT_EQ(ReadThrough(s), content) << buffer;
  }
}

TEST_F(FileStreamTest, StrictStretchRaisesAtTheEndAndKeepsGood) {
  const std::string path = dir.File("two");
  WriteFile(path, {1, 2});
  for (std::int32_t buffer : {0, 8192}) {
    SCOPED_TRACE(buffer);
    XFileInStream s(path.c_str(), buffer);
    s.BeginStrict();
    std::uint8_t b = 0;
    EXPECT_EQ(s.ReadByte(b).good(), 1);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(s.ReadByte(b).good(), 1);
    EXPECT_EQ(b, 2);
    try {
      s.ReadByte(b);
      FAIL() << "no alarm at the end of a strict stretch";
    } catch (const XFileAlarm& a) {
      EXPECT_STREQ(a.message, "Unable to block read file");
      EXPECT_EQ(a.detail, nullptr);
    }
    EXPECT_EQ(s.good(), 1);
    s.EndStrict();
    s.EndStrict();  // below zero is a no-op
    EXPECT_EQ(s.ReadByte(b).good(), 0);
  }
}

TEST_F(FileStreamTest, BeginStrictReadsAheadAndFindsAnEmptySourceWithoutAlarm) {
  const std::string one = dir.File("one");
  WriteFile(one, {42});
  {
    XFileInStream s(one.c_str(), 0);
    s.BeginStrict();
    EXPECT_EQ(faults.reads, 1);  // the byte waits in the stream
    s.EndStrict();
    std::uint8_t b = 0;
    EXPECT_EQ(s.ReadByte(b).good(), 1);
    EXPECT_EQ(b, 42);
    EXPECT_EQ(faults.reads, 1);
  }
  const std::string empty = dir.File("empty");
  WriteFile(empty, {});
  for (std::int32_t buffer : {0, 16}) {
    XFileInStream s(empty.c_str(), buffer);
    s.BeginStrict();
    EXPECT_EQ(s.good(), 0);
  }
}

TEST_F(FileStreamTest, OpenModes) {
  const std::string existing = dir.File("existing");
  const std::string missing = dir.File("missing");
  struct Case {
    std::uint16_t mode;
    bool onExisting;
    const char* alarm;  // null: succeeds
    std::int32_t position;
    bool keepsContent;
  };
  using namespace support;
  const Case cases[] = {
      {OpenRead, false, "Unable to open file", 0, false},
      {OpenRead | OpenOrCreate, false, "Unable to open file", 0, false},
      {OpenRead | OpenAppend | OpenExisting, true, nullptr, 0, true},
      {OpenExisting | OpenWrite, false, "Unable to open file", 0, false},
      {OpenExisting | OpenAppend | OpenWrite, true, nullptr, 5, true},
      {OpenOrCreate | OpenAppend | OpenWrite, true, nullptr, 5, true},
      {OpenOrCreate | OpenWrite, true, nullptr, 0, true},
      {OpenOrCreate | OpenAppend | OpenWrite, false, nullptr, 0, false},
      {OpenWrite, true, nullptr, 0, false},
      {0, false, nullptr, 0, false},
      {OpenRead | OpenWrite | OpenOrCreate, false, nullptr, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << (c.onExisting ? " existing" : " missing"));
    WriteFile(existing, {1, 2, 3, 4, 5});
    std::remove(missing.c_str());
    const std::string& path = c.onExisting ? existing : missing;
    std::int32_t position = -1;
    try {
      const int handle = XOpenFile(path.c_str(), c.mode, &position);
      ASSERT_EQ(c.alarm, nullptr) << "expected " << c.alarm;
      EXPECT_EQ(position, c.position);
      _close(handle);
      EXPECT_TRUE(Exists(path));
      EXPECT_EQ(ReadAll(path).size(), c.keepsContent ? 5u : 0u);
    } catch (const XFileAlarm& a) {
      ASSERT_NE(c.alarm, nullptr) << a.message;
      EXPECT_STREQ(a.message, c.alarm);
      EXPECT_STREQ(a.system, "File System: ");
      EXPECT_STREQ(a.detail, path.c_str());
      EXPECT_EQ(Exists(missing), false) << "a failed open created the file";
    }
  }
}

TEST_F(FileStreamTest, EveryFailureOfTheRuntimeIsItsAlarm) {
  const std::string path = dir.File("f");
  WriteFile(path, Pattern(100));
  struct Case {
    Call call;
    int at;
    const char* message;
    bool pathDetail;
  };
  const Case cases[] = {
      {Call::Open, 1, "Unable to open file", true},
      {Call::Read, 1, "Unable to read file", false},
      {Call::Read, 2, "Unable to read file", false},
      {Call::Close, 1, "Unable to close file", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    faults = Faults();
    faults.failing = c.call;
    faults.failAt = c.at;
    try {
      {
        XFileInStream s(path.c_str(), 64);
        ReadThrough(s);
      }  // closing happens here
      FAIL() << "no alarm";
    } catch (const XFileAlarm& a) {
      EXPECT_STREQ(a.message, c.message);
      if (c.pathDetail) {
        EXPECT_STREQ(a.detail, path.c_str());
      } else {
        EXPECT_EQ(a.detail, nullptr);
      }
    }
  }
  // Positioning at the end fails: the handle opened for it is closed again.
  faults = Faults();
  faults.failing = Call::Lseek;
  try {
    XOpenFile(path.c_str(), support::OpenExisting | support::OpenAppend | support::OpenWrite);
    FAIL() << "no alarm";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to seek file");
    EXPECT_STREQ(a.detail, path.c_str());
  }
  // Create after a failed open fails too.
  faults = Faults();
  faults.failing = Call::Open;
  faults.failAt = 2;
  try {
    XOpenFile(dir.File("new").c_str(), support::OpenOrCreate | support::OpenWrite);
    FAIL() << "no alarm";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to create file");
  }
}

TEST_F(FileStreamTest, ReadFailureLeavesTheStreamAsItWas) {
  const std::string path = dir.File("r");
  const Bytes content = Pattern(20);
  WriteFile(path, content);
  XFileInStream s(path.c_str(), 8);
  std::uint8_t b = 0;
  Bytes got;
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(s.ReadByte(b).good(), 1);
    got.push_back(b);
  }
  faults.failing = Call::Read;
  faults.failAt = faults.reads + 1;
  EXPECT_THROW(s.ReadByte(b), XFileAlarm);
  EXPECT_EQ(s.good(), 1);
  while (s.ReadByte(b).good()) got.push_back(b);  // the next refill works again
  EXPECT_EQ(got, content);
}

TEST_F(FileStreamTest, SeekSourceMovesTheSourceAndReportsFailure) {
  const std::string path = dir.File("s");
  WriteFile(path, {10, 11, 12, 13});
  XFileInStream s(path.c_str(), 0);
  s.SeekSource(2);
  std::uint8_t b = 0;
  EXPECT_EQ(s.ReadByte(b).good(), 1);
  EXPECT_EQ(b, 12);
  faults.failing = Call::Lseek;
  faults.failAt = faults.lseeks + 1;
  try {
    s.SeekSource(0);
    FAIL() << "no alarm";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to seek file");
    EXPECT_EQ(a.detail, nullptr);
  }
}

TEST_F(FileStreamTest, CloseFailureWhileAnotherAlarmPassesDoesNotEndTheProcess) {
  const std::string path = dir.File("c");
  WriteFile(path, Pattern(10));
  faults.failing = Call::Read;  // the first refill fails...
  try {
    XFileInStream s(path.c_str(), 4);
    faults.closes = 0;
    std::uint8_t b;
    s.ReadByte(b);
    FAIL() << "no alarm";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to read file");  // ...the first alarm is the one that arrives
  }
  // And with the close failing during that unwinding: the second failure is dropped.
  struct Both {
    static int read(int, void*, unsigned) { return -1; }
    static int close(int h) { platform::RuntimeFileCalls().close(h); return -1; }
  };
  const platform::FileCalls both = {kCountingCalls.open, Both::read, kCountingCalls.lseek, Both::close,
                                    kCountingCalls.write, kCountingCalls.createOutput};
  platform::SetFileCalls(&both);
  try {
    XFileInStream s(path.c_str(), 4);
    std::uint8_t b;
    s.ReadByte(b);
    FAIL() << "no alarm";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to read file");
  }
  platform::SetFileCalls(&kCountingCalls);
}

TEST(AlarmTest, CopiesOwnTheirDetail) {
  std::string detail = "C:\\temp\\file.jpg";
  auto* original = new XFileAlarm(support::FileAlarmKind::Open, detail.c_str());
  detail[0] = 'X';  // the alarm keeps its own copy from the start
  XFileAlarm copy(*original);
  EXPECT_NE(copy.detail, original->detail);
  delete original;
  EXPECT_STREQ(copy.detail, "C:\\temp\\file.jpg");
  EXPECT_STREQ(copy.system, "File System: ");
  EXPECT_EQ(std::strlen(copy.system), 13u);
  XFileAlarm assigned(support::FileAlarmKind::Read, nullptr);
  assigned = copy;
  EXPECT_STREQ(assigned.detail, "C:\\temp\\file.jpg");
  EXPECT_STREQ(assigned.message, "Unable to open file");
  EXPECT_EQ(assigned.kind, support::FileAlarmKind::Open);
  try {
    throw XFileAlarm(support::FileAlarmKind::Write, nullptr);
  } catch (const support::XAlarm& a) {  // catchable through the base
    EXPECT_STREQ(a.message, "Unable to write file");
    EXPECT_EQ(a.detail, nullptr);
  }
}

// A sink that records what it is handed.
class RecordingOut : public support::XOutStream {
 public:
  explicit RecordingOut(std::int32_t buffer) { SetUpBuffer(buffer); }
  ~RecordingOut() override { Flush(); }
  void WriteSink(const std::uint8_t* data, std::int32_t n) override {
    sizes.push_back(n);
    bytes.insert(bytes.end(), data, data + n);
  }
  std::vector<std::int32_t> sizes;
  Bytes bytes;
};

TEST(OutStreamTest, BuffersFullBlocksAndPassesLargeOnes) {
  RecordingOut out(4);
  for (std::uint8_t i = 0; i < 9; ++i) out.PutByte(i);
  EXPECT_EQ(out.sizes, (std::vector<std::int32_t>{4, 4}));  // a full buffer goes before more is taken
  const Bytes big = Pattern(10);
  out.WriteBlock(big.data(), 10);  // longer than the buffer: the one collected byte first, then direct
  EXPECT_EQ(out.sizes, (std::vector<std::int32_t>{4, 4, 1, 10}));
  const Bytes small = {1, 2, 3};
  out.WriteBlock(small.data(), 3).WriteBlock(small.data(), 3);
  EXPECT_EQ(out.sizes, (std::vector<std::int32_t>{4, 4, 1, 10, 4}));
  out.Flush();
  EXPECT_EQ(out.sizes.back(), 2);
  EXPECT_EQ(out.bytes.size(), 9u + 10u + 6u);

  RecordingOut direct(0);
  direct.PutByte(7).PutByte(8);
  direct.WriteBlock(small.data(), 3);
  EXPECT_EQ(direct.sizes, (std::vector<std::int32_t>{1, 1, 3}));
}

TEST_F(FileStreamTest, FileOutStreamWritesAndShortWriteDropsCollectedBytes) {
  const std::string path = dir.File("out");
  const Bytes content = Pattern(1000);
  {
    XFileOutStream out(path.c_str(), 0, 64);
    for (std::uint8_t b : content) out.PutByte(b);
  }
  EXPECT_EQ(ReadAll(path), content);

  faults.failing = Call::Write;
  faults.failAt = 1;
  faults.writes = 0;
  {
    XFileOutStream out(path.c_str(), 0, 8);
    const Bytes five = {1, 2, 3, 4, 5};
    out.WriteBlock(five.data(), 5);
    try {
      out.Flush();
      FAIL() << "no alarm";
    } catch (const XFileAlarm& a) {
      EXPECT_STREQ(a.message, "Unable to write file");
      EXPECT_EQ(a.detail, nullptr);
    }
    const int writes = faults.writes;
    out.Flush();  // nothing left to hand on
    EXPECT_EQ(faults.writes, writes);
  }
  EXPECT_EQ(ReadAll(path).size(), 4u);  // what the short write did put down
}

TEST_F(FileStreamTest, FileOutStreamDestructorReportsFailures) {
  const std::string path = dir.File("d");
  try {
    {
      XFileOutStream out(path.c_str(), 0, 16);
      out.PutByte(1);
      faults.failing = Call::Write;
      faults.failAt = faults.writes + 1;
    }
    FAIL() << "no alarm from the flush at destruction";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to write file");  // the flush at destruction failed; closed anyway
  }
  faults = Faults();
  faults.failing = Call::Close;
  try {
    { XFileOutStream out(path.c_str(), 0, 16); }
    FAIL() << "no alarm from the close at destruction";
  } catch (const XFileAlarm& a) {
    EXPECT_STREQ(a.message, "Unable to close file");
  }
  EXPECT_EQ(faults.closes, 1);
}

}  // namespace
