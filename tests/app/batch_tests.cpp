// The batch driver against scripted dialogs and a recording conversion: this program links its
// own DialogOpenFile, DialogNextFile, DialogChooseFolder, DialogMessage and ConvertStrip.
#include "app/batch.h"
#include "app/convert.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Conversion {
    std::string file, prefix, extension, direction;
    int32_t count;
    std::string outputDirectory;
    bool operator==(const Conversion &o) const {
        return std::tie(file, prefix, extension, direction, count, outputDirectory) ==
               std::tie(o.file, o.prefix, o.extension, o.direction, o.count, o.outputDirectory);
    }
};

std::ostream &operator<<(std::ostream &out, const Conversion &c) {
    return out << c.file << " -> [" << c.prefix << "|" << c.extension << "|" << c.direction << "|"
               << c.count << "|" << c.outputDirectory << "]";
}

// The script the dialogs replay and what the driver did with it.
struct Script {
    std::vector<std::string> files; // the selection, in the order the file dialog delivers it
    size_t nextFile = 0;
    std::string folder; // "" = the folder browser is cancelled
    std::vector<std::string> failingFiles;
    std::vector<std::string> calls; // the dialogs in the order they were asked
    std::vector<std::string> openArguments, folderArguments;
    std::vector<Conversion> conversions;
    std::vector<std::string> messages; // title, text and flags of each message shown
} script;

// Delivers a dialog's text by the area's result protocol, reserving room for a whole path first
// as the real dialogs do.
void Deliver(const std::string &text, int32_t position) {
    constexpr int32_t PathRoom = 260;
    char *destination = TempReserve(PathRoom, position);
    std::memcpy(destination, text.c_str(), text.size() + 1);
    TempGiveBack(PathRoom - int32_t(text.size()));
}

std::string NextScripted() {
    return script.nextFile < script.files.size() ? script.files[script.nextFile++] : "";
}

const std::string Pattern =
    "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|All Files (*.*)|*.*";

class Batch : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!StringHeap) TempStringInit();
        script = Script();
        FilesSelected = FilesSkipped = FilesConverted = FilesErrors = 0;
        TempString.end = 0;
        StringConcat("caller's expression");
        areaEnd = TempString.end;
    }
    // Runs the driver over a selection and checks that it leaves the area as it found it.
    void Run(std::vector<std::string> files, std::string folder = "D:\\Out\\") {
        script.files = std::move(files);
        script.folder = std::move(folder);
        BatchConvert();
        EXPECT_EQ(TempString.end, areaEnd);
        EXPECT_EQ(std::string(TempString.base, size_t(areaEnd)), "caller's expression");
    }
    Conversion Converted(const std::string &file, const std::string &prefix,
                         const std::string &extension, const std::string &direction,
                         int32_t count) {
        return {file, prefix, extension, direction, count, "D:\\Out\\"};
    }
    int32_t areaEnd = 0;
};

TEST_F(Batch, NamesDecideWhatIsConverted) {
    const std::vector<std::string> skipped = {
        "E:\\Art\\walk.png",
        "E:\\Art\\walk_X4.png",
        "E:\\Art\\walk_H4a.png",
        "E:\\Art\\walk_H-4.png",
        "E:\\Art\\walk_H4.gif",
        "E:\\Art\\walk_H4",
        "E:\\Art\\walk_H4.jpeg",
        "E:\\my.art\\walk_H4",
        "E:\\Out\\walk_B8.png",
        "E:\\Art\\walk_ H4.png",
        "E:\\Art\\walk_H.png",
        "E:\\Art\\walk_H0.png",
        "E:\\Art\\walk_H000.png",
        "E:\\Art\\walk_H4294967297.png",
        "E:\\Art\\walk_H2147483648.png",
        "E:\\Art\\walk_H00000000000000000000000000004294967296.png",
        "E:\\Art\\",
    };
    std::vector<std::string> files = {
        "E:\\Art\\walk_H8.png",
        "E:\\Art\\Hero_v012.BMP",
        "E:\\Art\\a_b_H4.jpg",
        "E:\\Art\\walk.old_H3.png",
        "E:\\Art\\_H4.png",
        "E:/Art/run_V2.JpG",
        "E:\\Art\\walk_H2147483647.png",
        "E:\\Art\\walk_H00000000000000000000000000000005.png",
    };
    files.insert(files.begin() + 2, skipped.begin(), skipped.end());
    Run(files);

    const std::vector<Conversion> expected = {
        Converted("E:\\Art\\walk_H8.png", "walk", "png", "H", 8),
        Converted("E:\\Art\\Hero_v012.BMP", "Hero", "bmp", "V", 12),
        Converted("E:\\Art\\a_b_H4.jpg", "a_b", "jpg", "H", 4),
        Converted("E:\\Art\\walk.old_H3.png", "walk.old", "png", "H", 3),
        Converted("E:\\Art\\_H4.png", "", "png", "H", 4),
        Converted("E:/Art/run_V2.JpG", "run", "jpg", "V", 2),
        Converted("E:\\Art\\walk_H2147483647.png", "walk", "png", "H", 2147483647),
        Converted("E:\\Art\\walk_H00000000000000000000000000000005.png", "walk", "png", "H", 5),
    };
    EXPECT_EQ(script.conversions, expected);
    EXPECT_EQ(FilesSelected, int32_t(files.size()));
    EXPECT_EQ(FilesSkipped, int32_t(skipped.size()));
    EXPECT_EQ(FilesConverted, int32_t(expected.size()));
    EXPECT_EQ(script.nextFile, files.size());
}

TEST_F(Batch, AsksWithTheFixedTitlesAndShowsTheCountsInOrder) {
    Run({"E:\\Art\\walk_H8.png", "E:\\Art\\notes.txt"});
    EXPECT_EQ(script.calls,
              (std::vector<std::string>{"open", "folder", "next", "next", "message"}));
    EXPECT_EQ(script.openArguments,
              (std::vector<std::string>{"Select File(s)", "", Pattern, "0", "1"}));
    EXPECT_EQ(script.folderArguments,
              (std::vector<std::string>{"Select Output Directory", "C:\\"}));
    EXPECT_EQ(script.messages,
              (std::vector<std::string>{"Conversion Completed",
                                        "Files Selected: 2\r\nFiles Converted: 1\r\n"
                                        "Files Skipped: 1\r\nFiles Errors: 0\r\n",
                                        "0"}));

    // Four different counts show that each line carries its own counter.
    SetUp();
    script.failingFiles = {"E:\\b_H1.bmp", "E:\\c_H1.bmp"};
    Run({"E:\\a_H1.png", "E:\\b_H1.bmp", "E:\\c_H1.bmp", "E:\\d_H1.png", "E:\\e_H1.png",
         "E:\\f_H1.png", "E:\\x.txt", "E:\\y.txt", "E:\\z.txt", "E:\\w.txt"});
    ASSERT_EQ(script.messages.size(), 3u);
    EXPECT_EQ(script.messages[1], "Files Selected: 10\r\nFiles Converted: 4\r\n"
                                  "Files Skipped: 4\r\nFiles Errors: 2\r\n");

    // Every file skipped: the summary still comes.
    SetUp();
    Run({"E:\\x.txt"});
    ASSERT_EQ(script.messages.size(), 3u);
    EXPECT_EQ(script.messages[1], "Files Selected: 1\r\nFiles Converted: 0\r\n"
                                  "Files Skipped: 1\r\nFiles Errors: 0\r\n");
}

TEST_F(Batch, CancellingEitherDialogEndsSilently) {
    Run({});
    EXPECT_EQ(script.calls, std::vector<std::string>{"open"});

    SetUp();
    Run({"E:\\Art\\walk_H8.png", "E:\\Art\\walk_H4.png"}, "");
    EXPECT_EQ(script.calls, (std::vector<std::string>{"open", "folder"}));
    EXPECT_EQ(FilesSelected, 0);
    EXPECT_EQ(FilesSkipped, 0);
    EXPECT_TRUE(script.conversions.empty());
    EXPECT_TRUE(script.messages.empty());
}

TEST(TextIsNumber, DigitsAndTheTwoFlags) {
    if (!StringHeap) TempStringInit();
    struct Case {
        const char *text;
        int32_t minus, dot, expected;
    };
    for (const Case &c : {Case{"", 0, 0, 1},
                          {"0", 0, 0, 1},
                          {"123", 0, 0, 1},
                          {"007", 0, 0, 1},
                          {"12a", 0, 0, 0},
                          {" 1", 0, 0, 0},
                          {"1.5", 0, 0, 0},
                          {"-3", 0, 0, 0},
                          {"-3", 1, 0, 1},
                          {"1.5", 0, 1, 1},
                          {"1-2.3.", 1, 1, 1},
                          {"-3", 2, 0, 0},
                          {"1.5", 1, 0, 0},
                          {"\xb3", 0, 0, 0},
                          {"/", 0, 0, 0},
                          {":", 0, 0, 0}}) {
        int32_t end = TempString.end;
        EXPECT_EQ(TextIsNumber(c.text, c.minus, c.dot), c.expected)
            << "'" << c.text << "' " << c.minus << c.dot;
        EXPECT_EQ(TempString.end, end);
    }
    EXPECT_EQ(TextIsNumber(nullptr, 0, 0), 1);
}

} // namespace

// The test doubles the driver links against in this program.

void DialogOpenFile(const char *title, const char *defaultFile, const char *pattern,
                    int32_t patternPosition, int32_t flags, int32_t position) {
    script.calls.push_back("open");
    script.openArguments = {title, defaultFile, pattern, std::to_string(patternPosition),
                            std::to_string(flags)};
    Deliver(NextScripted(), position);
}

void DialogNextFile(int32_t position) {
    script.calls.push_back("next");
    Deliver(NextScripted(), position);
}

void DialogChooseFolder(const char *title, const char *initialPath, int32_t position) {
    script.calls.push_back("folder");
    script.folderArguments = {title, initialPath};
    Deliver(script.folder, position);
}

int32_t DialogMessage(const char *title, const char *text, int32_t flags) {
    script.calls.push_back("message");
    script.messages.insert(script.messages.end(), {title, text, std::to_string(flags)});
    return IDOK;
}

void ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                  const char *direction, int32_t count, const char *outputDirectory) {
    script.conversions.push_back({stripPath, prefix, extension, direction, count, outputDirectory});
    bool fails = false;
    for (const std::string &f : script.failingFiles)
        fails = fails || f == stripPath;
    (fails ? FilesErrors : FilesConverted) += 1;
}
