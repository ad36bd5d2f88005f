#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/zarn_string.hpp"

namespace {

TEST(SplitPath, Table) {
  struct Case {
    std::string path;
    bool result;
    std::string folder;
    std::string name;
  };
  const Case cases[] = {
      {"D:\\dir\\file.etl", true, "D:\\dir", "file.etl"},
      {"dir/sub/..", true, "dir/sub//..", "."},
      {"dir\\sub\\..", true, "dir\\sub\\..", "."},
      {"file.etl", true, ".", "file.etl"},
      {"..", true, "..", "."},
      {"", false, "", ""},
      // The later of the two separators splits a mixed path.
      {"C:\\logs/x.etl", true, "C:\\logs", "x.etl"},
      {"/home/u\\odd.etl", true, "/home/u", "odd.etl"},
      {"/var/log/a.etl", true, "/var/log", "a.etl"},
      // A separator at the start: the folder is the root.
      {"/x.etl", true, "/", "x.etl"},
      {"\\x.etl", true, "\\", "x.etl"},
      {"/", true, "/", ""},
      {"/..", true, "/..", "."},
      {"dir/", true, "dir", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string folder = "stale";
    std::string name = "stale";
    EXPECT_EQ(split_path(c.path, folder, name), c.result);
    EXPECT_EQ(folder, c.folder);
    EXPECT_EQ(name, c.name);
    folder = name = "stale";
    EXPECT_EQ(split_path(c.path.c_str(), folder, name), c.result);
    EXPECT_EQ(folder, c.folder);
    EXPECT_EQ(name, c.name);

    const std::wstring wpath(c.path.begin(), c.path.end());
    std::wstring wfolder;
    std::wstring wname;
    EXPECT_EQ(split_path_w(wpath, wfolder, wname), c.result);
    EXPECT_EQ(wfolder, std::wstring(c.folder.begin(), c.folder.end()));
    EXPECT_EQ(wname, std::wstring(c.name.begin(), c.name.end()));
  }
}

TEST(SplitPath, NullPointerGivesFalse) {
  std::string folder = "stale";
  std::string name = "stale";
  EXPECT_FALSE(split_path(static_cast<const char*>(nullptr), folder, name));
  EXPECT_EQ(folder, "");
  EXPECT_EQ(name, "");
}

TEST(SplitPathW, EmptyPathLeavesOutputs) {
  std::wstring folder = L"f";
  std::wstring name = L"n";
  EXPECT_FALSE(split_path_w(L"", folder, name));
  EXPECT_EQ(folder, L"f");
  EXPECT_EQ(name, L"n");
}

TEST(SplitPathExt, Table) {
  struct Case {
    const char* path;
    bool result;
    std::string folder;
    std::string base;
    std::string ext;
  };
  const Case cases[] = {
      {"/a/b/name.tar.gz", true, "/a/b", "name.tar", "gz"},
      {"dir\\name.", true, "dir", "name", ""},
      {"noext", true, ".", "noext", ""},
      {".hidden", true, ".", "", "hidden"},
      {"", false, "", "", ""},
      {nullptr, false, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "(null)");
    std::string folder = "s", base = "s", ext = "s";
    EXPECT_EQ(split_path_ext(c.path, folder, base, ext), c.result);
    EXPECT_EQ(folder, c.folder);
    EXPECT_EQ(base, c.base);
    EXPECT_EQ(ext, c.ext);
  }
}

TEST(VssPrefix, Forms) {
  EXPECT_EQ(vss_prefix(false, true), "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy");
  EXPECT_EQ(vss_prefix(false, false), "\\\\?\\\\Device\\HarddiskVolumeShadowCopy");
  EXPECT_EQ(vss_prefix(true, true), "\\\\?\\globalroot\\device\\harddiskvolumeshadowcopy");
  EXPECT_EQ(shadow_copy_prefix_len(), 46u);
  EXPECT_EQ(vss_prefix(false, true).size(), shadow_copy_prefix_len());
}

class ExpandEnvVars : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZT_HOME", "/home/me", 1);
    setenv("ZT_A", "1", 1);
    setenv("ZT_B", "2", 1);
    setenv("ZT_EMPTY", "", 1);
    setenv("ZT_PCT", "%ZT_A%", 1);
    unsetenv("ZT_NOPE");
    unsetenv("vss");
    unsetenv("VSS");
  }
  void TearDown() override {
    for (const char* n : {"ZT_HOME", "ZT_A", "ZT_B", "ZT_EMPTY", "ZT_PCT"}) unsetenv(n);
  }
};

TEST_F(ExpandEnvVars, Table) {
  const std::string vss = vss_prefix(false, true);
  struct Case {
    std::string in;
    bool allow_vss;
    std::string out;
  };
  const Case cases[] = {
      {"%ZT_HOME%/x", false, "/home/me/x"},
      {"%ZT_A%-%ZT_B%", false, "1-2"},
      {"%ZT_A%%ZT_B%", false, "12"},
      {"%ZT_NOPE%/x", false, "%ZT_NOPE%/x"},
      // The closing '%' of a missing reference may open the next one.
      {"%ZT_NOPE%%ZT_HOME%", false, "%ZT_NOPE%/home/me"},
      {"%ZT_NOPE%ZT_HOME%", false, "%ZT_NOPE/home/me"},
      {"50%", false, "50%"},
      {"%", false, "%"},
      {"%%", false, "%%"},
      {"a%ZT_EMPTY%b", false, "ab"},
      // An inserted value is not scanned again.
      {"%ZT_PCT%", false, "%ZT_A%"},
      {"%VSS%1\\Windows", true, vss + "1\\Windows"},
      {"%vss%1", true, vss + "1"},
      {"%VSS%1", false, "%VSS%1"},
      {"x%ZT_A%", true, "x1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(expand_env_vars(c.in, c.allow_vss), c.out);
  }
}

TEST_F(ExpandEnvVars, LengthLimit) {
  const std::string at_limit = "%ZT_A%" + std::string(506, 'x');
  ASSERT_EQ(at_limit.size(), 512u);
  EXPECT_EQ(expand_env_vars(at_limit, false), "1" + std::string(506, 'x'));
  const std::string over = "%ZT_A%" + std::string(507, 'x');
  ASSERT_EQ(over.size(), 513u);
  EXPECT_EQ(expand_env_vars(over, false), over);
  // The limit is tested again after each expansion: the first reference grows
  // the text past 512, so the second stays.
  const std::string grows = "%ZT_LONG%%ZT_A%" + std::string(490, 'y');
  setenv("ZT_LONG", std::string(40, 'L').c_str(), 1);
  EXPECT_EQ(expand_env_vars(grows, false), std::string(40, 'L') + "%ZT_A%" + std::string(490, 'y'));
  unsetenv("ZT_LONG");
}

TEST(SelectTimeLocale, NeverThrows) {
  std::string name = "stale";
  const bool ok = select_time_locale(name);
  if (ok) {
    EXPECT_TRUE(locale_name_valid(name.c_str()));
  } else {
    EXPECT_EQ(name, "");
  }
}

TEST(SelectTimeLocale, MissingLocaleInEnvironment) {
  const char* old_all = std::getenv("LC_ALL");
  const std::string saved_all = old_all ? old_all : "";
  const char* old_lang = std::getenv("LANG");
  const std::string saved_lang = old_lang ? old_lang : "";
  setenv("LC_ALL", "zz_NOWHERE.UTF-8", 1);
  setenv("LANG", "zz_NOWHERE.UTF-8", 1);
  setenv("LC_TIME", "C", 1);
  std::string name = "stale";
  // The environment's default cannot be built; LC_TIME names one that can.
  EXPECT_TRUE(select_time_locale(name));
  EXPECT_EQ(name, "C");
  unsetenv("LC_TIME");
  EXPECT_FALSE(select_time_locale(name));
  EXPECT_EQ(name, "");
  if (old_all) setenv("LC_ALL", saved_all.c_str(), 1); else unsetenv("LC_ALL");
  if (old_lang) setenv("LANG", saved_lang.c_str(), 1); else unsetenv("LANG");
}

}  // namespace
