// The authoring tool as its users meet it: the real program run as a
// separate process, with its exit codes, its output and the files it leaves.
// Hostile set-ups (links planted in the output or target directory, devices
// and FIFOs as inputs or outputs, archives that name paths or claim huge
// sizes) must be refused without touching anything outside the command's
// own outputs.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/format.h"
#include "tests/native/truxpack_test_support.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/project.h"

#ifdef TRUXPACK_BINARY

namespace fs = std::filesystem;
using namespace trux_test;

namespace {

// Names left in dir that a finished command must not leave (temporary files).
std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> left;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir))
    if (e.path().filename().string().find(".trux-") == 0 || e.path().filename().string().find(".tmp") != std::string::npos)
      left.push_back(e.path().string());
  return left;
}

// A scratch directory with the synthetic stub and a one-file project.
struct Workspace : TempDir {
  Workspace() {
    Bytes stub = MakeStub();
    Write("stub.exe", std::string(stub.begin(), stub.end()));
    Write("files/a.txt", "alpha");
  }
  void Project(const std::string& name, const std::string& files) const {
    Write(name, "[product]\nname = \"P\"\n" + files);
  }
  Outcome Build(const std::string& project, const std::string& output, std::vector<std::string> more = {},
            std::vector<std::string> env = {}) const {
    std::vector<std::string> args = {"build", project, "-o", output, "--stub", "stub.exe"};
    args.insert(args.end(), more.begin(), more.end());
    return Truxpack(path, args, env);
  }
};

const char kOneFile[] = "[[file]]\nsource = \"files/a.txt\"\n";

// The tool's version as the VERSION file of the source tree holds it.
std::string SourceVersion() {
  std::string v = Slurp(fs::path(TRUX_SOURCE_DIR) / "VERSION");
  return v.substr(0, v.find('\n'));
}

// "142,848".
std::string Grouped(uintmax_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// The file's SHA-256 as sha256sum prints it.
std::string Sha256sum(const fs::path& file) {
  std::string command = "sha256sum '" + file.string() + "'", out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[128];
  while (fgets(buffer, sizeof buffer, p)) out += buffer;
  pclose(p);
  return out.substr(0, out.find(' '));
}

}  // namespace

// ------------------------------------------------------------ conventions

TEST(TruxpackCliTest, HelpVersionAndArgumentErrors) {
  Workspace w;
  w.Project("p.toml", kOneFile);
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* inStdout;  // "" when stdout may be anything
    const char* inStderr;
  };
  const Case cases[] = {
      {{"--help"}, 0, "commands:", ""},
      {{"-h"}, 0, "commands:", ""},
      {{"help"}, 0, "extract", ""},
      {{"help", "build"}, 0, "--werror", ""},
      {{"build", "--help"}, 0, "--output FILE", ""},
      {{"extract", "-h"}, 0, "--force", ""},
      {{"list", "--help"}, 0, "--json", ""},
      {{"--version"}, 0, "archive format 17.20", ""},
      {{}, 2, "", "usage: truxpack"},
      {{"bulid"}, 2, "", "unknown command bulid; did you mean build?"},
      {{"build", "p.toml", "-o", "x.exe", "--quite"}, 2, "", "unknown option --quite; did you mean --quiet?"},
      {{"build", "p.toml", "-o", "x.exe", "--stubb", "s"}, 2, "", "did you mean --stub?"},
      {{"build", "p.toml", "-o", "x.exe", "-x"}, 2, "", "unknown option -x"},
      {{"build", "p.toml"}, 2, "", "missing -o/--output"},
      {{"build", "p.toml", "-o"}, 2, "", "--output needs a value"},
      {{"build", "p.toml", "-o", "x.exe", "--volume-size", "0"}, 2, "", "--volume-size"},
      {{"build", "p.toml", "-o", "x.exe", "--level", "max"}, 2, "", "--level"},
      {{"list"}, 2, "", "missing setup.exe"},
      {{"verify", "a", "b"}, 2, "", "unexpected argument b"},
      {{"list", "--json=yes", "x"}, 2, "", "--json takes no value"},
      {{"--version"}, 0, "runtime stub: ", ""},
      {{"help", "stub"}, 0, "--output FILE", ""},
      {{"stub"}, 2, "", "missing -o/--output"},
      {{"schema", "x"}, 2, "", "unexpected argument x"},
  };
  for (const Case& c : cases) {
    Outcome r = Truxpack(w.path, c.args);
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(c.code, r.code) << shown << r.err;
    EXPECT_NE(std::string::npos, r.out.find(c.inStdout)) << shown << "stdout: " << r.out;
    EXPECT_NE(std::string::npos, r.err.find(c.inStderr)) << shown << "stderr: " << r.err;
    if (c.code == 0) {
      EXPECT_EQ("", r.err) << shown;
    }
  }
  EXPECT_FALSE(fs::exists(w.path / "x.exe"));
}

TEST(TruxpackCliTest, QuietVerboseAndLongOptionForms) {
  Workspace w;
  w.Project("p.toml", kOneFile);
  Outcome loud = w.Build("p.toml", "a.exe");
  EXPECT_EQ(0, loud.code) << loud.err;
  EXPECT_NE(std::string::npos, loud.out.find("a.exe: 1 files")) << loud.out;
  Outcome quiet = Truxpack(w.path, {"build", "-q", "p.toml", "--output=b.exe", "--stub=stub.exe"});
  EXPECT_EQ(0, quiet.code) << quiet.err;
  EXPECT_EQ("", quiet.out);
  EXPECT_EQ("", quiet.err);
  EXPECT_EQ(Slurp(w.path / "a.exe"), Slurp(w.path / "b.exe"));
  Outcome verbose = Truxpack(w.path, {"extract", "-v", "a.exe", "x"});
  EXPECT_EQ(0, verbose.code) << verbose.err;
  EXPECT_NE(std::string::npos, verbose.err.find("x/a.txt")) << verbose.err;
  Outcome init = Truxpack(w.path, {"init", "new"});
  EXPECT_EQ(0, init.code) << init.err;
  EXPECT_NE(std::string::npos, init.out.find("wrote new/project.toml")) << init.out;
}

TEST(TruxpackCliTest, ProjectErrorsNameLineColumnAndNearestKey) {
  Workspace w;
  struct Case {
    const char* toml;
    const char* expected;
  };
  const Case cases[] = {
      {"[product]\nname = \"P\"\npublisher = 7\n", "p.toml:3:13: product.publisher: expected a text"},
      {"[product]\nname = \"P\"\npublsher = \"x\"\n",
       "p.toml:3:1: product.publsher: unknown key; did you mean publisher?"},
      {"[product]\nname = \"P\"\n[flag]\nuninstaller = true\n", "flag: unknown key; did you mean flags?"},
      {"[product]\nname = \"P\"\n[dialogs]\nstage_pause = 10000\n", "p.toml:4:15: dialogs.stage_pause: 10000 is outside"},
      {"[product]\nname = \"P\"\nzzzz = 1\n", "product.zzzz: unknown key\n"},
  };
  for (const Case& c : cases) {
    w.Write("p.toml", c.toml);
    Outcome r = w.Build("p.toml", "x.exe");
    EXPECT_EQ(1, r.code) << c.toml;
    EXPECT_NE(std::string::npos, r.err.find(c.expected)) << "got: " << r.err;
  }
}

TEST(TruxpackCliTest, WarningsAndWerror) {
  Workspace w;
  std::string longName(240, 'n');
  w.Write("files/" + longName + ".txt", "long");
  struct Case {
    const char* what;
    std::string files;
    const char* warning;
  };
  const Case cases[] = {
      {"empty project", "", "no [[file]] entries"},
      {"same destination twice", std::string(kOneFile) + kOneFile, "go to the same place"},
      {"path past 259 characters", "[[file]]\nsource = \"files/" + longName + ".txt\"\n", "more than Windows' 259"},
  };
  for (const Case& c : cases) {
    w.Project("p.toml", c.files);
    Outcome r = w.Build("p.toml", "w.exe");
    EXPECT_EQ(0, r.code) << c.what << r.err;
    EXPECT_NE(std::string::npos, r.err.find("truxpack: warning: ")) << c.what << ": " << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.warning)) << c.what << ": " << r.err;
    fs::remove(w.path / "w.exe");
    Outcome strict = w.Build("p.toml", "w.exe", {"--werror"});
    EXPECT_EQ(1, strict.code) << c.what;
    EXPECT_FALSE(fs::exists(w.path / "w.exe")) << c.what;
  }
  w.Project("p.toml", kOneFile);
  Outcome clean = w.Build("p.toml", "w.exe", {"--werror"});
  EXPECT_EQ(0, clean.code) << clean.err;
  EXPECT_EQ(std::string::npos, clean.err.find("warning")) << clean.err;
}

// ------------------------------------------------------------ names

TEST(TruxpackCliTest, NamesWindowsCannotCreateAreRefusedWithTheRule) {
  Workspace w;
  struct Case {
    const char* name;
    const char* rule;
  };
  const Case cases[] = {
      {"what?.txt", "contains '?'"},
      {"a:b.txt", "contains ':'"},
      {"trailing. ", "ends with a space"},
      {"dir.\\\\x.txt", "ends with a dot"},
      {"CON", "device name"},
      {"sub\\\\lpt1.txt", "device name"},
      {"Com9.log", "device name"},
      {"pipe|d", "contains '|'"},
  };
  for (const Case& c : cases) {
    w.Project("p.toml", std::string("[[file]]\nsource = \"files/a.txt\"\nname = \"") + c.name + "\"\n");
    Outcome r = w.Build("p.toml", "n.exe");
    EXPECT_EQ(1, r.code) << c.name;
    EXPECT_NE(std::string::npos, r.err.find(c.rule)) << c.name << ": " << r.err;
    EXPECT_NE(std::string::npos, r.err.find("file[1].name")) << r.err;
  }
  for (const char* fine : {"CONFIG.SYS", "com10.txt", "a.b.c", "x y.txt", "caf\xC3\xA9.txt"}) {
    w.Project("p.toml", std::string("[[file]]\nsource = \"files/a.txt\"\nname = \"") + fine + "\"\n");
    Outcome r = w.Build("p.toml", "n.exe");
    EXPECT_EQ(0, r.code) << fine << ": " << r.err;
    fs::remove(w.path / "n.exe");
  }
}

TEST(TruxpackCliTest, NonAsciiNamesRoundTripAsUtf8) {
  Workspace w;
  w.Write("files/caf\xC3\xA9.txt", "coffee");
  w.Write("files/glob/na\xC3\xAFve \xE2\x82\xAC.txt", "euro");
  w.Project("p.toml",
            "[[file]]\nsource = \"files/caf\xC3\xA9.txt\"\n[[file]]\nsource = \"files/glob/*.txt\"\nname = \"g\"\n");
  Outcome b = w.Build("p.toml", "u.exe");
  ASSERT_EQ(0, b.code) << b.err;
  Outcome list = Truxpack(w.path, {"list", "u.exe"});
  EXPECT_NE(std::string::npos, list.out.find("caf\xC3\xA9.txt")) << list.out;
  EXPECT_EQ(std::string::npos, list.out.find("caf\xE9")) << "raw Windows-1252 byte printed";
  Outcome x = Truxpack(w.path, {"extract", "u.exe", "out"});
  ASSERT_EQ(0, x.code) << x.err;
  EXPECT_EQ("coffee", Slurp(w.path / "out" / "caf\xC3\xA9.txt"));
  EXPECT_EQ("euro", Slurp(w.path / "out" / "g" / "na\xC3\xAFve \xE2\x82\xAC.txt"));
  // A name with no Windows-1252 form is an error naming it.
  w.Write("files/x/\xE4\xB8\x80.txt", "cjk");
  w.Project("p.toml", "[[file]]\nsource = \"files/x/*\"\n");
  Outcome bad = w.Build("p.toml", "v.exe");
  EXPECT_EQ(1, bad.code);
  EXPECT_NE(std::string::npos, bad.err.find("U+4E00 has no Windows-1252 form")) << bad.err;
  EXPECT_NE(std::string::npos, bad.err.find("\xE4\xB8\x80.txt")) << bad.err;
}

TEST(TruxpackCliTest, SymlinksExcludesAndDotfiles) {
  Workspace w;
  w.Write("tree/real.txt", "real");
  w.Write("tree/.hidden", "dot");
  w.Write("tree/.git/config", "git");
  w.Write("tree/keep.bak", "bak");
  w.Write("tree/sub/deep.txt", "deep");
  w.Write("outside/secret.txt", "secret");
  fs::create_symlink("real.txt", w.path / "tree" / "alias.txt");
  fs::create_directories(w.path / "tree2");
  w.Write("tree2/x.txt", "x");
  fs::create_symlink("../outside/secret.txt", w.path / "tree2" / "leak.txt");
  fs::create_symlink("sub", w.path / "tree" / "dirlink");

  w.Project("p.toml", "[[file]]\nsource = \"tree/**\"\nexclude = [\"*.bak\"]\n");
  Outcome b = w.Build("p.toml", "s.exe");
  ASSERT_EQ(0, b.code) << b.err;
  EXPECT_NE(std::string::npos, b.err.find("a link to a directory; not followed")) << b.err;
  Outcome x = Truxpack(w.path, {"extract", "s.exe", "out"});
  ASSERT_EQ(0, x.code) << x.err;
  EXPECT_EQ("real", Slurp(w.path / "out" / "alias.txt"));  // under the link's own name
  EXPECT_EQ("real", Slurp(w.path / "out" / "real.txt"));
  EXPECT_EQ("deep", Slurp(w.path / "out" / "sub" / "deep.txt"));
  EXPECT_FALSE(fs::exists(w.path / "out" / ".hidden"));
  EXPECT_FALSE(fs::exists(w.path / "out" / ".git"));
  EXPECT_FALSE(fs::exists(w.path / "out" / "keep.bak"));
  EXPECT_FALSE(fs::exists(w.path / "out" / "dirlink"));

  // Dotfiles come in when the pattern names them.
  w.Project("p.toml", "[[file]]\nsource = \"tree/.h*\"\n");
  Outcome dot = w.Build("p.toml", "d.exe");
  ASSERT_EQ(0, dot.code) << dot.err;
  EXPECT_NE(std::string::npos, Truxpack(w.path, {"list", "d.exe"}).out.find(".hidden"));

  // A link leaving the tree is refused, or packed when the project says so.
  w.Project("p.toml", "[[file]]\nsource = \"tree2/*\"\n");
  Outcome refused = w.Build("p.toml", "l.exe");
  EXPECT_EQ(1, refused.code);
  EXPECT_NE(std::string::npos, refused.err.find("outside the source tree; refused")) << refused.err;
  EXPECT_FALSE(fs::exists(w.path / "l.exe"));
  w.Project("p.toml", "[[file]]\nsource = \"tree2/*\"\nfollow_outside_links = true\n");
  Outcome allowed = w.Build("p.toml", "l.exe");
  EXPECT_EQ(0, allowed.code) << allowed.err;
}

// ------------------------------------------------------------ reproducible builds

TEST(TruxpackCliTest, SameProjectGivesSameBytesAnywhere) {
  Workspace a, b;
  for (Workspace* w : {&a, &b}) {
    w->Write("files/a.txt", "alpha");
    w->Write("files/b.txt", "beta");
    w->Project("p.toml", "[flags]\ncompressed = true\n[[file]]\nsource = \"files/*.txt\"\n");
  }
  // Different modification times: both are clamped to SOURCE_DATE_EPOCH.
  struct timespec t1[2] = {{1700000000, 0}, {1700000000, 0}}, t2[2] = {{1800000000, 0}, {1800000000, 0}};
  utimensat(AT_FDCWD, (a.path / "files/a.txt").c_str(), t1, 0);
  utimensat(AT_FDCWD, (b.path / "files/a.txt").c_str(), t2, 0);
  const std::string epoch = "SOURCE_DATE_EPOCH=1600000000";
  Outcome ra = a.Build("p.toml", "first.exe", {"--volume-size", "40"}, {"TZ=America/New_York", epoch});
  Outcome rb = b.Build("p.toml", "other-name.exe", {"--volume-size", "40"}, {"TZ=Asia/Tokyo", epoch});
  ASSERT_EQ(0, ra.code) << ra.err;
  ASSERT_EQ(0, rb.code) << rb.err;
  EXPECT_EQ(Slurp(a.path / "first.exe"), Slurp(b.path / "other-name.exe"));
  EXPECT_TRUE(fs::exists(a.path / "p2.XAV"));  // volumes named after the project, not the output
  EXPECT_EQ(Slurp(a.path / "p2.XAV"), Slurp(b.path / "p2.XAV"));

  // Without SOURCE_DATE_EPOCH the time zone still does not matter: times are
  // written in UTC, and extract gives them back.
  utimensat(AT_FDCWD, (b.path / "files/a.txt").c_str(), t1, 0);
  Outcome rc = a.Build("p.toml", "tz1.exe", {}, {"TZ=America/New_York"});
  Outcome rd = a.Build("p.toml", "tz2.exe", {}, {"TZ=Asia/Tokyo"});
  ASSERT_EQ(0, rc.code);
  ASSERT_EQ(0, rd.code);
  EXPECT_EQ(Slurp(a.path / "tz1.exe"), Slurp(a.path / "tz2.exe"));
  Outcome json = Truxpack(a.path, {"list", "--json", "tz1.exe"});
  EXPECT_NE(std::string::npos, json.out.find("\"time\": \"2023-11-14T22:13:20\"")) << json.out;
  Outcome x = Truxpack(a.path, {"extract", "tz1.exe", "out"}, {"TZ=Asia/Tokyo"});
  ASSERT_EQ(0, x.code) << x.err;
  struct stat st;
  ASSERT_EQ(0, stat((a.path / "out" / "a.txt").c_str(), &st));
  EXPECT_EQ(1700000000, st.st_mtime);

  // A project may name another fixed zone.
  a.Project("q.toml", "[data]\ntime_zone = \"+02:00\"\n[[file]]\nsource = \"files/a.txt\"\n");
  ASSERT_EQ(0, a.Build("q.toml", "z.exe").code);
  EXPECT_NE(std::string::npos, Truxpack(a.path, {"list", "--json", "z.exe"}).out.find("2023-11-15T00:13:20"));
  a.Project("q.toml", "[data]\ntime_zone = \"Europe/Paris\"\n");
  EXPECT_NE(std::string::npos, a.Build("q.toml", "z2.exe").err.find("data.time_zone"));
  EXPECT_EQ(1, a.Build("p.toml", "e.exe", {}, {"SOURCE_DATE_EPOCH=soon"}).code);
}

TEST(TruxpackCliTest, ListJsonIsOneDocumentWithEveryEntry) {
  Workspace w;
  w.Write("files/q\"uote.txt", "q");
  w.Project("p.toml", std::string(kOneFile) + "[[file]]\nsource = \"files/q\\\"uote.txt\"\nname = \"d\\\\q.txt\"\n");
  ASSERT_EQ(0, w.Build("p.toml", "j.exe").code);
  Outcome r = Truxpack(w.path, {"list", "--json", "j.exe"});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\"schema\": 1"));
  EXPECT_NE(std::string::npos, r.out.find("\"tool\": {\"name\": \"truxpack\", \"version\": \"" + SourceVersion() + "\"}"))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\"name\": \"d\\\\q.txt\"")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\"destination\": \"%InstallDir%\\\\a.txt\"")) << r.out;
  if (system("python3 -c 'pass' >/dev/null 2>&1") == 0) {
    w.Write("doc.json", r.out);
    std::string check = "cd '" + w.path.string() +
                        "' && python3 -c 'import json; d = json.load(open(\"doc.json\")); "
                        "assert len(d[\"entries\"]) == 2 and d[\"settings\"][\"product\"] == \"P\"'";
    EXPECT_EQ(0, system(check.c_str())) << r.out;
  }
}

// ------------------------------------------------------------ the tool itself

// truxpack carries the runtime stub: build from a folder that is not the
// checkout, without --stub, gives the same bytes as with --stub naming the
// stub the tree was built with; stub -o writes exactly that file, and
// --version names its size and SHA-256. A tree built without a stub says
// so, and build asks for --stub.
TEST(TruxpackCliTest, BuildWithoutStubUsesTheBuiltInOneFromAnyFolder) {
  Workspace w;
  w.Project("p.toml", kOneFile);
  ASSERT_NE(fs::path(TRUX_SOURCE_DIR), w.path);
  Outcome builtIn = Truxpack(w.path, {"build", "p.toml", "-o", "built-in.exe"});
  Outcome version = Truxpack(w.path, {"--version"});
  Outcome stub = Truxpack(w.path, {"stub", "-o", "stub.out"});
  const std::string stubFile = TRUX_STUB_FILE;
  if (stubFile.empty()) {
    EXPECT_EQ(2, builtIn.code);
    EXPECT_NE(std::string::npos, builtIn.err.find("built without a runtime stub; give one with --stub FILE"))
        << builtIn.err;
    EXPECT_FALSE(fs::exists(w.path / "built-in.exe"));
    EXPECT_NE(std::string::npos, version.out.find("runtime stub: none built in\n")) << version.out;
    EXPECT_EQ(1, stub.code);
    EXPECT_NE(std::string::npos, stub.err.find("without a runtime stub; nothing written")) << stub.err;
    EXPECT_FALSE(fs::exists(w.path / "stub.out"));
    return;
  }
  ASSERT_EQ(0, builtIn.code) << builtIn.err;
  Outcome given = w.Build("p.toml", "given.exe");  // the synthetic stub: a different installer
  ASSERT_EQ(0, given.code) << given.err;
  Outcome same = Truxpack(w.path, {"build", "p.toml", "-o", "same.exe", "--stub", stubFile});
  ASSERT_EQ(0, same.code) << same.err;
  const std::string installer = Slurp(w.path / "built-in.exe");
  EXPECT_GT(installer.size(), fs::file_size(stubFile));
  EXPECT_EQ(Slurp(w.path / "same.exe"), installer) << "the built-in stub is not " << stubFile;
  EXPECT_NE(Slurp(w.path / "given.exe"), installer);

  ASSERT_EQ(0, stub.code) << stub.err;
  EXPECT_EQ(Slurp(stubFile), Slurp(w.path / "stub.out"));
  const std::string sha = Sha256sum(stubFile);
  ASSERT_EQ(64u, sha.size());
  EXPECT_NE(std::string::npos,
            version.out.find("runtime stub: " + Grouped(fs::file_size(stubFile)) + " bytes, SHA-256 " + sha + "\n"))
      << version.out;
  EXPECT_EQ(0u, version.out.find("truxpack " + SourceVersion() + " (archive format")) << version.out;
  // stub writes like every output: never through a link, never over an input.
  fs::create_symlink(w.path / "files/a.txt", w.path / "link.exe");
  EXPECT_EQ(1, Truxpack(w.path, {"stub", "-o", "link.exe"}).code);
  EXPECT_EQ("alpha", Slurp(w.path / "files/a.txt"));
}

// The schema `truxpack schema` prints is the one init writes beside its
// project, and the project's first line names it for editors.
TEST(TruxpackCliTest, InitWritesTheSchemaAndNamesItInTheProject) {
  Workspace w;
  Outcome schema = Truxpack(w.path, {"schema"});
  ASSERT_EQ(0, schema.code) << schema.err;
  EXPECT_EQ(0u, schema.out.find("{\n  \"$schema\": \"https://json-schema.org/draft/2020-12/schema\",\n"));
  EXPECT_NE(std::string::npos, schema.out.find("truxpack " + SourceVersion()));
  ASSERT_EQ(0, Truxpack(w.path, {"init", "new"}).code);
  EXPECT_EQ(schema.out, Slurp(w.path / "new/truxpack.schema.json"));
  const std::string project = Slurp(w.path / "new/project.toml");
  EXPECT_EQ(0u, project.find("#:schema ./truxpack.schema.json\n")) << project;
  Outcome built = Truxpack(w.path, {"build", "new/project.toml", "-o", "new.exe", "--stub", "stub.exe"});
  EXPECT_EQ(0, built.code) << built.err;
}

// ------------------------------------------------------------ safe outputs

TEST(TruxpackCliTest, OutputsThatAreNotPlainFilesOrAreInputsAreRefused) {
  Workspace w;
  w.Project("p.toml", kOneFile);
  w.Write("victim.txt", "precious");
  fs::create_symlink("victim.txt", w.path / "link.exe");
  ASSERT_EQ(0, mkfifo((w.path / "fifo.exe").c_str(), 0600));
  struct Case {
    const char* output;
    const char* message;
  };
  const Case cases[] = {
      {"link.exe", "is a symbolic link; not replaced"},
      {"fifo.exe", "not a regular file; not replaced"},
      {"/dev/null", "not a regular file; not replaced"},
      {"files", "not a regular file; not replaced"},
      {"p.toml", "is an input of this command"},
      {"files/a.txt", "is an input of this command"},
      {"stub.exe", "is an input of this command"},
  };
  for (const Case& c : cases) {
    Outcome r = w.Build("p.toml", c.output);
    EXPECT_EQ(1, r.code) << c.output;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.output << ": " << r.err;
  }
  EXPECT_EQ("precious", Slurp(w.path / "victim.txt"));
  EXPECT_TRUE(fs::is_symlink(w.path / "link.exe"));
  EXPECT_TRUE(fs::is_fifo(w.path / "fifo.exe"));
  EXPECT_EQ("alpha", Slurp(w.path / "files/a.txt"));
  EXPECT_EQ(MakeStub().size(), fs::file_size(w.path / "stub.exe"));
  EXPECT_TRUE(Leftovers(w.path).empty());

  // Volumes wait for the installer: a build whose installer cannot be
  // written leaves neither volumes nor temporary files.
  Outcome v = w.Build("p.toml", "fifo.exe", {"--volume-size", "64"});
  EXPECT_EQ(1, v.code);
  for (const fs::directory_entry& e : fs::directory_iterator(w.path))
    EXPECT_NE(".XAV", e.path().extension().string()) << e.path();
  EXPECT_TRUE(Leftovers(w.path).empty());
}

TEST(TruxpackCliTest, TemporaryFilesAreExclusiveOwnerOnlyAndGoneAfterASignal) {
  TempDir dir;
  fs::path target = dir.path / "out.bin";
  // Between Add and Commit the data sits in an owner-only file of an
  // unpredictable name; the final name appears only at Commit.
  {
    OutputSet out;
    std::string error;
    const unsigned char data[] = "abc";
    ASSERT_TRUE(out.Add(target.string(), data, 3, error)) << error;
    std::vector<fs::path> temps;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path)) temps.push_back(e.path());
    ASSERT_EQ(1u, temps.size());
    EXPECT_EQ(0u, temps[0].filename().string().find(".trux-"));
    EXPECT_GE(temps[0].filename().string().size(), 20u);  // 64 random bits
    struct stat st;
    ASSERT_EQ(0, lstat(temps[0].c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 077) << std::oct << st.st_mode;
    EXPECT_FALSE(fs::exists(target));
    ASSERT_TRUE(out.Commit(error)) << error;
  }
  EXPECT_EQ("abc", Slurp(target));
  EXPECT_TRUE(Leftovers(dir.path).empty());

  // SIGINT and SIGTERM while outputs are pending remove them.
  for (int sig : {SIGINT, SIGTERM}) {
    pid_t pid = fork();
    if (pid == 0) {
      InstallCleanupHandlers();
      OutputSet out;
      std::string error;
      std::vector<unsigned char> big(1 << 20, 7);
      out.Add((dir.path / "pending1.bin").string(), big.data(), big.size(), error);
      out.Add((dir.path / "pending2.bin").string(), big.data(), big.size(), error);
      raise(sig);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
    EXPECT_TRUE(Leftovers(dir.path).empty());
    EXPECT_FALSE(fs::exists(dir.path / "pending1.bin"));
  }
}

// ------------------------------------------------------------ bounded inputs

TEST(TruxpackCliTest, InputsMustBeRegularFilesCheckedForSizeFirst) {
  Workspace w;
  ASSERT_EQ(0, mkfifo((w.path / "files" / "pipe").c_str(), 0600));
  {
    // A sparse file just over the entry limit: refused without being read.
    int fd = open((w.path / "files" / "huge.bin").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, (off_t)kMaxEntrySize + 1));
    close(fd);
  }
  struct Case {
    const char* what;
    std::string project;
    std::vector<std::string> extra;
    const char* message;
  };
  const Case cases[] = {
      {"FIFO source", "[[file]]\nsource = \"files/pipe\"\n", {}, "files/pipe: not a regular file"},
      {"device licence", "[dialogs]\nlicense_files = [\"/dev/zero\"]\n", {}, "/dev/zero: not a regular file"},
      {"device bitmap", "[background]\nbitmap = \"/dev/zero\"\n", {}, "not a regular file"},
      {"device stub", kOneFile, {"--stub", "/dev/zero"}, "not a regular file"},
      {"huge sparse source", "[[file]]\nsource = \"files/huge.bin\"\n", {}, "larger than 1 GiB"},
  };
  for (const Case& c : cases) {
    w.Project("p.toml", c.project);
    std::vector<std::string> args = {"build", "p.toml", "-o", "b.exe", "--stub", "stub.exe"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    Outcome r = Truxpack(w.path, args);
    EXPECT_EQ(1, r.code) << c.what;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.what << ": " << r.err;
  }
  for (const char* command : {"list", "verify"}) {
    Outcome r = Truxpack(w.path, {command, "/dev/zero"});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("not a regular file")) << r.err;
  }
  Outcome project = Truxpack(w.path, {"build", "/dev/zero", "-o", "b.exe", "--stub", "stub.exe"});
  EXPECT_EQ(1, project.code);
  EXPECT_NE(std::string::npos, project.err.find("not a regular file")) << project.err;
}

TEST(TruxpackCliTest, DeclaredSizesAboveTheLimitAreRefusedBeforeUnpacking) {
  Workspace w;
  // 4 MiB of zeros compress to a few kilobytes.
  w.Write("files/zeros.bin", std::string(4 << 20, '\0'));
  w.Project("p.toml", "[flags]\ncompressed = true\n[[file]]\nsource = \"files/zeros.bin\"\n");
  ASSERT_EQ(0, w.Build("p.toml", "z.exe").code);
  EXPECT_LT(fs::file_size(w.path / "z.exe"), 64u * 1024);
  Outcome refused = Truxpack(w.path, {"verify", "--max-size", "1M", "z.exe"});
  EXPECT_EQ(1, refused.code);
  EXPECT_NE(std::string::npos, refused.err.find("more than the limit of 1048576 (raise it with --max-size)"))
      << refused.err;
  EXPECT_EQ(0, Truxpack(w.path, {"verify", "--max-size", "8M", "z.exe"}).code);
  EXPECT_EQ(0, Truxpack(w.path, {"verify", "z.exe"}).code);
  EXPECT_EQ(2, Truxpack(w.path, {"verify", "--max-size", "lots", "z.exe"}).code);
}

// ------------------------------------------------------------ hostile archives

namespace {

// An installer built from entries the project loader would refuse, to see
// what the readers make of archives someone else wrote.
void WriteHostileInstaller(const Workspace& w, const std::string& name, std::vector<EntryInput> entries,
                           const std::string& volumeBase = "", bool outside = false) {
  Project p;
  p.settings.productName = "P";
  p.settings.uninstallerFileName = "Uninstall.exe";
  p.settings.messageCount = 1;
  p.settings.languageNames.Append("English");
  p.settings.messages.Append("P");
  p.entries = std::move(entries);
  for (EntryInput& e : p.entries) e.time = {2020, 1, 2, 3, 4, 5};
  if (!volumeBase.empty()) {
    p.settings.volumeBaseName = String(volumeBase.c_str());
    p.volumeBaseNameSet = true;
  }
  p.settings.dataOutsideImage = outside ? 1 : 0;
  BuiltInstaller built;
  std::string error;
  ASSERT_TRUE(BuildInstaller(p, MakeStub(), "setup", built, error)) << error;
  w.Write(name, std::string(built.installer.begin(), built.installer.end()));
}

EntryInput Entry(const std::string& name, const std::string& data) {
  EntryInput e;
  e.name = name;
  e.data.assign(data.begin(), data.end());
  return e;
}

}  // namespace

TEST(TruxpackCliTest, ExtractNeverFollowsLinksOrLeavesTheTarget) {
  Workspace w;
  WriteHostileInstaller(w, "h.exe", {Entry("sub\\x.txt", "payload"), Entry("up.txt", "up")});
  fs::create_directories(w.path / "elsewhere");
  fs::create_directories(w.path / "target");
  fs::create_symlink(w.path / "elsewhere", w.path / "target" / "sub");
  Outcome r = Truxpack(w.path, {"extract", "h.exe", "target"});
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.err.find("not followed")) << r.err;
  EXPECT_TRUE(fs::is_empty(w.path / "elsewhere"));
  Outcome forced = Truxpack(w.path, {"extract", "--force", "h.exe", "target"});
  EXPECT_EQ(1, forced.code);
  EXPECT_TRUE(fs::is_empty(w.path / "elsewhere"));

  // A link at a file's own place is not written through either.
  fs::remove(w.path / "target" / "sub");
  fs::create_directories(w.path / "target" / "sub");
  w.Write("elsewhere/keep.txt", "keep");
  fs::create_symlink(w.path / "elsewhere" / "keep.txt", w.path / "target" / "sub" / "x.txt");
  Outcome link = Truxpack(w.path, {"extract", "h.exe", "target"});
  EXPECT_EQ(1, link.code);
  EXPECT_NE(std::string::npos, link.err.find("exists; nothing written")) << link.err;
  Outcome replaced = Truxpack(w.path, {"extract", "--force", "h.exe", "target"});
  EXPECT_EQ(0, replaced.code) << replaced.err;
  EXPECT_EQ("keep", Slurp(w.path / "elsewhere" / "keep.txt"));
  EXPECT_FALSE(fs::is_symlink(w.path / "target" / "sub" / "x.txt"));
  EXPECT_EQ("payload", Slurp(w.path / "target" / "sub" / "x.txt"));
  EXPECT_EQ("up", Slurp(w.path / "target" / "up.txt"));
  EXPECT_TRUE(Leftovers(w.path / "target").empty());
}

// Names that would leave the target are corrupt records (70), as the
// installer reads them: such an installer is never extracted at all.
TEST(TruxpackCliTest, NamesThatLeaveTheirDirectoryAreCorrupt) {
  for (const char* name : {"..\\..\\up.txt", "C:\\abs.txt", "\\root.txt", "a/../../b.txt", "x.txt:stream"}) {
    Bytes region = SerializeEntries({Entry("ok.txt", "ok"), Entry(name, "bad")});
    std::vector<ReadEntry> entries;
    std::string detail;
    EXPECT_EQ(70, WalkEntries(region.data(), region.size(), {2, 3}, entries, detail)) << name;
    EXPECT_EQ(1u, entries.size()) << name;
  }
}

TEST(TruxpackCliTest, ExtractRefusesOverwritesAndDuplicatesUnlessForced) {
  Workspace w;
  WriteHostileInstaller(w, "d.exe", {Entry("Same.txt", "first"), Entry("same.TXT", "second")});
  Outcome dup = Truxpack(w.path, {"extract", "d.exe", "out"});
  EXPECT_EQ(1, dup.code);
  EXPECT_NE(std::string::npos, dup.err.find("have the same name; nothing written")) << dup.err;
  EXPECT_FALSE(fs::exists(w.path / "out" / "Same.txt"));
  Outcome forced = Truxpack(w.path, {"extract", "--force", "d.exe", "out"});
  ASSERT_EQ(0, forced.code) << forced.err;
  EXPECT_EQ("second", Slurp(w.path / "out" / "same.TXT"));  // the later one wins, as on Windows
  EXPECT_FALSE(fs::exists(w.path / "out" / "Same.txt"));

  // An existing file is kept without --force; the times come back.
  WriteHostileInstaller(w, "e.exe", {Entry("a.txt", "new")});
  w.Write("out2/a.txt", "old");
  Outcome refused = Truxpack(w.path, {"extract", "e.exe", "out2"});
  EXPECT_EQ(1, refused.code);
  EXPECT_EQ("old", Slurp(w.path / "out2" / "a.txt"));
  ASSERT_EQ(0, Truxpack(w.path, {"extract", "-f", "e.exe", "out2"}).code);
  EXPECT_EQ("new", Slurp(w.path / "out2" / "a.txt"));
  struct stat st;
  ASSERT_EQ(0, stat((w.path / "out2" / "a.txt").c_str(), &st));
  EXPECT_EQ(1577934245, st.st_mtime);  // 2020-01-02 03:04:05 UTC

  // An entry named like the installer never replaces it, even with --force.
  WriteHostileInstaller(w, "self.exe", {Entry("self.exe", "gotcha")});
  std::string before = Slurp(w.path / "self.exe");
  Outcome self = Truxpack(w.path, {"extract", "--force", "self.exe", "."});
  EXPECT_EQ(1, self.code);
  EXPECT_NE(std::string::npos, self.err.find("is an input of this command")) << self.err;
  EXPECT_EQ(before, Slurp(w.path / "self.exe"));

  // Long names work: the temporary name does not grow with the final one.
  std::string longName(250, 'L');
  WriteHostileInstaller(w, "long.exe", {Entry(longName, "long")});
  Outcome lr = Truxpack(w.path, {"extract", "long.exe", "out3"});
  EXPECT_EQ(0, lr.code) << lr.err;
  EXPECT_EQ("long", Slurp(w.path / "out3" / longName));
}

TEST(TruxpackCliTest, ControlCharactersInNamesArePrintedEscaped) {
  Workspace w;
  WriteHostileInstaller(w, "c.exe", {Entry("evil\x1b]0;pwned\x07.txt", "x"), Entry("caf\xE9\x81.txt", "y")});
  Outcome list = Truxpack(w.path, {"list", "c.exe"});
  ASSERT_EQ(0, list.code) << list.err;
  EXPECT_EQ(std::string::npos, list.out.find('\x1b'));
  EXPECT_EQ(std::string::npos, list.out.find('\x07'));
  EXPECT_NE(std::string::npos, list.out.find("evil\\x1B]0;pwned\\x07.txt")) << list.out;
  EXPECT_NE(std::string::npos, list.out.find("caf\xC3\xA9\\x81.txt")) << list.out;
  Outcome json = Truxpack(w.path, {"list", "--json", "c.exe"});
  EXPECT_EQ(std::string::npos, json.out.find('\x1b'));
  EXPECT_NE(std::string::npos, json.out.find("\\u001b")) << json.out;
  Outcome x = Truxpack(w.path, {"extract", "c.exe", "out"});
  EXPECT_EQ(1, x.code);
  EXPECT_EQ(std::string::npos, x.err.find('\x1b'));
}

TEST(TruxpackCliTest, VolumeNamesArePlainFileNamesBesideTheInstaller) {
  Workspace w;
  for (const char* base : {"../../x", "/tmp/x", "sub/x", "C:x", "a\\b"}) {
    w.Project("p.toml", std::string("[data]\nvolume_base_name = \"") + (strcmp(base, "a\\b") ? base : "a\\\\b") +
                            "\"\n" + kOneFile);
    Outcome r = w.Build("p.toml", "v.exe", {"--volume-size", "16"});
    EXPECT_EQ(1, r.code) << base;
    EXPECT_NE(std::string::npos, r.err.find("data.volume_base_name")) << base << ": " << r.err;
  }
  // An archive naming its volumes by a path is refused by the readers
  // before anything is opened: an installer whose data lies after its image,
  // cut short, needs its volume 2.
  WriteHostileInstaller(w, "inner/far.exe", {Entry("a.txt", std::string(5000, 'a'))}, "../far", true);
  fs::resize_file(w.path / "inner/far.exe", fs::file_size(w.path / "inner/far.exe") - 100);
  w.Write("far2.XAV", "bait");  // where the archive points
  Outcome r = Truxpack(w.path, {"verify", "inner/far.exe"});
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.err.find("not a plain file name; not opened")) << r.err;
  int asked = 0;
  Bytes installer;
  std::string error;
  ASSERT_TRUE(ReadWholeFile((w.path / "inner/far.exe").string(), installer, error));
  InstallerContents c;
  ReadInstaller(installer, [&asked](const std::string&, Bytes&) { return ++asked, false; }, c);
  EXPECT_EQ(ReadStatus::kVolumeMissing, c.status);
  EXPECT_EQ(0, asked);
}

// ------------------------------------------------------------ entries and deletion records

TEST(TruxpackCliTest, ListShowsEveryEntryFieldAndDeletionRecord) {
  Workspace w;
  w.Write("files/lib.dll", "dll");
  w.Write("files/f.ttf", "font");
  w.Project("p.toml",
            "[[file]]\nsource = \"files/a.txt\"\noverwrite = \"keep\"\npermanent = true\nattributes = [\"readonly\", "
            "\"hidden\"]\ndate = \"2020-01-02 03:04:05\"\ndestination = \"renamed.txt\"\n"
            "[[file]]\nsource = \"files/lib.dll\"\nkind = \"versioned\"\nversion = \"1.2.3b\"\noverwrite = "
            "\"replace_only\"\ndate = \"2021-05-06\"\n"
            "[[file]]\nsource = \"files/f.ttf\"\nkind = \"font\"\nfont_name = \"Trux (TrueType)\"\nto_uninstall_dir = true\n"
            "date = \"2019-09-09 09:09:09\"\n"
            "[[delete]]\nfiles = \"%InstallDir%\\\\*.tmp\"\n"
            "[[delete]]\nfiles = \"old\\\\*.log\"\ncondition = \"date_before\"\nargument = \"6/5/2019 12:00\"\non_reboot = true\n"
            "[[delete]]\nfiles = \"*.bak\"\ncondition = \"size_at_most\"\nargument = \"1024\"\n");
  ASSERT_EQ(0, w.Build("p.toml", "s.exe").code);
  Outcome r = Truxpack(w.path, {"list", "s.exe"});
  ASSERT_EQ(0, r.code) << r.err;
  for (const char* line : {
           "  %InstallDir%\\*.tmp  always\n",
           "  old\\*.log  date_before \"6/5/2019 12:00\"  on_reboot\n",
           "  *.bak  size_at_most \"1024\"\n",
           "              overwrite keep; permanent; attributes 0x3; renamed; date 2020-01-02 03:04:05\n",
           "              overwrite replace_only; version 1.2.3b; date 2021-05-06\n",
           "              to the uninstall directory; font \"Trux (TrueType)\"; date 2019-09-09 09:09:09\n",
       })
    EXPECT_NE(std::string::npos, r.out.find(line)) << line << "\n" << r.out;
}

TEST(TruxpackCliTest, ExtractWritesTheInstalledNamesAndTimes) {
  Workspace w;
  w.Project("p.toml",
            "[[file]]\nsource = \"files/a.txt\"\nname = \"docs\\\\a.txt\"\ndate = \"2020-01-02 03:04:05\"\n"
            "[[file]]\nsource = \"files/a.txt\"\nname = \"b.txt\"\ndestination = \"c.txt\"\ndate = \"2021-02-03\"\n");
  ASSERT_EQ(0, w.Build("p.toml", "s.exe").code);
  ASSERT_EQ(0, Truxpack(w.path, {"extract", "s.exe", "out"}).code);
  EXPECT_EQ("alpha", Slurp(w.path / "out" / "docs" / "a.txt"));
  EXPECT_EQ("alpha", Slurp(w.path / "out" / "c.txt"));  // the installed name, not the stored one
  EXPECT_FALSE(fs::exists(w.path / "out" / "b.txt"));
  struct stat st;
  ASSERT_EQ(0, stat((w.path / "out" / "docs" / "a.txt").c_str(), &st));
  EXPECT_EQ(1577934245, (long long)st.st_mtime);  // 2020-01-02 03:04:05 as written by the build's zone (UTC)
  ASSERT_EQ(0, stat((w.path / "out" / "c.txt").c_str(), &st));
  EXPECT_EQ(1612310400, (long long)st.st_mtime);  // a date without a time: midnight
}

TEST(TruxpackCliTest, VerifyFindsTheDataRegionAndDeletionCodes) {
  Workspace w;
  // A volume holding more than the bytes still missing: 50.
  w.Project("p.toml", std::string("[data]\nvolume_base_name = \"vv\"\n") + kOneFile);
  w.Write("files/a.txt", std::string(3000, 'a'));
  ASSERT_EQ(0, w.Build("p.toml", "vv.exe", {"--volume-size", "1000"}).code);
  EXPECT_EQ(0, Truxpack(w.path, {"verify", "vv.exe"}).code);
  std::string last;
  for (int k = 2; fs::exists(w.path / ("vv" + std::to_string(k) + ".XAV")); ++k) last = "vv" + std::to_string(k) + ".XAV";
  ASSERT_FALSE(last.empty());
  w.Write(last, Slurp(w.path / last) + "!");
  Outcome longVolume = Truxpack(w.path, {"verify", "vv.exe"});
  EXPECT_EQ(1, longVolume.code);
  EXPECT_NE(std::string::npos, longVolume.err.find("error code 50")) << longVolume.err;
  EXPECT_NE(std::string::npos, longVolume.err.find(last + " holds ")) << longVolume.err;
  EXPECT_NE(std::string::npos, longVolume.err.find(" still missing")) << longVolume.err;

  // Data beyond the image with bytes after the region's end: 50.
  w.Project("o.toml", std::string("[data]\noutside_image = true\n") + kOneFile);
  ASSERT_EQ(0, w.Build("o.toml", "o.exe").code);
  EXPECT_EQ(0, Truxpack(w.path, {"verify", "o.exe"}).code);
  w.Write("o.exe", Slurp(w.path / "o.exe") + "x");
  Outcome longFile = Truxpack(w.path, {"verify", "o.exe"});
  EXPECT_EQ(1, longFile.code);
  EXPECT_NE(std::string::npos, longFile.err.find("error code 50")) << longFile.err;

  // An unparsable deletion date is refused by the build (the project names
  // the key) and, in an installer someone else wrote, found as 65.
  w.Project("d.toml", std::string("[[delete]]\nfiles = \"*.tmp\"\ncondition = \"date_after\"\nargument = \"soon\"\n") +
                          kOneFile);
  Outcome refused = w.Build("d.toml", "d.exe");
  EXPECT_EQ(1, refused.code);
  EXPECT_NE(std::string::npos, refused.err.find("argument")) << refused.err;
  EXPECT_NE(std::string::npos, refused.err.find("is not a date the installer reads")) << refused.err;
  Project p;
  p.settings.productName = "P";
  p.settings.uninstallerFileName = "Uninstall.exe";
  p.settings.messageCount = 1;
  p.settings.languageNames.Append("English");
  p.settings.messages.Append("P");
  FileDeletion& d = p.settings.deletions.Append();
  d.specification = "*.tmp";
  d.condition = 3;
  d.argument = "soon";
  p.entries.push_back(Entry("a.txt", "a"));
  BuiltInstaller built;
  std::string error;
  EXPECT_FALSE(BuildInstaller(p, MakeStub(), "setup", built, error));
  EXPECT_NE(std::string::npos, error.find("error code 65")) << error;
  EXPECT_NE(std::string::npos, error.find("deletion record 1, \"soon\"")) << error;
}

// ------------------------------------------------------------ hostile input

// One row per attack on what the tool reads and writes: the set-up an
// attacker can make, the command its victim runs, and what must hold
// afterwards. An attack that another user makes (links planted in a
// directory that user owns, an installer that user cannot replace) runs that
// part as the unprivileged user "nobody"; a row that needs it is skipped,
// saying so, when the test cannot switch users (it does not run as root).

namespace {

User Nobody() {
  if (const struct passwd* pw = getpwnam("nobody")) return {pw->pw_uid, pw->pw_gid, std::string()};
  return {65534, 65534, std::string()};
}

// Runs fn as user in a child process; true when it returned true.
bool AsUser(const User& u, const std::function<bool()>& fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(BecomeUser(u) && fn() ? 0 : 1);
  return WaitForExit(pid) == 0;
}

// The names in dir, sorted.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A workspace with a directory only its owner (the victim) can enter, and a
// directory the attacker owns.
struct Hostile : Workspace {
  User attacker = Nobody();
  fs::path secret, shared;
  Hostile() {
    chmod(path.c_str(), 0755);
    fs::create_directories(path / "tool");
    attacker.tool = (path / "tool" / "truxpack").string();
    std::error_code ec;
    fs::copy_file(TRUXPACK_BINARY, attacker.tool, ec);
    chmod(attacker.tool.c_str(), 0755);
    secret = path / "private";
    fs::create_directories(secret);
    chmod(secret.c_str(), 0700);
    Write("private/secret.txt", "root only");
    shared = path / "shared";
    fs::create_directories(shared);
    if (chown(shared.c_str(), attacker.uid, attacker.gid) != 0) shared.clear();
  }
  // A symbolic link at link to target, made by the attacker.
  bool Plant(const fs::path& target, const fs::path& link) const {
    return AsUser(attacker, [&] { return symlink(target.c_str(), link.c_str()) == 0; });
  }
  bool SecretUntouched() const {
    return Names(secret) == std::vector<std::string>{"secret.txt"} && Slurp(secret / "secret.txt") == "root only";
  }
};

// Runs the tool with its standard error held full, so that its first
// message stops it (with -v, extract's first file written); once `ready`
// exists, meanwhile runs, then the tool goes on. err holds the tool's own
// messages.
Outcome TruxpackPaused(const fs::path& cwd, std::vector<std::string> args, const fs::path& ready,
                       const std::function<void()>& meanwhile) {
  Outcome r;
  int p[2];
  if (pipe(p) != 0) return r;
  fcntl(p[1], F_SETPIPE_SZ, 4096);
  fcntl(p[1], F_SETFL, O_NONBLOCK);
  size_t filled = 0;
  const std::string fill(64, '#');
  for (ssize_t n; (n = write(p[1], fill.data(), fill.size())) > 0;) filled += (size_t)n;
  fcntl(p[1], F_SETFL, 0);
  fs::path out = cwd / ".run-out";
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    EnterAndRedirect(cwd, open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), p[1]);
    ExecTruxpack(args);
  }
  close(p[1]);
  bool reached = false;
  for (int i = 0; i < 6000 && !reached; ++i) {
    std::error_code ec;
    reached = fs::exists(ready, ec);
    if (!reached) usleep(10000);
  }
  if (reached) meanwhile();
  std::string err;
  char buffer[4096];
  for (ssize_t n; (n = read(p[0], buffer, sizeof buffer)) > 0;) err.append(buffer, (size_t)n);
  close(p[0]);
  r.code = WaitForExit(pid);
  r.err = err.size() > filled ? err.substr(filled) : std::string();
  if (!reached) r.err += "(the tool never wrote " + ready.string() + ")";
  r.out = Slurp(out);
  fs::remove(out);
  return r;
}

// A stored installer v.exe whose data runs on into one volume, p2.XAV:
// first.bin fills most of the installer's own piece, third.bin lies wholly
// in the volume. evil/p2.XAV is the volume of the same project built with
// another third.bin: consistent in itself, and a volume an attacker could
// put in the real one's place.
void BuildVolumes(const Workspace& w) {
  std::string project = "[product]\nname = \"P\"\n";
  for (const char* name : {"first.bin", "second.bin", "third.bin"})
    project += std::string("[[file]]\nsource = \"") + name + "\"\ndate = \"2020-01-02\"\n";
  for (const std::string dir : {"", "evil/"}) {
    w.Write(dir + "first.bin", std::string(5 << 19, '1'));
    w.Write(dir + "second.bin", std::string(1 << 20, 'A') + std::string(1 << 20, 'B'));
    w.Write(dir + "third.bin", std::string(1 << 20, dir.empty() ? 'C' : 'X'));
    w.Write(dir + "p.toml", project);
    Outcome b = Truxpack(w.path / dir, {"build", "p.toml", "-o", "v.exe", "--stub", w.path / "stub.exe",
                                        "--volume-size", "3M"});
    ASSERT_EQ(0, b.code) << b.err;
    ASSERT_TRUE(fs::exists(w.path / dir / "p2.XAV"));
    ASSERT_FALSE(fs::exists(w.path / dir / "p3.XAV"));
  }
}

// Extracts v.exe into out with -v, pausing after first.bin for meanwhile.
Outcome ExtractPaused(const Workspace& w, const std::function<void()>& meanwhile,
                      std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"extract", "-v", "v.exe", "out"};
  args.insert(args.end(), more.begin(), more.end());
  return TruxpackPaused(w.path, args, w.path / "out" / "first.bin", meanwhile);
}

// Writes bytes over the file at path, in place (the same file, as a user
// allowed to write it would).
void Overwrite(const fs::path& path, const std::string& bytes, size_t at = 0) {
  int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ((ssize_t)bytes.size(), pwrite(fd, bytes.data(), bytes.size(), (off_t)at));
  close(fd);
}

struct HostileCase {
  const char* name;
  bool otherUser;  // part of it runs as an unprivileged user
  void (*run)(Hostile& w);
};

const HostileCase kHostileCases[] = {
    {"extract into a DIR that another user's link redirects", true,
     [](Hostile& w) {
       WriteHostileInstaller(w, "h.exe", {Entry("secret.txt", "overwritten"), Entry("new.txt", "planted")});
       ASSERT_TRUE(w.Plant(w.secret, w.shared / "out"));
       for (bool force : {false, true}) {
         std::vector<std::string> args = {"extract", "h.exe", "shared/out"};
         if (force) args.insert(args.begin() + 1, "--force");
         Outcome r = Truxpack(w.path, args);
         EXPECT_EQ(1, r.code) << r.err;
         EXPECT_NE(std::string::npos, r.err.find("shared/out: is a symbolic link; not followed")) << r.err;
       }
       EXPECT_TRUE(w.SecretUntouched());
     }},
    {"extract below a directory that another user's link redirects", true,
     [](Hostile& w) {
       WriteHostileInstaller(w, "h.exe", {Entry("secret.txt", "overwritten")});
       ASSERT_TRUE(w.Plant(w.secret, w.shared / "link"));
       Outcome r = Truxpack(w.path, {"extract", "--force", "h.exe", "shared/link/sub"});
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("shared/link: a symbolic link of another user")) << r.err;
       EXPECT_TRUE(w.SecretUntouched());
       // A link of the user's own (or root's) on the way is the user's
       // choice and is followed; DIR and what is below it are made as
       // directories of their own.
       fs::create_directories(w.path / "real");
       fs::create_symlink("real", w.path / "mine");
       Outcome own = Truxpack(w.path, {"extract", "h.exe", "mine/new/deeper"});
       EXPECT_EQ(0, own.code) << own.err;
       EXPECT_EQ("overwritten", Slurp(w.path / "real" / "new" / "deeper" / "secret.txt"));
     }},
    {"build into an output directory that another user's link redirects", true,
     [](Hostile& w) {
       w.Project("p.toml", kOneFile);
       ASSERT_TRUE(w.Plant(w.secret, w.shared / "dist"));
       Outcome r = w.Build("p.toml", "shared/dist/setup.exe", {"--volume-size", "2"});
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("shared/dist: is a symbolic link; not followed")) << r.err;
       ASSERT_TRUE(w.Plant(w.secret, w.shared / "on"));
       Outcome below = w.Build("p.toml", "shared/on/dist/setup.exe");
       EXPECT_EQ(1, below.code) << below.err;
       EXPECT_NE(std::string::npos, below.err.find("a symbolic link of another user")) << below.err;
       EXPECT_TRUE(w.SecretUntouched());
     }},
    {"init into a DIR with another user's links planted in it", true,
     [](Hostile& w) {
       // The attacker prepared the project directory: its files/ is a link.
       ASSERT_TRUE(AsUser(w.attacker, [&] { return mkdir((w.shared / "proj").c_str(), 0755) == 0; }));
       ASSERT_TRUE(w.Plant(w.secret, w.shared / "proj" / "files"));
       Outcome r = Truxpack(w.path, {"init", "shared/proj"});
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("shared/proj/files: not a directory of its own")) << r.err;
       EXPECT_FALSE(fs::exists(w.shared / "proj" / "project.toml"));  // nothing written
       ASSERT_TRUE(w.Plant(w.secret, w.shared / "proj2"));
       Outcome dir = Truxpack(w.path, {"init", "shared/proj2"});
       EXPECT_EQ(1, dir.code) << dir.err;
       EXPECT_NE(std::string::npos, dir.err.find("shared/proj2: is a symbolic link; not followed")) << dir.err;
       EXPECT_TRUE(w.SecretUntouched());
     }},
    {"a build whose installer cannot be replaced keeps the old volumes", true,
     [](Hostile& w) {
       // In a sticky directory the user may replace its own volumes, not the
       // installer someone else put there: the build fails at the last
       // rename, and the volumes already renamed go back.
       fs::create_directories(w.path / "pub");
       chmod((w.path / "pub").c_str(), 01777);
       w.Write("files/a.txt", std::string(200, 'o'));
       w.Project("p.toml", kOneFile);
       Outcome first = Truxpack(w.path, {"build", "p.toml", "-o", "pub/setup.exe", "--stub", "stub.exe",
                                         "--volume-size", "100"}, {}, &w.attacker);
       ASSERT_EQ(0, first.code) << first.err;
       const std::string oldVolume = Slurp(w.path / "pub" / "p2.XAV");
       fs::remove(w.path / "pub" / "setup.exe");
       w.Write("pub/setup.exe", "the installer another user put here");
       fs::remove(w.path / "pub" / "p3.XAV");  // a volume the failed build makes anew goes again
       w.Write("files/a.txt", std::string(200, 'n'));
       Outcome r = Truxpack(w.path, {"build", "p.toml", "-o", "pub/setup.exe", "--stub", "stub.exe",
                                     "--volume-size", "100"}, {}, &w.attacker);
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("pub/setup.exe")) << r.err;
       EXPECT_EQ(oldVolume, Slurp(w.path / "pub" / "p2.XAV"));
       EXPECT_EQ("the installer another user put here", Slurp(w.path / "pub" / "setup.exe"));
       EXPECT_EQ((std::vector<std::string>{"p2.XAV", "setup.exe"}), Names(w.path / "pub"));
     }},
    {"a volume swapped for another during extract", false,
     [](Hostile& w) {
       BuildVolumes(w);
       Outcome r = ExtractPaused(w, [&] { fs::rename(w.path / "evil" / "p2.XAV", w.path / "p2.XAV"); });
       EXPECT_EQ(0, r.code) << r.err;
       EXPECT_TRUE(std::string(1 << 20, 'C') == Slurp(w.path / "out" / "third.bin"));  // the volume checked
     }},
    {"a volume cut short during extract", false,
     [](Hostile& w) {
       BuildVolumes(w);
       Outcome r = ExtractPaused(w, [&] { fs::resize_file(w.path / "p2.XAV", 1000); });
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("p2.XAV was cut short while it was read")) << r.err;
       EXPECT_EQ(std::string::npos, r.err.find("p3.XAV")) << r.err;
       EXPECT_FALSE(fs::exists(w.path / "out" / "third.bin"));
     }},
    {"a volume rewritten in place during extract", false,
     [](Hostile& w) {
       // Every record stays consistent in itself; only the data region's
       // checksum, taken over the bytes written, tells.
       BuildVolumes(w);
       Outcome r = ExtractPaused(w, [&] { Overwrite(w.path / "p2.XAV", Slurp(w.path / "evil" / "p2.XAV")); });
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("error code 55: data region checksum mismatch")) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("changed while it was read")) << r.err;
       EXPECT_FALSE(fs::exists(w.path / "out" / "third.bin"));  // the last file is not put in place
       EXPECT_TRUE(Leftovers(w.path / "out").empty());
     }},
    {"a record grown beyond --max-size during extract", false,
     [](Hostile& w) {
       // third.bin's name loses its end: the next name would run on through
       // its megabyte of data.
       BuildVolumes(w);
       const std::string volume = Slurp(w.path / "p2.XAV");
       const size_t at = volume.find(std::string("third.bin") + '\0');
       ASSERT_NE(std::string::npos, at);
       Outcome r = ExtractPaused(w, [&] { Overwrite(w.path / "p2.XAV", std::string(13, 'x'), at + 9); },
                                 {"--max-size", "1M"});
       EXPECT_EQ(1, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.err.find("more than the limit of 1048576 (raise it with --max-size)")) << r.err;
     }},
    {"names and texts of many entries beyond --max-size", false,
     [](Hostile& w) {
       std::vector<EntryInput> entries;
       for (int i = 0; i < 40; ++i) {
         char name[16];
         snprintf(name, sizeof name, "e%d.txt", i);
         entries.push_back(Entry(name, "x"));
         entries.back().text3.assign(64 << 10, 'a');
       }
       WriteHostileInstaller(w, "t.exe", entries);
       for (const char* command : {"list", "verify", "extract"}) {
         std::vector<std::string> args = {command, "--max-size", "1M", "t.exe"};
         if (!strcmp(command, "extract")) args.push_back("out");
         Outcome r = Truxpack(w.path, args);
         EXPECT_EQ(1, r.code) << command;
         EXPECT_NE(std::string::npos, r.err.find("the entries' names and texts would take")) << command << r.err;
         EXPECT_NE(std::string::npos, r.err.find("more than the limit of 1048576")) << command << r.err;
       }
       EXPECT_FALSE(fs::exists(w.path / "out"));
       EXPECT_EQ(0, Truxpack(w.path, {"verify", "--max-size", "4M", "t.exe"}).code);
     }},
    {"list --json of names a different name could imitate", false,
     [](Hostile& w) {
       // 0x81 has no Windows-1252 character: Windows reads it as U+0081,
       // never as the four characters a real name "\x81" holds.
       WriteHostileInstaller(w, "caf\xC3\xA9.exe", {Entry("caf\xE9\x81.txt", "y"), Entry("caf\xE9\\x81.txt", "z")});
       fs::copy_file(w.path / "caf\xC3\xA9.exe", w.path / "bad\xFF.exe");
       Outcome r = Truxpack(w.path, {"list", "--json", "caf\xC3\xA9.exe"});
       ASSERT_EQ(0, r.code) << r.err;
       EXPECT_NE(std::string::npos, r.out.find("\"file\": \"caf\xC3\xA9.exe\"")) << r.out;
       EXPECT_NE(std::string::npos, r.out.find("\"name\": \"caf\xC3\xA9\\u0081.txt\"")) << r.out;
       EXPECT_NE(std::string::npos, r.out.find("\"name\": \"caf\xC3\xA9\\\\x81.txt\"")) << r.out;
       for (unsigned char byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
         std::string one(1, (char)byte);
         char escaped[8];
         snprintf(escaped, sizeof escaped, "\\u%04x", byte);
         WriteHostileInstaller(w, "b.exe", {Entry("n" + one + ".txt", "b")});
         EXPECT_NE(std::string::npos, Truxpack(w.path, {"list", "--json", "b.exe"}).out.find(
                                          std::string("\"name\": \"n") + escaped + ".txt\""))
             << escaped;
       }
       // A path that is not UTF-8 gets U+FFFD where its bad byte was.
       Outcome bad = Truxpack(w.path, {"list", "--json", "bad\xFF.exe"});
       EXPECT_NE(std::string::npos, bad.out.find("\"file\": \"bad\xEF\xBF\xBD.exe\"")) << bad.out;
     }},
    {"sources outside the project directory", false,
     [](Hostile& w) {
       const std::string outside = (w.path / "outside" / "secret.txt").string();
       w.Write("outside/secret.txt", "the build machine's secret");
       w.Write("proj/files/a.txt", "alpha");
       fs::create_symlink("../../outside/secret.txt", w.path / "proj" / "files" / "leak.txt");
       struct Case {
         const char* what;
         std::string project;
         std::string message;  // the warning, or (refused) the error without --confine; empty: none
         bool refused;
       };
       const std::string one = "[[file]]\nsource = \"files/a.txt\"\n";
       const Case cases[] = {
           {"absolute source", "[[file]]\nsource = \"" + outside + "\"\n", "lies outside the project directory", false},
           {"source through ..", "[[file]]\nsource = \"../outside/secret.txt\"\n", "lies outside the project directory",
            false},
           {"glob outside", "[[file]]\nsource = \"../outside/*.txt\"\n", "lies outside the project directory", false},
           {"licence file", "[dialogs]\nlicense_files = [\"" + outside + "\"]\n" + one,
            "dialogs.license_files: " + outside + " lies outside the project directory", false},
           {"named link leaving the tree", "[[file]]\nsource = \"files/leak.txt\"\n",
            "outside the project directory; refused (follow_outside_links = true packs it)", true},
           {"named link leaving the tree, followed",
            "[[file]]\nsource = \"files/leak.txt\"\nfollow_outside_links = true\n", "lies outside the project directory",
            false},
           {"inside only", one, "", false},
       };
       for (const Case& c : cases) {
         w.Write("proj/p.toml", "[product]\nname = \"P\"\n" + c.project);
         Outcome r = Truxpack(w.path / "proj", {"build", "p.toml", "-o", "s.exe", "--stub", "../stub.exe"});
         EXPECT_EQ(c.refused ? 1 : 0, r.code) << c.what << ": " << r.err;
         if (c.message.empty()) {
           EXPECT_EQ("", r.err) << c.what;
         } else {
           EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.what << ": " << r.err;
         }
         Outcome confined =
             Truxpack(w.path / "proj", {"build", "--confine", "p.toml", "-o", "c.exe", "--stub", "../stub.exe"});
         EXPECT_EQ(c.message.empty() ? 0 : 1, confined.code) << c.what << ": " << confined.err;
         if (!c.message.empty() && !c.refused) {
           EXPECT_NE(std::string::npos, confined.err.find("refused (--confine)")) << c.what << ": " << confined.err;
         }
         EXPECT_EQ(c.message.empty(), fs::exists(w.path / "proj" / "c.exe")) << c.what;
         fs::remove(w.path / "proj" / "c.exe");
       }
     }},
    {"a project granting every user the product's directories", false,
     [](Hostile& w) {
       for (const char* flags : {"grant_users_access = true", "raw_flags = 0x4000000000000"}) {
         w.Project("p.toml", std::string("[flags]\n") + flags + "\n" + kOneFile);
         Outcome r = w.Build("p.toml", "g.exe");
         EXPECT_EQ(0, r.code) << r.err;
         EXPECT_NE(std::string::npos, r.err.find("warning: flags.")) << flags << ": " << r.err;
         EXPECT_NE(std::string::npos, r.err.find("every user can replace the product's programs and its uninstaller"))
             << flags << ": " << r.err;
         EXPECT_EQ(1, w.Build("p.toml", "g.exe", {"--werror"}).code) << flags;
       }
     }},
    {"--max-size values the tool refuses", false,
     [](Hostile& w) {
       WriteHostileInstaller(w, "m.exe", {Entry("a.txt", "a")});
       for (const char* value : {"1T", "-1", "1.5G", "", "2048G"}) {
         Outcome r = Truxpack(w.path, {"verify", "--max-size", value, "m.exe"});
         EXPECT_EQ(2, r.code) << value;
         EXPECT_NE(std::string::npos, r.err.find("truxpack verify: --max-size: expected a byte count")) << value << ": "
                                                                                                      << r.err;
         EXPECT_NE(std::string::npos, r.err.find(std::string("not \"") + value + "\"")) << value << ": " << r.err;
       }
     }},
};

}  // namespace

TEST(TruxpackCliTest, HostileInputTable) {
  const bool canSwitch = geteuid() == 0;
  // The other user must reach the workspaces: files made world-readable, and
  // a temporary directory it can enter (a private TMPDIR is left for /tmp).
  const mode_t oldMask = umask(022);
  const char* tmpdir = getenv("TMPDIR");
  const std::string oldTmpdir = tmpdir ? tmpdir : "";
  if (canSwitch && tmpdir && !AsUser(Nobody(), [] { return access(fs::temp_directory_path().c_str(), X_OK) == 0; }))
    setenv("TMPDIR", "/tmp", 1);
  for (const HostileCase& c : kHostileCases) {
    SCOPED_TRACE(c.name);
    if (c.otherUser && !canSwitch) {
      printf("[ SKIPPED  ] hostile input \"%s\": needs root to act as another user\n", c.name);
      continue;
    }
    Hostile w;
    if (c.otherUser) {
      ASSERT_FALSE(w.shared.empty()) << "cannot give the attacker a directory";
      const std::string tool = w.attacker.tool;
      ASSERT_TRUE(AsUser(w.attacker, [&tool] { return access(tool.c_str(), X_OK) == 0; }))
          << "the other user cannot run " << tool;
    }
    c.run(w);
  }
  if (tmpdir) setenv("TMPDIR", oldTmpdir.c_str(), 1);
  umask(oldMask);
}

#endif  // TRUXPACK_BINARY

TEST(TruxpackCliTest, DataBeyondTheImageWhoseUninstallerCopyExceedsTheLargestBlockIsRefused) {
  Workspace w;
  // Nearly 1 GiB, sparse: the rule stops the build before a byte is read.
  {
    std::ofstream big(w.path / "files" / "big.bin", std::ios::binary);
  }
  fs::resize_file(w.path / "files" / "big.bin", 1073741000);
  w.Project("big.toml", "[data]\noutside_image = true\n[[file]]\nsource = \"files/big.bin\"\n");
  Outcome refused = w.Build("big.toml", "big.exe");
  EXPECT_EQ(1, refused.code);
  EXPECT_NE(std::string::npos, refused.err.find("data.outside_image: the uninstaller, which carries the data after the "
                                                "section, would exceed 1 GiB"))
      << refused.err;
  EXPECT_FALSE(fs::exists(w.path / "big.exe"));
  EXPECT_TRUE(Leftovers(w.path).empty());
}
