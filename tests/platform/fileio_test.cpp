#include "platform/fileio.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <numeric>

#include "support/temp_dir.hpp"

namespace {

const byte_array ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST(FileIo, ReadsRangesAndCutsAtTheEnd) {
  temp_dir dir;
  const std::string p = dir.write("f.bin", ten);
  uni::fileio f;
  ASSERT_TRUE(f.open(p, 0, 0, 0));
  EXPECT_EQ(f.size(), 10u);
  byte_array out;
  ASSERT_TRUE(f.read(out, 4, 3));
  EXPECT_EQ(out, (byte_array{3, 4, 5, 6}));
  ASSERT_TRUE(f.read(out, 100, 8));  // cut to the end
  EXPECT_EQ(out, (byte_array{8, 9}));
  EXPECT_FALSE(f.read(out, 1, 10));  // at the end
  EXPECT_FALSE(f.read(out, 1, ~u64{0}));
  out = {7};
  EXPECT_TRUE(f.read(out, 0, 0));
  EXPECT_EQ(out, byte_array{7});
}

// A file that shrinks after it was measured must not give a buffer that the
// caller would index as if it were full.
TEST(FileIo, ShortReadIsAFailure) {
  temp_dir dir;
  const std::string p = dir.write("shrinks.bin", ten);
  uni::fileio f;
  ASSERT_TRUE(f.open(p, 0, 0, 0));
  ASSERT_EQ(truncate(p.c_str(), 4), 0);
  byte_array out;
  EXPECT_FALSE(f.read(out, 10, 0));
  EXPECT_EQ(out, (byte_array{0, 1, 2, 3}));
}

// Ranges inside the window come from it without a read (bytes the file
// holds by now do not show); a range that runs past it keeps what is held
// and reads the rest; a range longer than a block grows the window; a file
// that shrank gives what it still holds.
TEST(ReadWindow, ServesRangesFromOneBlockRead) {
  struct step {
    const char* what;
    u8 file_adds;  // the file's bytes become their offset + this (0: unchanged)
    u64 cut_to;    // the file is cut to this size first (0: not cut)
    u64 offset, length;
    bool ok;
    u64 count;  // bytes viewed, the first and the last of them
    u8 first, last;
  };
  const step steps[] = {
      {"BlockAtZero", 0, 0, 0, 8, true, 8, 0, 7},
      {"InsideNotReadAgain", 100, 0, 8, 8, true, 8, 8, 15},
      {"PastTheEndKeepsWhatIsHeld", 0, 0, 12, 8, true, 8, 12, 119},
      {"LongerThanABlock", 0, 0, 4, 40, true, 40, 104, 143},
      {"LongRangeStillServes", 50, 0, 20, 8, true, 8, 120, 127},
      {"LongerFromItsStartReadsTheRest", 0, 0, 4, 48, true, 48, 104, 101},
      {"CutToTheEndOfTheFile", 0, 0, 60, 8, true, 4, 110, 113},
      {"AtTheEnd", 0, 0, 64, 1, false, 0, 0, 0},
      {"ShrunkViewsWhatArrived", 0, 20, 16, 8, false, 4, 66, 69},
      {"PastTheShrunkEnd", 0, 0, 20, 4, false, 0, 0, 0},
      {"LongerThanABlockAndShrunk", 0, 0, 0, 40, false, 20, 50, 69},
  };
  temp_dir dir;
  byte_array bytes(64);
  std::iota(bytes.begin(), bytes.end(), u8{0});
  const std::string p = dir.write("w.bin", bytes);
  uni::fileio f;
  ASSERT_TRUE(f.open(p, 0, 0, 0));
  uni::read_window window(f, 16);
  for (const step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.file_adds != 0) {
      for (u64 i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<u8>(i + s.file_adds);
      dir.write("w.bin", bytes);
    }
    ASSERT_TRUE(s.cut_to == 0 || truncate(p.c_str(), static_cast<off_t>(s.cut_to)) == 0);
    std::span<const u8> out{bytes.data(), 1};
    EXPECT_EQ(window.view(out, s.length, s.offset), s.ok);
    ASSERT_EQ(out.size(), s.count);
    EXPECT_EQ(s.count == 0 ? 0 : out.front(), s.first);
    EXPECT_EQ(s.count == 0 ? 0 : out.back(), s.last);
  }
}

TEST(FileIo, DirectoriesFifosAndSocketsAreRefused) {
  temp_dir dir;
  uni::fileio f;
  EXPECT_FALSE(f.open(dir.path(""), 0, 0, 0));
  EXPECT_FALSE(f.is_open());
  EXPECT_FALSE(f.open(std::string("/"), 0, 0, 0));

  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(f.open(fifo, 0, 0, 0));

  const std::string sock = dir.path("sock");
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::copy(sock.begin(), sock.end(), addr.sun_path);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_FALSE(f.open(sock, 0, 0, 0));
  close(s);
}

TEST(FileIo, OpenModesCreateTruncateAndKeep) {
  temp_dir dir;
  uni::fileio f;
  const std::string p = dir.path("new.txt");
  EXPECT_FALSE(f.open(p, 1, 0, 0));  // writing without truncation needs the file
  const mode_t old_mask = umask(022);
  ASSERT_TRUE(f.open(p, 1, 0, 1));
  umask(old_mask);
  struct stat st {};
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // 0666 less the umask
  ASSERT_TRUE(f.write(ten.data(), ten.size()));
  EXPECT_EQ(f.size(), 10u);
  f.close();

  // A read-only open with the truncate flag leaves the file alone.
  ASSERT_TRUE(f.open(p, 0, 0, 1));
  EXPECT_EQ(f.size(), 10u);
  f.close();
  uni::fileio ctor(p, 0, 1, 0);
  EXPECT_TRUE(ctor.is_open());
  EXPECT_EQ(ctor.size(), 10u);
}

TEST(FileIo, WriteAtAppendAndTrailingSlashes) {
  temp_dir dir;
  const std::string p = dir.path("w.bin");
  uni::fileio f;
  ASSERT_TRUE(f.open(p + "//", 1, 0, 1));
  EXPECT_EQ(f.path(), p);
  ASSERT_TRUE(f.append(ten));
  const u8 patch[] = {0xaa, 0xbb};
  ASSERT_TRUE(f.write_at(patch, 2, 4));
  EXPECT_FALSE(f.append(byte_array{}));
  std::ostringstream empty;
  EXPECT_TRUE(f.append_text(empty));
  std::ostringstream text;
  text << "xy";
  EXPECT_TRUE(f.append_text(text));
  f.close();
  EXPECT_EQ(read_all(p), (byte_array{0, 1, 2, 3, 0xaa, 0xbb, 6, 7, 8, 9, 'x', 'y'}));
}

// Linux file names are bytes; one that is not UTF-8 must open the file it names.
TEST(FileIo, NonUtf8NameOpensItsFile) {
  temp_dir dir;
  const std::string p = dir.write(std::string("bad\xff\xfe name.etl"), ten);
  uni::fileio f;
  ASSERT_TRUE(f.open(p, 0, 0, 0));
  EXPECT_EQ(f.size(), 10u);
}

TEST(FileIo, FullDeviceReportsTheFailure) {
  uni::fileio f;
  if (!f.open(std::string("/dev/full"), 1, 0, 0)) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_FALSE(f.write(ten.data(), ten.size()));
  EXPECT_TRUE(f.write_failed());
}

TEST(FileIo, BufferedOutputFailureOnFullDevice) {
  uni::fileio f;
  if (!f.open(std::string("/dev/full"), 1, 0, 0)) GTEST_SKIP() << "/dev/full is not available";
  std::ostream* out = f.make_output();
  ASSERT_NE(out, nullptr);
  *out << "results that cannot be written\n";
  EXPECT_FALSE(f.close());
}

// A write failure belongs to the file it happened on: the object opened again
// on another file must not report that file's complete output as failed.
TEST(FileIo, WriteFailureDoesNotOutliveItsFile) {
  uni::fileio f;
  if (!f.open(std::string("/dev/full"), 1, 0, 0)) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_FALSE(f.write(ten.data(), ten.size()));
  EXPECT_FALSE(f.close());
  temp_dir dir;
  ASSERT_TRUE(f.open(dir.path("good.bin"), 1, 0, 1));
  EXPECT_FALSE(f.write_failed());
  ASSERT_TRUE(f.write(ten.data(), ten.size()));
  EXPECT_TRUE(f.close());
}

// Blocks reach the file when the buffer fills or the file closes; a flush of
// the stream writes nothing.
TEST(FileIo, BufferedOutputWritesWholeBlocks) {
  temp_dir dir;
  const std::string p = dir.path("out.txt");
  uni::fileio f;
  ASSERT_TRUE(f.open(p, 1, 0, 1));
  std::ostream* out = f.make_output();
  ASSERT_NE(out, nullptr);
  *out << "abc";
  out->flush();
  EXPECT_EQ(read_all(p).size(), 0u);
  *out << std::string(0x40000 - 3, 'z');
  EXPECT_EQ(read_all(p).size(), 0x40000u);
  *out << "tail";
  EXPECT_TRUE(f.close());
  EXPECT_EQ(read_all(p).size(), 0x40000u + 4);
}

// Standard output's stream: bytes leave in whole blocks and on a flush; a
// descriptor that takes nothing more leaves the stream bad.
TEST(DescriptorOstream, WritesBlocksAndFlushesAndFails) {
  temp_dir dir;
  const std::string p = dir.path("out.txt");
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_NE(fd, -1);
  {
    uni::descriptor_ostream blocks(fd, 16);
    std::ostream out(&blocks);
    out << std::string(40, 'x');
    EXPECT_EQ(read_all(p).size(), 32u);  // two full blocks
    out.flush();
    EXPECT_EQ(read_all(p).size(), 40u);
    out << "tail";
  }
  EXPECT_EQ(read_all(p).size(), 44u);  // the rest when the stream goes
  ::close(fd);

  const int full = ::open("/dev/full", O_WRONLY);
  if (full == -1) GTEST_SKIP() << "/dev/full is not available";
  uni::descriptor_ostream blocks(full, 16);
  std::ostream out(&blocks);
  out << "results that cannot be written";
  out.flush();
  EXPECT_FALSE(out.good());
  ::close(full);
}

TEST(FileIo, ClosedFileHasNoOutputAndNoSize) {
  uni::fileio f;
  EXPECT_EQ(f.make_output(), nullptr);
  EXPECT_EQ(f.size(), 0u);
  byte_array out;
  EXPECT_FALSE(f.read(out, 1, 0));
  EXPECT_FALSE(f.write(ten.data(), 1));
  EXPECT_FALSE(uni::fileio_is_open(&f));
  EXPECT_FALSE(uni::fileio_is_open(nullptr));
}

TEST(FileIo, FileHeadAndInfo) {
  temp_dir dir;
  const std::string p = dir.write("h.bin", ten);
  byte_array head;
  ASSERT_TRUE(uni::read_file_head(head, p, 4));
  EXPECT_EQ(head, (byte_array{0, 1, 2, 3}));
  ASSERT_TRUE(uni::read_file_head(head, p, 100));
  EXPECT_EQ(head, ten);
  EXPECT_FALSE(uni::read_file_head(head, p, 0));
  EXPECT_FALSE(uni::read_file_head(head, dir.write("empty", byte_array{}), 10));

  file_info info;
  ASSERT_TRUE(uni::get_file_info(info, p));
  EXPECT_EQ(info.size, 10u);
  EXPECT_EQ(info.is_dir, 0);
  EXPECT_EQ(info.time_kind, 8u);
  ASSERT_TRUE(uni::get_file_info(info, dir.path("")));
  EXPECT_EQ(info.is_dir, 1);
  EXPECT_FALSE(uni::get_file_info(info, dir.path("missing")));
}

TEST(FileIo, OwnPathIsThisProgram) {
  const std::string exe = get_exe_path();
  EXPECT_FALSE(exe.empty());
  EXPECT_NE(exe.find("vesk_tests"), std::string::npos);
}

}  // namespace
