// The open-file dialog, on the real dialog driven by the window robot.
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"
#include "tests/dialogs/dialog_fixtures.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char *const Title = "Select File(s)";
const char *const Pattern =
    "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|All Files (*.*)|*.*";

using Script = std::function<void(WindowRobot &, HWND)>;
const Script Cancel = [](WindowRobot &robot, HWND dialog) { RobotPress(robot, dialog, IDCANCEL); };

// Shows the dialog while the robot runs `script` on it; returns the first file.
std::string Open(const Script &script, int32_t flags = 1, const char *defaultFile = "",
                 int32_t patternPosition = 0, const char *title = Title,
                 const char *pattern = Pattern) {
    DialogTestRuntime();
    return DriveDialog(
        [&](WindowRobot &robot) {
            // Without a title the dialog shows the platform's own caption.
            HWND dialog = RobotWaitDialog(robot, title ? title : "Open");
            if (dialog) script(robot, dialog);
            if (dialog) RobotWaitClosed(robot, dialog);
        },
        [&] {
            int32_t position = TempString.end;
            DialogOpenFile(title, defaultFile, pattern, patternPosition, flags, position);
            return TakeDialogResult(position);
        });
}

// The next file. It is delivered behind what the area already holds, which stays in front of it.
std::string NextFile() {
    int32_t start = TempString.end;
    StringConcat("held ");
    int32_t position = TempString.end;
    DialogNextFile(position);
    std::string all = TempAddress(start);
    std::string text = TakeDialogResult(position);
    EXPECT_EQ(all, "held " + text);
    TempString.end = start;
    return text;
}

void MakeFiles(const std::string &folder, const std::vector<std::string> &names) {
    for (const std::string &name : names)
        ASSERT_TRUE(WriteWholeFile(folder + name, "x", 1)) << folder + name;
}

// Chooses `names` in `folder` (ending in a backslash); returns the first file.
std::string Choose(const std::string &folder, const std::vector<std::string> &names,
                   int32_t flags = 1) {
    // The dialog names a folder without a trailing backslash, a drive root with one.
    std::string shown = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
    return Open(
        [&](WindowRobot &robot, HWND dialog) { RobotChooseFiles(robot, dialog, shown, names); },
        flags);
}

// Chooses `names` in `folder` and checks that they come back as full paths in the dialog's
// order, then the empty string.
void ExpectChosen(const std::string &folder, const std::vector<std::string> &names,
                  int32_t flags = 1) {
    EXPECT_EQ(Choose(folder, names, flags), folder + names[0]);
    for (size_t i = 1; i < names.size(); i++)
        EXPECT_EQ(NextFile(), folder + names[i]);
    EXPECT_EQ(NextFile(), "");
    EXPECT_EQ(NextFile(), "");
}

TEST(FileDialog, TheBatchCallDisablesOtherWindowsAndReturnsOneFileAlone) {
    std::string folder = TestFolder("one");
    MakeFiles(folder, {"walk_H8.png"});
    HWND other = MakeTestWindow("other", true);
    std::string filter;
    bool otherEnabled = true;
    EXPECT_EQ(Open([&](WindowRobot &robot, HWND dialog) {
                  filter = RobotSelectedFilter(robot, dialog);
                  otherEnabled = IsWindowEnabled(other) != 0;
                  RobotChooseFiles(robot, dialog, folder.substr(0, folder.size() - 1),
                                   {"walk_H8.png"});
              }),
              folder + "walk_H8.png");
    EXPECT_EQ(NextFile(), "");
    EXPECT_EQ(filter, "PNG Image (*.png)");
    EXPECT_FALSE(otherEnabled) << "the thread's other windows are disabled while it is open";
    EXPECT_TRUE(IsWindowEnabled(other));
    DestroyWindow(other);
}

TEST(FileDialog, ChosenFilesComeBackWholeInTheDialogsOrder) {
    std::string folder = TestFolder("chosen");
    MakeFiles(folder, {"a.png", "b.png", "hero_V12.bmp"});
    ExpectChosen(folder, {"b.png", "a.png"});
    ExpectChosen(folder, {"hero_V12.bmp", "a.png", "b.png"});
    ExpectChosen(folder, {"hero_V12.bmp"}, 0); // single selection

    // A drive root already ends in a backslash: it is not doubled.
    std::vector<std::string> names = {"stripsheet-a.png", "stripsheet-b.png"};
    MakeFiles("C:\\", names);
    ExpectChosen("C:\\", names);
    for (const std::string &name : names)
        DeleteFileA(("C:\\" + name).c_str());
}

TEST(FileDialog, PathsLongerThanTheUsualReserveAreDeliveredWhole) {
    std::string directory = TestFolder("long") + std::string(120, 'd') + "\\";
    std::vector<std::string> names = {std::string(100, 'a') + ".png",
                                      std::string(110, 'b') + ".png"};
    ASSERT_GT(directory.size() + names[0].size(), 260u);
    // The full paths pass the length the narrow calls take: work from inside the folder.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr) &&
                SetCurrentDirectoryA(directory.c_str()))
        << directory;
    MakeFiles("", names);
    SetCurrentDirectoryA(previous);

    ExpectChosen(directory, names);

    SetCurrentDirectoryA(directory.c_str());
    for (const std::string &name : names)
        DeleteFileA(name.c_str());
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(RemoveDirectoryA(directory.c_str())) << "cannot remove " << directory;
}

TEST(FileDialog, ANewDialogDropsPendingNames) {
    std::string folder = TestFolder("pending");
    MakeFiles(folder, {"a.png", "b.png", "c.png", "d.png"});
    EXPECT_EQ(Choose(folder, {"a.png", "b.png", "c.png"}), folder + "a.png");
    EXPECT_EQ(Choose(folder, {"d.png"}), folder + "d.png");
    EXPECT_EQ(NextFile(), "") << "b.png and c.png belonged to the earlier selection";
}

TEST(FileDialog, CancelGivesTheEmptyStringInBothModes) {
    for (int32_t flags : {1, 0}) {
        EXPECT_EQ(Open(Cancel, flags), "") << "flags " << flags;
        EXPECT_EQ(NextFile(), "") << "flags " << flags;
    }
    EXPECT_EQ(Open(Cancel, 1, nullptr, 0, nullptr, nullptr), "") << "absent texts";
}

std::string Slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

TEST(FileDialog, DefaultFileGivesTheInitialFolderAndAnAcceptableName) {
    std::string folder = TestFolder("default"), shown = folder.substr(0, folder.size() - 1);
    struct Case {
        std::string defaultFile, folder, name; // folder "": the dialog's own choice
    } cases[] = {
        {folder + "sheet.png", shown, "sheet.png"},
        {folder, shown, ""},
        {"sheet.png", "", "sheet.png"},
        {"\\x.png", "", ""}, // a leading backslash keeps the whole text, backslash and all
        {Slashed(folder) + "sheet.png", shown, "sheet.png"},
        // A name the single-selection buffer cannot hold is dropped, not written past its end.
        {folder + std::string(300, 'n') + ".png", shown, ""},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    for (const char *bad : {"a*b.png", "a?.png", "a\"b.png", "a<b.png", "a|b.png", "a\tb.png"})
        all.push_back({folder + bad, shown, ""});
    for (const Case &c : all) {
        std::string seenFolder, seenName;
        EXPECT_EQ(Open(
                      [&](WindowRobot &robot, HWND dialog) {
                          seenFolder = RobotFileDialogFolder(robot, dialog);
                          seenName = RobotFileName(robot, dialog);
                          RobotPress(robot, dialog, IDCANCEL);
                      },
                      0, c.defaultFile.c_str()),
                  "");
        EXPECT_EQ(seenName, c.name) << c.defaultFile;
        if (!c.folder.empty()) {
            EXPECT_EQ(seenFolder, c.folder) << c.defaultFile;
        }
    }
}

TEST(FileDialog, PatternPositionPicksTheFirstFilterShown) {
    for (int32_t position : {2, 3}) {
        std::string filter;
        Open(
            [&](WindowRobot &robot, HWND dialog) {
                filter = RobotSelectedFilter(robot, dialog);
                RobotPress(robot, dialog, IDCANCEL);
            },
            1, "", position);
        EXPECT_EQ(filter, position == 2 ? "JPG Image (*.jpg)" : "All Files (*.*)");
    }
}

} // namespace
