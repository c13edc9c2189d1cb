// setuppack's resource writer on a small PE image laid out here (code,
// resources, base relocations, as setup.exe's), and its parsers' tables.
// Windows' own reading of what it writes is tested under Wine
// (tests/win/branding), pefile's by branding_check.sh.
#include <gtest/gtest.h>
#include <string.h>

#include "media/dialog_template.h"
#include "media/pe_resources.h"
#include "media/strings_file.h"
#include "media/utf16.h"
#include "media/version_info.h"

namespace {

const uint32_t Optional = 0x40 + 24, Table = Optional + 224, Directories = Optional + 96;

std::vector<uint8_t> Blob(size_t size, uint8_t seed) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = (uint8_t)(seed + i * 7);
  return data;
}

// A PE32 image: .text at 0x1000, .rsrc at 0x2000 holding resources, .reloc
// after it; file alignment 0x200, section alignment 0x1000.
std::vector<uint8_t> Image(const std::vector<Resource>& resources, const std::vector<uint8_t>& relocations) {
  std::vector<uint8_t> rsrc = WriteResources(resources, 0x2000);
  uint32_t rsrcRaw = (uint32_t)(rsrc.size() + 0x1FF) & ~0x1FFu,
           relocRva = 0x2000 + ((rsrcRaw + 0xFFF) & ~0xFFFu);
  std::vector<uint8_t> image(0x400);
  memcpy(&image[0], "MZ", 2);
  Set32(&image[60], 0x40);
  memcpy(&image[0x40], "PE\0\0", 4);
  Set16(&image[0x44], 0x14c);
  Set16(&image[0x46], 3);
  Set16(&image[0x54], 224);
  Set16(&image[Optional], 0x10b);
  Set32(&image[Optional + 32], 0x1000);
  Set32(&image[Optional + 36], 0x200);
  Set32(&image[Optional + 56], relocRva + 0x1000);
  Set32(&image[Optional + 92], 16);
  Set32(&image[Directories + 16], 0x2000);
  Set32(&image[Directories + 20], (uint32_t)rsrc.size());
  Set32(&image[Directories + 40], relocRva);
  Set32(&image[Directories + 44], (uint32_t)relocations.size());
  const struct {
    const char* name;
    uint32_t virtualSize, rva, rawSize, raw;
  } sections[] = {{".text", 0x200, 0x1000, 0x200, 0x200},
                  {".rsrc", (uint32_t)rsrc.size(), 0x2000, rsrcRaw, 0x400},
                  {".reloc", (uint32_t)relocations.size(), relocRva, 0x200, 0x400 + rsrcRaw}};
  for (int i = 0; i < 3; ++i) {
    uint8_t* s = &image[Table + 40 * i];
    memcpy(s, sections[i].name, strlen(sections[i].name));
    Set32(s + 8, sections[i].virtualSize);
    Set32(s + 12, sections[i].rva);
    Set32(s + 16, sections[i].rawSize);
    Set32(s + 20, sections[i].raw);
  }
  std::vector<uint8_t> code = Blob(0x200, 1);
  image.insert(image.begin() + 0x200, code.begin(), code.end());
  image.resize(0x400);
  image.insert(image.end(), rsrc.begin(), rsrc.end());
  image.resize(0x400 + rsrcRaw);
  image.insert(image.end(), relocations.begin(), relocations.end());
  image.resize(0x400 + rsrcRaw + 0x200);
  return image;
}

Resource Make(ResourceKey type, ResourceKey name, uint16_t language, std::vector<uint8_t> data) {
  Resource r;
  r.type = type;
  r.name = name;
  r.language = language;
  r.data = data;
  return r;
}

TEST(PeResources, GrownPastAPageTheRelocationsMoveAndEveryResourceReadsBack) {
  ResourceKey named;
  named.named = true;
  named.name = u"MANIFESTO";
  std::vector<Resource> before = {Make(ResourceKey::Id(6), ResourceKey::Id(1), 1033, Blob(40, 3)),
                                  Make(named, ResourceKey::Id(1), 1033, Blob(9, 5))};
  std::vector<uint8_t> relocations = Blob(12, 9), image = Image(before, relocations),
                       code(&image[0x200], &image[0x400]);
  std::vector<Resource> after = before;
  after.push_back(Make(ResourceKey::Id(3), ResourceKey::Id(7), 1049, Blob(9000, 11)));
  after.push_back(Make(ResourceKey::Id(3), ResourceKey::Id(7), 1033, Blob(3, 13)));
  std::string error;
  ASSERT_TRUE(ReplaceImageResources(&image, "test.exe", after, &error)) << error;

  std::vector<Resource> read;
  ASSERT_TRUE(ReadImageResources(image, "test.exe", &read, &error)) << error;
  ASSERT_EQ(after.size(), read.size());
  for (const Resource& r : after) {
    std::vector<const Resource*> found = FindResources(read, r.type, r.name);
    bool same = false;
    for (const Resource* f : found) same = same || (f->language == r.language && f->data == r.data);
    EXPECT_TRUE(same) << r.type.id << "/" << r.name.id << "/" << r.language;
  }
  // The resources take three pages now: .reloc moved two pages on, and in
  // the file right after them; its directory with it; the code stayed.
  const uint8_t* reloc = &image[Table + 80];
  EXPECT_EQ(0x5000u, Get32(reloc + 12));
  EXPECT_EQ(0x5000u, Get32(&image[Directories + 40]));
  EXPECT_EQ(0x6000u, Get32(&image[Optional + 56]));
  EXPECT_EQ(0x400u + ((Get32(&image[Directories + 20]) + 0x1FF) & ~0x1FFu), Get32(reloc + 20));
  EXPECT_EQ(relocations, std::vector<uint8_t>(&image[Get32(reloc + 20)], &image[Get32(reloc + 20) + 12]));
  EXPECT_EQ(code, std::vector<uint8_t>(&image[0x200], &image[0x400]));
  EXPECT_EQ(image.size(), Get32(reloc + 20) + 0x200u);
}

TEST(PeResources, RefusesASignedImageAndOneWithBytesAfterIt) {
  std::vector<Resource> resources = {Make(ResourceKey::Id(6), ResourceKey::Id(1), 1033, Blob(40, 3))};
  std::vector<uint8_t> image = Image(resources, Blob(12, 9)), signedImage = image;
  Set32(&signedImage[Directories + 32], (uint32_t)image.size());
  image.push_back(0);
  std::string error;
  EXPECT_FALSE(ReplaceImageResources(&signedImage, "s.exe", resources, &error));
  EXPECT_NE(std::string::npos, error.find("carries a signature")) << error;
  EXPECT_FALSE(ReplaceImageResources(&image, "o.exe", resources, &error));
  EXPECT_NE(std::string::npos, error.find("1 bytes after its image")) << error;
}

TEST(VersionInfo, VersionsAreOneToFourNumbers) {
  const struct {
    const char* text;
    bool valid;
  } rows[] = {{"1", true},     {"1.2.3.4", true}, {"65535.0", true},    {"1.2.x", false}, {"", false},
              {"1..2", false}, {"1.2.", false},   {"1.2.3.4.5", false}, {"65536", false}, {" 1", false}};
  for (const auto& row : rows) {
    uint16_t numbers[4];
    EXPECT_EQ(row.valid, ParseVersion(row.text, numbers)) << row.text;
  }
}

TEST(StringsFile, EachLineIsCheckedAgainstSetupsMessages) {
  std::map<uint16_t, std::u16string> originals = {{1, u"File %s is not found."}, {2, u"Setup"}};
  const struct {
    const char* file;
    const char* error;  // "" when accepted
  } rows[] = {{"\xEF\xBB\xBF# c\r\n\r\n1=Datei %s fehlt: 100%%\\n\r\n2=Einrichtung\n", ""},
              {"1=Datei fehlt", "line 1: message 1 must keep exactly 1 %s"},
              {"\n1=%s %s", "line 2: message 1 must keep exactly 1 %s"},
              {"1=%s zu 50%", "line 1: message 1 has a % that is not %s"},
              {"2=%s", "line 1: message 2 has a %s, and the original has none"},
              {"9=x", "line 1: message 9 is not one of setup.exe's (they are 1, 2, and dialog)"},
              {"dialog=%s", "line 1: the dialog's line has a %s"},
              {"1=a %s\n1=b %s", "line 2: message 1 a second time (first on line 1)"},
              {"text", "line 1: not of the form N=text"},
              {"1=", "line 1: an empty text"},
              {"language=German", "line 1: the language is a Windows language number"},
              {"2=\xC3", "line 1: its text is not UTF-8"}};
  for (const auto& row : rows) {
    Translation t;
    std::string error;
    std::vector<uint8_t> file(row.file, row.file + strlen(row.file));
    bool ok = ReadStringsFile(file, "de.txt", &t, &error) && CheckTranslation(t, "de.txt", originals, &error);
    EXPECT_EQ(*row.error == 0, ok) << row.file;
    EXPECT_NE(std::string::npos, error.find(row.error)) << row.file << ": " << error;
    if (ok) {
      EXPECT_EQ(u"Datei %s fehlt: 100%%\n", t.messages[1]);
    }
  }
}

TEST(DialogTemplate, TheLineIsReplacedAndTheControlsAfterItStayAligned) {
  // A DIALOG template with a button, the line, and a second static after it.
  std::vector<uint8_t> d;
  Put32(&d, 0x80C800C0);  // style, DS_SETFONT (0x40) among it
  Put32(&d, 0);
  Put16(&d, 3);
  for (int i = 0; i < 4; ++i) Put16(&d, 10);
  Put16(&d, 0);  // menu
  Put16(&d, 0);  // class
  AppendUtf16(&d, u"T", true);
  Put16(&d, 8);
  AppendUtf16(&d, u"MS Sans Serif", true);
  for (const char16_t* text : {u"OK", u"Line", u"After"}) {
    PadTo4(&d);
    Put32(&d, 0x50000000);
    Put32(&d, 0);
    for (int i = 0; i < 5; ++i) Put16(&d, 1);
    Put16(&d, 0xFFFF);
    Put16(&d, text[0] == u'O' ? 0x80 : 0x82);  // button, static
    AppendUtf16(&d, text, true);
    Put16(&d, 0);  // no extra data
  }
  for (const std::u16string& line : {std::u16string(u"Подождите"), std::u16string(u"Ab")}) {
    std::vector<uint8_t> replaced;
    std::u16string read;
    std::string error;
    ASSERT_TRUE(ReplaceDialogLine(d, line, &replaced, &error)) << error;
    ASSERT_TRUE(ReadDialogLine(replaced, &read, &error)) << error;
    EXPECT_EQ(line, read);
    // The last control is whole, on a 4-byte boundary: its text ends the template.
    size_t last = replaced.size() - 2 - 12 - 4 - 18;
    EXPECT_EQ(0u, last % 4);
    EXPECT_EQ(0x50000000u, Get32(&replaced[last]));
  }
}

}  // namespace
