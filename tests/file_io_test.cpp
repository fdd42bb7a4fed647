// The buffered reader and writer through the sim platform's files: block
// boundaries, the end of the file, which channel holds a file, the exit
// handler, and every way a read or write can fail.
#include <string>
#include <tuple>

#include "support/exit.h"
#include "sim_fixture.h"
#include "support/file_io.h"

namespace {

// A byte pattern that holds every value, 0xFF included, at varying places.
std::string patternBytes(int size) {
  std::string bytes(size, '\0');
  for (int i = 0; i < size; i++) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class FileIoTest : public SimTest {
 protected:
  // Opens the scratch file name by its narrow (wide = false) or wide name.
  int openReader(const std::string& name, bool wide) const {
    return wide ? rfwopen(widen(hostFile(name)).c_str()) : rfopen(hostFile(name).c_str());
  }
  int openWriter(const std::string& name, bool wide) const {
    return wide ? wfwopen(widen(hostFile(name)).c_str()) : wfopen(hostFile(name).c_str());
  }
};

// ---------------------------------------------------------------------------
// Reader

class ReaderSizeTest : public FileIoTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(ReaderSizeTest, GivesEveryByteThenEndsForGood) {
  const auto [size, wide] = GetParam();
  const std::string bytes = patternBytes(size);
  writeHostFile("data.bin", bytes);
  ASSERT_EQ(openReader("data.bin", wide), 0);
  for (int i = 0; i < size; i++) {
    const int expected = static_cast<unsigned char>(bytes[i]);  // 0xFF is a value, not the end
    ASSERT_EQ(rfpeek(), expected) << "byte " << i;
    ASSERT_EQ(rfgetc(), expected) << "byte " << i;
  }
  EXPECT_EQ(rfpeek(), -1);
  const int calls = simFileCallCount();
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(rfgetc(), -1);
    EXPECT_EQ(rfpeek(), -1);
  }
  EXPECT_EQ(simFileCallCount(), calls) << "the end is sticky and reads nothing";
  rfclose();
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ReaderSizeTest,
                         ::testing::Combine(::testing::Values(0, 1, 4095, 4096, 4097, 8191, 8192, 8193),
                                            ::testing::Bool()));

TEST_F(FileIoTest, ReadsWholeBlocksOnTheCallThatConsumesTheLastByte) {
  writeHostFile("two_blocks.bin", patternBytes(8192));
  for (bool wide : {false, true}) {
    ASSERT_EQ(openReader("two_blocks.bin", wide), 0);
    const int calls = simFileCallCount();
    for (int i = 0; i < 4095; i++) rfgetc();
    EXPECT_EQ(simFileCallCount(), calls) << "the first block is in memory";
    rfgetc();  // the 4096th byte: the second block is read
    EXPECT_EQ(simFileCallCount(), calls + 1);
    for (int i = 0; i < 4095; i++) rfgetc();
    EXPECT_EQ(simFileCallCount(), calls + 1);
    EXPECT_NE(rfpeek(), -1);
    rfgetc();  // the 8192nd byte: a read that gives nothing
    EXPECT_EQ(simFileCallCount(), calls + 2);
    EXPECT_EQ(rfpeek(), -1);
    rfclose();
  }
}

TEST_F(FileIoTest, AFailingReadIsTheEnd) {
  writeHostFile("a.ini", "abc");
  const std::string bytes = patternBytes(9000);
  writeHostFile("long.bin", bytes);
  for (bool wide : {false, true}) {
    simFailFileReads(1);  // the first read: an empty file
    ASSERT_EQ(openReader("a.ini", wide), 0);
    EXPECT_EQ(rfpeek(), -1);
    EXPECT_EQ(rfgetc(), -1);
    ASSERT_EQ(openReader("long.bin", wide), 0);
    simFailFileReads(1);  // the second block
    for (int i = 0; i < 4096; i++) ASSERT_EQ(rfgetc(), static_cast<unsigned char>(bytes[i]));
    EXPECT_EQ(rfpeek(), -1);
    const int calls = simFileCallCount();
    EXPECT_EQ(rfgetc(), -1);
    EXPECT_EQ(rfgetc(), -1);
    EXPECT_EQ(simFileCallCount(), calls) << "no read is tried after the end";
    rfclose();
  }
}

TEST_F(FileIoTest, OpensThatFailReturnMinusOneAndACloseWithNothingOpenDoesNothing) {
  const int calls = simFileCallCount();
  rfclose();
  rfclose();
  EXPECT_EQ(simFileCallCount(), calls);
  EXPECT_EQ(openReader("missing.ini", false), -1);
  EXPECT_EQ(openReader("missing.ini", true), -1);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(rfgetc(), -1);
  writeHostFile("present.ini", "x");
  simFailFileOpens(2);
  EXPECT_EQ(openReader("present.ini", false), -1);
  EXPECT_EQ(openReader("present.ini", true), -1);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(openReader("present.ini", false), 0);
  EXPECT_EQ(rfgetc(), 'x');
}

TEST_F(FileIoTest, AnOpenClosesTheFileStillOpenAndTheStreamHoldsTheNewOne) {
  for (bool wideFirst : {false, true}) {
    SCOPED_TRACE(wideFirst);
    writeHostFile("first.ini", "1");
    writeHostFile("second.ini", "2");
    ASSERT_EQ(openReader("first.ini", wideFirst), 0);
    EXPECT_EQ(rfgetc(), '1');
    ASSERT_EQ(openReader("second.ini", !wideFirst), 0);
    EXPECT_EQ(rfgetc(), '2');
    EXPECT_EQ(openWriter("first.ini", wideFirst), 0) << "the second open closed the first file";
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(openWriter("second.ini", false), -1) << "held until rfclose";
    rfclose();
    EXPECT_EQ(rfpeek(), -1);
    EXPECT_EQ(openWriter("second.ini", true), 0);
    EXPECT_EQ(wfclose(), 0);
  }
}

TEST_F(FileIoTest, NeitherChannelOpensAFileTheOtherHolds) {
  ASSERT_EQ(openWriter("held.ini", false), 0);
  EXPECT_EQ(openReader("held.ini", false), -1);
  EXPECT_EQ(openReader("held.ini", true), -1);
  EXPECT_EQ(wfclose(), 0);
  for (bool wideReader : {false, true}) {
    SCOPED_TRACE(wideReader);
    writeHostFile("held.ini", "keep");
    ASSERT_EQ(openReader("held.ini", wideReader), 0);
    EXPECT_EQ(openWriter("held.ini", false), -1);
    EXPECT_EQ(openWriter("held.ini", true), -1);
    EXPECT_EQ(wfputc('x'), -1);
    EXPECT_EQ(readHostFile("held.ini"), "keep") << "the failed open must not truncate";
    EXPECT_EQ(rfgetc(), 'k');
    rfclose();
    ASSERT_EQ(openWriter("held.ini", false), 0);
    EXPECT_EQ(wfputs("new"), 0);
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(readHostFile("held.ini"), "new");
  }
}

// ---------------------------------------------------------------------------
// Reader: rfclose as an exit handler.

bool readerOpenAtCheck = false;
void checkReaderOpen() { readerOpenAtCheck = rfpeek() != -1; }

TEST_F(FileIoTest, ExitHandlerClosesTheReaderAndIsRegisteredOnlyOnce) {
  writeHostFile("once.ini", "abc");
  ASSERT_EQ(openReader("once.ini", false), 0);  // registers rfclose
  registerExitHandler(checkReaderOpen);          // runs before that rfclose
  rfclose();
  ASSERT_EQ(openReader("once.ini", true), 0);
  rfclose();
  ASSERT_EQ(openReader("once.ini", false), 0);  // a second rfclose newer than the check would close it
  readerOpenAtCheck = false;
  EXPECT_THROW(exitProgram(0), SimExit);
  EXPECT_TRUE(readerOpenAtCheck);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(openWriter("once.ini", false), 0) << "the exit handler closed the reader's file";
  EXPECT_EQ(wfclose(), 0);
}

TEST_F(FileIoTest, FailedOpensRegisterNoExitHandler) {
  EXPECT_EQ(openReader("missing.ini", false), -1);
  EXPECT_EQ(openReader("missing.ini", true), -1);
  // The list is free: sixteen handlers of our own fit (a seventeenth would assert).
  for (int i = 0; i < 16; i++) registerExitHandler(checkReaderOpen);
  EXPECT_THROW(exitProgram(0), SimExit);
}

// ---------------------------------------------------------------------------
// Writer: content and blocks.

class WriterSizeTest : public FileIoTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(WriterSizeTest, WritesWholeBlocksAndTheRestOnClose) {
  const auto [size, wide] = GetParam();
  const std::string bytes = patternBytes(size);
  ASSERT_EQ(openWriter("out.bin", wide), 0);
  const int calls = simFileCallCount();
  for (int i = 0; i < size; i++) {
    ASSERT_EQ(wfputc(static_cast<unsigned char>(bytes[i])), 0);
    // One osFileWrite per full block, on the byte that fills it.
    ASSERT_EQ(simFileCallCount(), calls + (i + 1) / 4096) << "byte " << i;
  }
  EXPECT_EQ(readHostFile("out.bin").size(), static_cast<size_t>(size / 4096 * 4096));
  EXPECT_EQ(wfclose(), 0);
  const int rest = size % 4096 ? 1 : 0;
  EXPECT_EQ(simFileCallCount(), calls + size / 4096 + rest + 1) << "blocks, the rest, the close";
  EXPECT_EQ(readHostFile("out.bin"), bytes);
  EXPECT_EQ(wfputc('x'), -1) << "closed";
}

INSTANTIATE_TEST_SUITE_P(Boundaries, WriterSizeTest,
                         ::testing::Combine(::testing::Values(0, 1, 4095, 4096, 4097, 8192, 10000),
                                            ::testing::Bool()));

TEST_F(FileIoTest, OpenTruncatesAndFlushWritesTheBufferOnBothBackEnds) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide);
    writeHostFile("flush.ini", "old contents");
    ASSERT_EQ(openWriter("flush.ini", wide), 0);
    EXPECT_EQ(readHostFile("flush.ini"), "");
    EXPECT_EQ(wfputs("abc"), 0);
    EXPECT_EQ(readHostFile("flush.ini"), "");
    EXPECT_EQ(wfflush(), 0);
    EXPECT_EQ(readHostFile("flush.ini"), "abc");
    const int calls = simFileCallCount();
    EXPECT_EQ(wfflush(), 0);
    EXPECT_EQ(simFileCallCount(), calls) << "an empty buffer writes nothing";
    EXPECT_EQ(wfputs("def"), 0);
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(readHostFile("flush.ini"), "abcdef");
  }
}

TEST_F(FileIoTest, PutsHonoursThe513ByteRule) {
  std::string text513;
  for (int i = 0; i < 513; i++) text513.push_back(static_cast<char>('a' + i % 26));
  ASSERT_EQ(openWriter("puts.ini", false), 0);
  EXPECT_EQ(wfputs(""), 0);
  EXPECT_EQ(wfputs(text513.substr(0, 512).c_str()), 0);
  EXPECT_EQ(wfputs("|"), 0);
  EXPECT_EQ(wfputs(text513.c_str()), 1);
  EXPECT_EQ(wfputs("|"), 0);
  EXPECT_EQ(wfputs((text513 + "b").c_str()), 1);
  EXPECT_EQ(wfputs("|"), 0);
  EXPECT_EQ(wfputs((text513 + std::string(87, 'c')).c_str()), 1);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHostFile("puts.ini"), text513.substr(0, 512) + "|" + text513 + "|" + text513 + "|" + text513);
}

TEST_F(FileIoTest, PutsAtTheBlockBoundaryWritesOneBlock) {
  ASSERT_EQ(openWriter("block.ini", true), 0);
  const int calls = simFileCallCount();
  const std::string line(256, 'x');
  for (int i = 0; i < 16; i++) ASSERT_EQ(wfputs(line.c_str()), 0);
  EXPECT_EQ(simFileCallCount(), calls + 1);
  EXPECT_EQ(readHostFile("block.ini"), std::string(4096, 'x'));
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls + 2) << "an empty buffer: only the close";
}

TEST_F(FileIoTest, OpeningAgainClosesTheFirstFileWithItsBytesAndASecondCloseDoesNothing) {
  ASSERT_EQ(openWriter("first.ini", false), 0);
  EXPECT_EQ(wfputs("one"), 0);
  ASSERT_EQ(openWriter("second.ini", true), 0);
  EXPECT_EQ(wfputs("two"), 0);
  EXPECT_EQ(wfclose(), 0);
  const int calls = simFileCallCount();
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls);
  EXPECT_EQ(readHostFile("first.ini"), "one");
  EXPECT_EQ(readHostFile("second.ini"), "two");
}

// ---------------------------------------------------------------------------
// Writer: failures.

TEST_F(FileIoTest, WritesFailBeforeTheFirstOpenAndAfterFailedOnes) {
  const int calls = simFileCallCount();
  EXPECT_EQ(wfputc('a'), -1);
  EXPECT_EQ(wfputs("abc"), -1);
  EXPECT_EQ(wfputs(std::string(600, 'a').c_str()), -1);
  EXPECT_EQ(wfflush(), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls);
  EXPECT_EQ(openWriter("no_such_dir/out.ini", false), -1);
  EXPECT_EQ(wfputc('a'), -1);
  EXPECT_EQ(openWriter("no_such_dir/out.ini", true), -1);
  EXPECT_EQ(wfputc('a'), -1);
  simFailFileOpens(2);
  EXPECT_EQ(openWriter("out.ini", false), -1);
  EXPECT_EQ(openWriter("out.ini", true), -1);
  EXPECT_EQ(wfputc('a'), -1);
  EXPECT_EQ(wfclose(), 0);
  ASSERT_EQ(openWriter("out.ini", false), 0);
  EXPECT_EQ(wfputc('a'), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHostFile("out.ini"), "a");
}

// After a failing or short block write the file is closed at once, the bytes
// are lost, and every later write fails without a file call.
class WriterFailureTest : public FileIoTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(WriterFailureTest, BlockWriteFailureClosesTheFile) {
  const auto [wide, shortWrite] = GetParam();
  ASSERT_EQ(openWriter("fail.ini", wide), 0);
  for (int i = 0; i < 4095; i++) ASSERT_EQ(wfputc('a'), 0);
  shortWrite ? simShortFileWrites(1) : simFailFileWrites(1);
  EXPECT_EQ(wfputc('a'), -1);
  const int calls = simFileCallCount();
  EXPECT_EQ(wfputc('b'), -1);
  EXPECT_EQ(wfputs("more"), -1);
  EXPECT_EQ(wfflush(), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls) << "no file call after the failure";
  EXPECT_LT(readHostFile("fail.ini").size(), 4096u) << "no second attempt";
  EXPECT_EQ(openReader("fail.ini", false), 0) << "closed: the reader opens it";
  rfclose();
  ASSERT_EQ(openWriter("fail.ini", wide), 0) << "a new open clears the closed flag";
  EXPECT_EQ(wfputs("ok"), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHostFile("fail.ini"), "ok");
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriterFailureTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST_F(FileIoTest, FlushOrPutsFailureClosesTheFile) {
  ASSERT_EQ(openWriter("flushfail.ini", false), 0);
  EXPECT_EQ(wfputs("abc"), 0);
  simFailFileWrites(1);
  EXPECT_EQ(wfflush(), -1);
  EXPECT_EQ(wfputc('d'), -1);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHostFile("flushfail.ini"), "");
  EXPECT_EQ(openReader("flushfail.ini", false), 0);
  // puts reports a failure inside its text.
  ASSERT_EQ(openWriter("putsfail.ini", false), 0);
  for (int i = 0; i < 4000; i++) ASSERT_EQ(wfputc('a'), 0);
  simFailFileWrites(1);
  EXPECT_EQ(wfputs(std::string(200, 'b').c_str()), -1);
  EXPECT_EQ(wfputs("x"), -1);
}

TEST_F(FileIoTest, CloseWithAFailingLastWriteFails) {
  for (bool shortWrite : {false, true}) {
    ASSERT_EQ(openWriter("closefail.ini", true), 0);
    EXPECT_EQ(wfputs("abcd"), 0);
    shortWrite ? simShortFileWrites(1) : simFailFileWrites(1);
    EXPECT_EQ(wfclose(), -1) << shortWrite;
    const int calls = simFileCallCount();
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(wfputc('x'), -1);
    EXPECT_EQ(simFileCallCount(), calls);
    EXPECT_EQ(openReader("closefail.ini", true), 0) << "closed";
    rfclose();
  }
}

TEST_F(FileIoTest, ResetClosesBothChannels) {
  writeHostFile("in.ini", "abc");
  ASSERT_EQ(openReader("in.ini", false), 0);
  ASSERT_EQ(openWriter("out.ini", false), 0);
  EXPECT_EQ(wfputs("dropped"), 0);
  resetFileChannels();
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(wfputc('x'), -1);
  EXPECT_EQ(readHostFile("out.ini"), "");
  EXPECT_EQ(openWriter("in.ini", false), 0) << "both files are free again";
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(openReader("out.ini", true), 0);
}

}  // namespace
