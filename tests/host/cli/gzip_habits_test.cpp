// setuppack in the hands of someone used to gzip, xz and zstd: one table of
// command lines, run in order in one folder, each with its exit status and
// what goes to standard output and to standard error.
#include <fstream>
#include <sstream>

#include "pe_test_image.h"
#include "setuppack_runner.h"

namespace {

struct Habit {
  const char* line;  // a shell line; "$SP" is setuppack
  int status;
  // What each stream holds: nullptr, anything; "", nothing; otherwise
  // pieces separated by '|' that must all appear, in that order.
  const char* out;
  const char* err;
  const char* then;  // a shell line that must then succeed (nullptr: none)
};

// A line that fails unless the JSON document in .out holds to its schema and
// the Python expression about it (d) holds.
#define JSON_CHECK(expression)                                               \
  "python3 \"$CHECK\" \"$SCHEMA\" <.out && python3 -c \"import json; d = "   \
  "json.load(open('.out')); f = (d['files'] or d['finds'][0]['files'])[0]; " \
  "assert " expression ", d\""

const Habit Habits[] = {
    // -q: nothing but errors, for every command.
    {"\"$SP\" -q media --script SETUP.INF --installer INSTALL.EXE --no-setup -o cd", 0, "", "",
     "test -f cd/INSTALL.EX_"},
    {"\"$SP\" -q test cd", 0, "", "", nullptr},
    {"\"$SP\" -q media --script SETUP.INF --installer setup.exe --setup setup.exe -o sealed", 0, "", "",
     nullptr},
    {"\"$SP\" -q seal sealed", 0, "", "", nullptr},
    {"\"$SP\" -q test nothing-here", 1, "", "nothing-here", nullptr},
    // -v to a pipe: one line per file when it ends, no carriage return.
    {"\"$SP\" -v pack big big.pk 2>&1 | cat", 0, "big: 300000 -> | bytes (|%) in | s\n", nullptr,
     "[ $(wc -l <.out) = 1 ] && tr -d '\\r' <.out | cmp -s - .out"},
    {"\"$SP\" -v -f media --script SETUP.INF --installer INSTALL.EXE --no-setup -o cd 2>&1 | cat", 0,
     "SETUP.INF: |INSTALL.EXE: |cd/INSTALL.SC_: ", nullptr, "tr -d '\\r' <.out | cmp -s - .out"},
    // On a terminal (script(1) gives one): the progress line, redrawn over
    // itself and cleared, then -v's line; -q shows nothing.
    {"for i in 1 2 3 4 5 6 7 8 9 10; do cat big; done >big10 && "
     "script -qec \"'$SP' -v pack big10 big10.pk\" /dev/null | tr '\\r' '#'",
     0, "#big10: |% |MB of 3.0 MB|#big10: 3000000 -> ", "", nullptr},
    {"script -qec \"'$SP' -q -f pack big10 big10.pk\" /dev/null", 0, "", "", nullptr},
    // Results and messages keep their order in a pipe: the files tested
    // before the seal that refuses them.
    {"cp cd/INSTALL.SC_ cd/INSTALL.EX_ sealed/ && \"$SP\" test sealed 2>&1 | cat", 0,
     "INSTALL.SC_: OK|INSTALL.EX_: OK|does not match the seal", nullptr, nullptr},
    // gzip's letters, with or without a command word.
    {"\"$SP\" -t a.pk", 0, "a.pk: OK", "", nullptr},
    {"\"$SP\" a.pk -t", 0, "a.pk: OK", "", nullptr},
    {"\"$SP\" -tq a.pk", 0, "", "", nullptr},
    {"\"$SP\" -dc a.pk >a.out", 0, "", "", "cmp a.out a.txt"},
    {"\"$SP\" -c a.txt >c.pk && \"$SP\" -dc c.pk", 0, "setup ", "", "\"$SP\" -dc c.pk | cmp - a.txt"},
    {"\"$SP\" -d a.pk", 2, "", "a.pk|name", "test ! -e a"},
    {"\"$SP\" -dk cd/INSTALL.EX_", 0, "", "expanded after cd/INSTALL.SC_",
     "cmp cd/INSTALL.EXE INSTALL.EXE && test -f cd/INSTALL.EX_"},
    {"\"$SP\" -d cd/INSTALL.SC_ cd/INSTALL.EX_", 1, "", "INSTALL.EXE", "test ! -e cd/INSTALL.SCR"},
    {"\"$SP\" -df cd/INSTALL.SC_ cd/INSTALL.EX_", 0, "", "", "cmp cd/INSTALL.SCR SETUP.INF"},
    {"\"$SP\" unpack cd/INSTALL.SC_ -c", 0, "setup ", "", nullptr},
    {"\"$SP\" -k -t a.pk", 0, "a.pk: OK", "", nullptr},
    {"\"$SP\" -9 -t a.pk", 2, "", "-9|test", nullptr},
    {"\"$SP\" -x a.pk", 2, "", "-x", nullptr},
    // Default names: the last letter becomes '_'.
    {"\"$SP\" pack INSTALL.EXE", 0, "", "", "\"$SP\" -dc INSTALL.EX_ | cmp - INSTALL.EXE"},
    {"\"$SP\" pack INSTALL.EXE", 1, "", "INSTALL.EX_|-f", nullptr},
    {"\"$SP\" -f pack INSTALL.EXE", 0, "", "", nullptr},
    {"\"$SP\" pack INSTALL.EX_", 2, "", "INSTALL.EX_|_", nullptr},
    {"\"$SP\" -9 SETUP.INF a.txt", 0, "", "", "test -f SETUP.IN_ && \"$SP\" -dc a.tx_ | cmp - a.txt"},
    {"\"$SP\" --fast -k big", 0, "", "", "\"$SP\" -t big._"},
    {"\"$SP\" -1 -c a.txt | \"$SP\" -dc - | cmp - a.txt", 0, "", "", nullptr},
    // The levels: -1 is --fast, -6 the default, -9 --best.
    {"\"$SP\" -1c big >l1 && \"$SP\" -6c big >l6 && \"$SP\" -9c big >l9", 0, "", "",
     "\"$SP\" --fast -c big | cmp - l1 && \"$SP\" -c big | cmp - l6 && "
     "\"$SP\" --best -c big | cmp - l9 && ! cmp -s l1 l6 && ! cmp -s l6 l9"},
    // -v of unpack: a line for each file.
    {"\"$SP\" -v -f unpack a.pk a.out 2>&1 | cat", 0, "a.pk: |-> 20000 bytes (", nullptr, nullptr},
    // A repeated option that takes one value.
    {"\"$SP\" media --script SETUP.INF --installer INSTALL.EXE --no-setup -o m2 --output m3", 2, "",
     "--output", "test ! -e m2 && test ! -e m3"},
    {"\"$SP\" -T1 -T2 pack a.txt t.pk", 2, "", "--threads", nullptr},
    {"\"$SP\" media --script SETUP.INF --installer INSTALL.EXE --installer a.txt --no-setup -o m4", 2, "",
     "--installer", nullptr},
    // One program without .exe: a warning, and --strict refuses it.
    {"\"$SP\" media --script SETUP.INF --installer setup.exe --setup setup.exe --single-file -o product", 0,
     "product", "warning: |.exe", "test -f product"},
    {"\"$SP\" media --strict --script SETUP.INF --installer setup.exe --setup setup.exe --single-file -o p2",
     1, "", ".exe", "test ! -e p2"},
    // A program cut short names offsets of the file.
    {"head -c -100 product >cut.exe && \"$SP\" test cut.exe", 1, "",
     "cut.exe|bytes |of the file, and the file has only|bytes (an incomplete download?)", nullptr},
    // --json: one document on standard output, errors on standard error.
    {"\"$SP\" --json test a.pk", 0, "{|\"version\": 1", "",
     JSON_CHECK("f['verdict'] == 'ok' and f['check_record'] == 'match' and len(f['crc32']) == 8")},
    {"\"$SP\" --json test damaged.pk", 1, "{|\"damaged\"", "damaged.pk",
     JSON_CHECK("f['verdict'] == 'damaged' and f['damage']['record'] >= 1 and f['damage']['offset'] > 0")},
    {"\"$SP\" --json test sealed", 1, "{", "does not match",
     JSON_CHECK("d['seal']['verdict'] == 'mismatch' and len(d['files']) == 2")},
    {"\"$SP\" --json test product", 0, "{", "",
     JSON_CHECK("d['seal']['verdict'] == 'match' and f['container'] == 'product' and f['carried_at'] > 0")},
    {"\"$SP\" --json list a.pk", 0, "{", "", JSON_CHECK("f['records'][0]['type'] == 'check'")},
    {"\"$SP\" --json scan cd", 0, "{", "",
     JSON_CHECK("d['finds'][0]['kind'] == 'media' and d['finds'][0]['image'].startswith('cd')")},
    {"cp a.pk \"$(printf 'bad\\377.pk')\" && \"$SP\" --json test bad*.pk", 0, "{|bad\\ufffd.pk", "",
     JSON_CHECK("f['path'] == 'bad\\ufffd.pk'")},
    {"\"$SP\" --json media --script SETUP.INF --installer INSTALL.EXE -o m5", 2, "", "--json", nullptr},
};

class GzipHabits : public SetuppackTest {};

// Whether text holds the pieces of expected in order ('|' between them).
bool HoldsInOrder(const std::string& text, const std::string& expected) {
  if (expected.empty()) return text.empty();
  size_t at = 0, from = 0;
  for (;;) {
    size_t bar = expected.find('|', from);
    std::string piece = expected.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
    at = text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
    if (bar == std::string::npos) return true;
    from = bar + 1;
  }
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(GzipHabits, EachCommandLine) {
  Write("INSTALL.EXE", RealBinary("version.dll"));
  Write("SETUP.INF", MixedBytes(3000, 7));
  Write("a.txt", MixedBytes(20000, 8));
  Write("other", MixedBytes(7000, 9));
  Write("big", MixedBytes(300000, 10));
  Write("setup.exe", ImageOf({1024, 512, 512, 512, 512 + 16, 0}));
  ASSERT_EQ(Run("pack a.txt a.pk").status, 0);
  ASSERT_EQ(Run("pack other other.pk").status, 0);
  std::vector<uint8_t> damaged = Read("a.pk");
  damaged[damaged.size() / 2] ^= 0x55;
  Write("damaged.pk", damaged);
  std::string env = "export CHECK='" REPORT_CHECK "' SCHEMA='" REPORT_SCHEMA "'; ";
  for (const Habit& h : Habits) {
    SCOPED_TRACE(h.line);
    Result r = Shell(env + "{ " + h.line + "\n} >.out 2>.err");
    std::string out = Slurp(Path(".out")), err = Slurp(Path(".err"));
    EXPECT_EQ(r.status, h.status) << "out: " << out << "\nerr: " << err;
    EXPECT_TRUE(!h.out || HoldsInOrder(out, h.out)) << "out: " << out << "\nerr: " << err;
    EXPECT_TRUE(!h.err || HoldsInOrder(err, h.err)) << "err: " << err;
    if (h.then) {
      Result then = Shell(env + h.then);
      EXPECT_EQ(then.status, 0) << h.then << ": " << then.output << "\nout: " << out << "\nerr: " << err;
    }
  }
}

}  // namespace
