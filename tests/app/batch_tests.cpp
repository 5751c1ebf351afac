// The batch driver against scripted dialogs and a recording conversion: this program links its
// own dialogs (scripted_dialogs.cpp) and ConvertStrip.
#include "app/batch.h"
#include "app/convert.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "tests/app/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

Texts conversions; // "file|prefix|extension|direction|count|output folder" of each call
Texts aheads; // the strips named to be read ahead, recorded as conversions are; "" for none left
std::vector<size_t> namedBefore; // how many strips were named ahead when each conversion began
Texts failingFiles;              // strips whose conversion counts as an error
Texts savingFiles;               // strips whose sheets are left to be written in the background
Texts stillSaving;               // those of them not finished yet, oldest first
size_t mostSaving;               // the most sheets under way at once

bool Listed(const Texts &list, const std::string &file) {
    return std::find(list.begin(), list.end(), file) != list.end();
}

std::string Converted(const std::string &file, const std::string &prefix, const char *extension,
                      const char *direction, int32_t count) {
    return file + "|" + prefix + "|" + extension + "|" + direction + "|" + std::to_string(count) +
           "|D:\\Out\\";
}

class Batch : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!StringHeap) TempStringInit();
        Dialogs = DialogScript();
        conversions.clear();
        aheads.clear();
        namedBefore.clear();
        failingFiles.clear();
        savingFiles.clear();
        stillSaving.clear();
        mostSaving = 0;
        FilesSelected = FilesSkipped = FilesConverted = FilesErrors = 0;
        TempString.end = 0;
        StringConcat("caller's expression");
    }
    // Runs the driver over a selection and checks that it leaves the area as it found it.
    void Run(Texts files, std::string folder = "D:\\Out\\") {
        Dialogs.files = std::move(files);
        Dialogs.folder = std::move(folder);
        BatchConvert();
        EXPECT_EQ(std::string(TempString.base, size_t(TempString.end)), "caller's expression");
    }
};

TEST_F(Batch, NamesDecideWhatIsConverted) {
    const Texts skipped = {
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
    const std::string leadingZeros = "E:\\Art\\walk_H00000000000000000000000000000005.png";
    Texts files = {"E:\\Art\\walk_H8.png",
                   "E:\\Art\\Hero_v012.BMP",
                   "E:\\Art\\a_b_H4.jpg",
                   "E:\\Art\\walk.old_H3.png",
                   "E:\\Art\\_H4.png",
                   "E:/Art/run_V2.JpG",
                   "E:\\Art\\walk_H2147483647.png",
                   leadingZeros};
    files.insert(files.begin() + 2, skipped.begin(), skipped.end());
    Run(files);

    const Texts expected = {
        Converted("E:\\Art\\walk_H8.png", "walk", "png", "H", 8),
        Converted("E:\\Art\\Hero_v012.BMP", "Hero", "bmp", "V", 12),
        Converted("E:\\Art\\a_b_H4.jpg", "a_b", "jpg", "H", 4),
        Converted("E:\\Art\\walk.old_H3.png", "walk.old", "png", "H", 3),
        Converted("E:\\Art\\_H4.png", "", "png", "H", 4),
        Converted("E:/Art/run_V2.JpG", "run", "jpg", "V", 2),
        Converted("E:\\Art\\walk_H2147483647.png", "walk", "png", "H", 2147483647),
        Converted(leadingZeros, "walk", "png", "H", 5),
    };
    EXPECT_EQ(conversions, expected);
    // Every strip is named to be read ahead, in order, with what its conversion is given (its
    // sheet is made from that), and nothing else.
    Texts strips = expected;
    strips.push_back("");
    EXPECT_EQ(aheads, strips);
    ASSERT_EQ(Dialogs.messages.size(), 3u);
    EXPECT_EQ(Dialogs.messages[1], "Files Selected: 25\r\nFiles Converted: 8\r\n"
                                   "Files Skipped: 17\r\nFiles Errors: 0\r\n");
    EXPECT_EQ(Dialogs.next, files.size());

    // In a long run of strips each is named before its conversion, as many ahead as the
    // conversion keeps and no more: one named beyond that would be read twice.
    SetUp();
    files.clear();
    for (int i = 0; i < 3 * ConvertStripsAhead; i++)
        files.push_back("E:\\Art\\s" + std::to_string(i) + "_H1.png");
    Run(files);
    ASSERT_EQ(namedBefore.size(), files.size());
    for (size_t k = 0; k < files.size(); k++)
        EXPECT_EQ(namedBefore[k], std::min(k + size_t(ConvertStripsAhead), files.size())) << k;
}

TEST_F(Batch, AsksWithTheFixedTitlesAndShowsTheCountsInOrder) {
    Run({"E:\\Art\\walk_H8.png", "E:\\Art\\notes.txt"});
    EXPECT_EQ(Dialogs.calls, (Texts{"open", "folder", "next", "next", "message"}));
    EXPECT_EQ(Dialogs.openArguments,
              (Texts{"Select File(s)", "",
                     "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|"
                     "All Files (*.*)|*.*",
                     "0", "1"}));
    EXPECT_EQ(Dialogs.folderArguments, (Texts{"Select Output Directory", "C:\\"}));
    EXPECT_EQ(Dialogs.messages, (Texts{"Conversion Completed",
                                       "Files Selected: 2\r\nFiles Converted: 1\r\n"
                                       "Files Skipped: 1\r\nFiles Errors: 0\r\n",
                                       "0"}));

    // Four different counts show that each line carries its own counter.
    SetUp();
    failingFiles = {"E:\\b_H1.bmp", "E:\\c_H1.bmp"};
    Run({"E:\\a_H1.png", "E:\\b_H1.bmp", "E:\\c_H1.bmp", "E:\\d_H1.png", "E:\\e_H1.png",
         "E:\\f_H1.png", "E:\\x.txt", "E:\\y.txt", "E:\\z.txt", "E:\\w.txt"});
    ASSERT_EQ(Dialogs.messages.size(), 3u);
    EXPECT_EQ(Dialogs.messages[1], "Files Selected: 10\r\nFiles Converted: 4\r\n"
                                   "Files Skipped: 4\r\nFiles Errors: 2\r\n");
}

std::string reported; // what the driver handed to its report routine

// Sheets left to be written in the background are counted, and their lines reported, in the
// order the files were given, whatever else comes between them; never more than the driver's
// limit are under way.
TEST_F(Batch, SheetsStillBeingWrittenAreReportedInTheFilesOrder) {
    savingFiles = {"E:\\a_H1.png", "E:\\b_H1.png", "E:\\c_H1.png", "E:\\e_H1.png",
                   "E:\\f_H1.png", "E:\\g_H1.png", "E:\\h_H1.png"};
    failingFiles = {"E:\\b_H1.png", "E:\\d_H1.png", "E:\\e_H1.png"};
    const char files[] = "E:\\a_H1.png\0E:\\b_H1.png\0E:\\x.txt\0E:\\c_H1.png\0E:\\d_H1.png\0"
                         "E:\\e_H1.png\0E:\\f_H1.png\0E:\\g_H1.png\0E:\\h_H1.png\0";
    static_assert(ConvertSavesAtOnce <= 4, "the last four files can all be under way at once");
    reported.clear();
    int32_t exitCode = BatchConvert(files, "D:\\Out\\", [](const char *text) { reported = text; });
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(reported, "Files Selected: 9\r\nFiles Converted: 5\r\nFiles Skipped: 1\r\n"
                        "Files Errors: 3\r\n"
                        "E:\\b_H1.png: could not be written\r\n"
                        "E:\\x.txt: skipped: not a strip's name\r\n"
                        "E:\\d_H1.png: could not be written\r\n"
                        "E:\\e_H1.png: could not be written\r\n");
    EXPECT_TRUE(stillSaving.empty());
    EXPECT_EQ(mostSaving, size_t(ConvertSavesAtOnce));
    EXPECT_EQ(Dialogs.calls, Texts{});
    EXPECT_EQ(std::string(TempString.base, size_t(TempString.end)), "caller's expression");
}

TEST_F(Batch, CancellingEitherDialogEndsSilently) {
    Run({});
    EXPECT_EQ(Dialogs.calls, Texts{"open"});

    SetUp();
    Run({"E:\\Art\\walk_H8.png", "E:\\Art\\walk_H4.png"}, "");
    EXPECT_EQ(Dialogs.calls, (Texts{"open", "folder"}));
    EXPECT_EQ(FilesSelected, 0);
    EXPECT_EQ(FilesSkipped, 0);
    EXPECT_TRUE(conversions.empty());
}

TEST(TextIsNumber, DigitsAndTheTwoFlags) {
    if (!StringHeap) TempStringInit();
    const struct {
        const char *text;
        int32_t minus, dot, expected;
    } cases[] = {{"", 0, 0, 1},     {"0", 0, 0, 1},      {"007", 0, 0, 1}, {"12a", 0, 0, 0},
                 {" 1", 0, 0, 0},   {"1.5", 0, 0, 0},    {"-3", 0, 0, 0},  {"-3", 1, 0, 1},
                 {"1.5", 0, 1, 1},  {"1-2.3.", 1, 1, 1}, {"-3", 2, 0, 0},  {"1.5", 1, 0, 0},
                 {"\xb3", 0, 0, 0}, {"/", 0, 0, 0},      {":", 0, 0, 0},   {nullptr, 0, 0, 1}};
    for (const auto &c : cases) {
        int32_t end = TempString.end;
        EXPECT_EQ(TextIsNumber(c.text, c.minus, c.dot), c.expected)
            << "'" << (c.text ? c.text : "null") << "' " << c.minus << c.dot;
        EXPECT_EQ(TempString.end, end);
    }
}

} // namespace

// The recording conversion the driver links against in this program.
ConvertOutcome ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                            const char *direction, int32_t count, const char *outputDirectory,
                            bool background) {
    namedBefore.push_back(size_t(std::count_if(aheads.begin(), aheads.end(),
                                               [](const std::string &a) { return !a.empty(); })));
    conversions.push_back(std::string(stripPath) + "|" + prefix + "|" + extension + "|" +
                          direction + "|" + std::to_string(count) + "|" + outputDirectory);
    if (background && Listed(savingFiles, stripPath)) {
        stillSaving.push_back(stripPath);
        mostSaving = std::max(mostSaving, stillSaving.size());
        return ConvertOutcome::Saving;
    }
    bool fails = Listed(failingFiles, stripPath);
    (fails ? FilesErrors : FilesConverted) += 1;
    return fails ? ConvertOutcome::NotWritten : ConvertOutcome::Converted;
}

void ConvertStripAhead(const char *stripPath, const char *prefix, const char *extension,
                       const char *direction, int32_t count, const char *outputDirectory) {
    aheads.push_back(stripPath ? std::string(stripPath) + "|" + prefix + "|" + extension + "|" +
                                     direction + "|" + std::to_string(count) + "|" + outputDirectory
                               : "");
}

int32_t ConvertStripsSaving() {
    return int32_t(stillSaving.size());
}

ConvertOutcome ConvertStripFinish(const char **stripPath) {
    static std::string finished;
    if (stillSaving.empty()) {
        ADD_FAILURE() << "a save finished that was never started";
        *stripPath = "";
        return ConvertOutcome::NotWritten;
    }
    finished = stillSaving.front();
    *stripPath = finished.c_str();
    bool fails = Listed(failingFiles, stillSaving.front());
    stillSaving.erase(stillSaving.begin());
    (fails ? FilesErrors : FilesConverted) += 1;
    return fails ? ConvertOutcome::NotWritten : ConvertOutcome::Converted;
}

void ConvertBatchBegin() {}

void ConvertBatchEnd(bool, const char *, const ConvertEndReport &) {}
