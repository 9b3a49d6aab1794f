// Streams: seeking from each origin, short transfers, copying, memory, string
// and file streams, and what they do with bad positions and files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/Classes.h"

namespace {

// A stream that hands out at most Limit bytes per call and Available in total.
class TTrickle : public TStream {
public:
  TTrickle(int64_t Available, int64_t Limit) : FAvailable(Available), FLimit(Limit) {}
  int64_t Read(void* Buffer, int64_t Count) override {
    const int64_t N = std::min({Count, FLimit, FAvailable - FPos});
    if (N <= 0) return 0;
    std::memset(Buffer, 'x', static_cast<size_t>(N));
    FPos += N;
    return N;
  }
  int64_t Write(const void*, int64_t Count) override { return std::min(Count, FLimit); }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    FPos = (Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FAvailable) + Offset;
    return FPos;
  }

private:
  int64_t FAvailable, FLimit, FPos = 0;
};

class StreamFiles : public ::testing::Test {
protected:
  void SetUp() override {
    char Template[] = "/tmp/zylhost-streams-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
  }
  void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }
  AnsiString Dir;
};

}  // namespace

TEST(MemoryStream, SeekFromEveryOrigin) {
  TMemoryStream S;
  S.WriteBuffer("0123456789", 10);
  EXPECT_EQ(S.GetPosition(), 10);
  EXPECT_EQ(S.Seek(2, soBeginning), 2);
  EXPECT_EQ(S.Seek(3, soCurrent), 5);
  EXPECT_EQ(S.Seek(-1, soEnd), 9);
  char C;
  S.ReadBuffer(&C, 1);
  EXPECT_EQ(C, '9');
  EXPECT_EQ(S.Read(&C, 1), 0);  // at the end
  EXPECT_EQ(S.GetSize(), 10);
}

TEST(MemoryStream, PositionsOutsideTheDataAreSafe) {
  TMemoryStream S;
  S.WriteBuffer("abc", 3);
  char Buf[4] = {};
  S.Seek(-5, soBeginning);
  EXPECT_EQ(S.Read(Buf, 4), 0);
  EXPECT_EQ(S.Write("z", 1), 0);
  EXPECT_EQ(S.Size(), 3);
  S.Seek(5, soBeginning);
  EXPECT_EQ(S.Read(Buf, 4), 0);
  S.WriteBuffer("z", 1);  // writing past the end fills the gap with zeros
  ASSERT_EQ(S.Size(), 6);
  EXPECT_EQ(std::memcmp(S.Memory(), "abc\0\0z", 6), 0);
  S.SetSize(2);
  EXPECT_EQ(S.GetPosition(), 2);  // clipped to the new end
  EXPECT_THROW(S.SetSize(-1), EStreamError);
  EXPECT_EQ(S.Seek(INT64_MAX, soCurrent), INT64_MAX);  // saturates instead of overflowing
  EXPECT_EQ(S.Write("q", 1), 0);
  S.Clear();
  EXPECT_EQ(S.Size(), 0);
  EXPECT_EQ(S.GetPosition(), 0);
}

TEST(StreamTransfers, ShortReadsAndWritesRaise) {
  TMemoryStream S;
  S.WriteBuffer("abc", 3);
  S.SetPosition(1);
  char Buf[8];
  EXPECT_THROW(S.ReadBuffer(Buf, 3), EReadError);
  EXPECT_THROW(S.ReadBuffer(Buf, -1), EReadError);
  S.ReadBuffer(Buf, 0);  // nothing asked, nothing wrong
  TTrickle T(100, 10);  // a source that moves at most 10 bytes per call
  char Big[32];
  T.ReadBuffer(Big, 10);
  EXPECT_THROW(T.ReadBuffer(Big, 20), EReadError);
  EXPECT_THROW(T.WriteBuffer(Big, 20), EWriteError);
}

TEST(StreamTransfers, CopyFromCopiesAllOrCountAndRaisesWhenShort) {
  TMemoryStream Source, Dest;
  Source.WriteBuffer("hello world", 11);
  Source.SetPosition(6);
  EXPECT_EQ(Dest.CopyFrom(Source, 5), 5);
  EXPECT_EQ(std::memcmp(Dest.Memory(), "world", 5), 0);
  TMemoryStream All;
  EXPECT_EQ(All.CopyFrom(Source, 0), 11);  // 0: the whole source from its start
  EXPECT_EQ(std::memcmp(All.Memory(), "hello world", 11), 0);
  Source.SetPosition(8);
  TMemoryStream Short;
  EXPECT_THROW(Short.CopyFrom(Source, 5), EReadError);
  TTrickle Trickle(1000, 7);  // a source that never hands out a full chunk
  TMemoryStream FromTrickle;
  EXPECT_THROW(FromTrickle.CopyFrom(Trickle, 20), EReadError);
  TTrickle Sink(0, 3);
  EXPECT_THROW(Sink.CopyFrom(All, 0), EWriteError);
}

TEST(StreamTransfers, LoadFromStreamLeavesOldContentWhenTheSourceFails) {
  TMemoryStream M;
  M.WriteBuffer("keep", 4);
  TTrickle Bad(100, 10);  // claims 100 bytes, hands out 10 per call
  EXPECT_THROW(M.LoadFromStream(Bad), EReadError);
  ASSERT_EQ(M.Size(), 4);
  EXPECT_EQ(std::memcmp(M.Memory(), "keep", 4), 0);
}

TEST(StringStream, ReadsWritesAndClampsSeeks) {
  TStringStream S("abcdef");
  EXPECT_EQ(S.ReadString(2), "ab");
  S.Seek(-1, soEnd);
  EXPECT_EQ(S.ReadString(10), "f");
  S.Seek(100, soBeginning);
  EXPECT_EQ(S.GetPosition(), 6);
  S.WriteString("gh");
  EXPECT_EQ(S.DataString(), "abcdefgh");
  S.SetSize(3);
  EXPECT_EQ(S.DataString(), "abc");
}

TEST_F(StreamFiles, FileStreamCreatesWritesAndReadsBack) {
  const AnsiString Name = Dir + "/data.bin";
  {
    TFileStream F(Name, fmCreate);
    F.WriteBuffer("0123456789", 10);
    EXPECT_EQ(F.GetSize(), 10);
    F.SetSize(4);
    EXPECT_EQ(F.GetPosition(), 4);
  }
  TFileStream R(Name, fmOpenRead);
  EXPECT_EQ(R.GetSize(), 4);
  char Buf[8] = {};
  EXPECT_EQ(R.Read(Buf, 8), 4);
  EXPECT_STREQ(Buf, "0123");
  EXPECT_EQ(R.Write("x", 1), 0);  // opened for reading only
  EXPECT_THROW(R.WriteBuffer("x", 1), EWriteError);
  R.SetPosition(1);
  TMemoryStream M;
  M.CopyFrom(R, 3);
  EXPECT_EQ(std::memcmp(M.Memory(), "123", 3), 0);
}

TEST_F(StreamFiles, OpeningFailuresNameTheFileAndTheReason) {
  try {
    TFileStream F(Dir + "/missing.bin", fmOpenRead);
    FAIL();
  } catch (const EFOpenError& E) {
    EXPECT_NE(E.Message().find("missing.bin"), AnsiString::npos);
    EXPECT_NE(E.Message().find("No such file"), AnsiString::npos);
  }
  EXPECT_THROW(TFileStream(Dir, fmOpenRead), EFOpenError);  // a directory is no file
  EXPECT_THROW(TFileStream(Dir + "/no/such/dir/x", fmCreate), EFCreateError);
}

TEST_F(StreamFiles, MemoryStreamAndStringsGoThroughFiles) {
  TMemoryStream M;
  M.WriteBuffer("abc\0def", 7);
  M.SaveToFile(Dir + "/m.bin");
  TMemoryStream N;
  N.LoadFromFile(Dir + "/m.bin");
  ASSERT_EQ(N.Size(), 7);
  EXPECT_EQ(std::memcmp(N.Memory(), "abc\0def", 7), 0);
  TStringList L;
  L.Add("x");
  L.Add("y");
  L.SaveToFile(Dir + "/l.txt");
  TStringList K;
  K.LoadFromFile(Dir + "/l.txt");
  EXPECT_TRUE(K.Equals(L));
  EXPECT_THROW(K.LoadFromFile(Dir + "/none.txt"), EFOpenError);
  EXPECT_TRUE(K.Equals(L));  // a failed load keeps what was there
}
