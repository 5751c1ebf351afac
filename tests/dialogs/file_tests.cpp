// The open-file dialog, on the real dialog driven by the window robot.
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"
#include "tests/dialogs/dialog_fixtures.h"
#include "tests/support/test_support.h"
#include "tests/support/window_robot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char *const Title = "Select File(s)";
const char *const Pattern =
    "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|All Files (*.*)|*.*";

std::string OpenFile(const char *title, const char *defaultFile, const char *pattern,
                     int32_t patternPosition, int32_t flags) {
    int32_t position = TempString.end;
    DialogOpenFile(title, defaultFile, pattern, patternPosition, flags, position);
    return TakeDialogResult(position);
}

std::string NextFile() {
    int32_t position = TempString.end;
    DialogNextFile(position);
    return TakeDialogResult(position);
}

void MakeFile(const std::string &path) {
    ASSERT_TRUE(WriteWholeFile(path, "x", 1)) << path;
}

class FileDialog : public ::testing::Test {
  protected:
    void SetUp() override { DialogTestRuntime(); }
    void TearDown() override {
        for (const std::string &path : cleanup)
            DeleteFileA(path.c_str());
    }
    // Runs the robot while `call` shows the dialog; the test fails if the robot did.
    template <typename Call>
    std::string Drive(std::function<void(WindowRobot &, HWND)> script, Call call) {
        RobotRun run;
        bool started = RobotStart(run, [&](WindowRobot &robot) {
            HWND dialog = RobotWaitDialog(robot, dialogTitle);
            if (dialog) script(robot, dialog);
        });
        if (!started) {
            ADD_FAILURE() << RobotFinish(run);
            return std::string();
        }
        std::string result = call();
        EXPECT_EQ(RobotFinish(run), "");
        return result;
    }
    std::string Choose(const std::string &folder, const std::vector<std::string> &names,
                       int32_t flags = 1) {
        return Drive(
            [&](WindowRobot &robot, HWND dialog) {
                if (RobotChooseFiles(robot, dialog, folder, names)) RobotWaitClosed(robot, dialog);
            },
            [&] { return OpenFile(Title, "", Pattern, 0, flags); });
    }
    // What the dialog proposes for a default file: its folder and name, then cancelled.
    struct Proposal {
        std::string folder, name, result;
    };
    Proposal Propose(const char *defaultFile) {
        Proposal seen;
        seen.result = Drive(
            [&](WindowRobot &robot, HWND dialog) {
                seen.folder = RobotFileDialogFolder(robot, dialog);
                seen.name = RobotFileName(robot, dialog);
                RobotPress(robot, dialog, IDCANCEL);
                RobotWaitClosed(robot, dialog);
            },
            [&] { return OpenFile(Title, defaultFile, Pattern, 0, 0); });
        return seen;
    }
    const char *dialogTitle = Title;
    std::vector<std::string> cleanup;
};

// The folder as the dialog names it: no trailing backslash.
std::string Folder(const std::string &folder) {
    return folder.substr(0, folder.size() - 1);
}

TEST_F(FileDialog, OneFileInMultipleModeIsReturnedAloneAndTheBatchFilterIsSelected) {
    std::string folder = TestFolder("one");
    MakeFile(folder + "walk_H8.png");
    HWND other = MakeTestWindow("other", true);
    std::string filter;
    bool otherEnabled = true;
    std::string first = Drive(
        [&](WindowRobot &robot, HWND dialog) {
            filter = RobotSelectedFilter(robot, dialog);
            otherEnabled = IsWindowEnabled(other) != 0;
            if (RobotChooseFiles(robot, dialog, Folder(folder), {"walk_H8.png"}))
                RobotWaitClosed(robot, dialog);
        },
        [&] { return OpenFile(Title, "", Pattern, 0, 1); });
    EXPECT_EQ(filter, "PNG Image (*.png)");
    EXPECT_FALSE(otherEnabled) << "the thread's other windows are disabled while it is open";
    EXPECT_TRUE(IsWindowEnabled(other));
    DestroyWindow(other);
    EXPECT_EQ(first, folder + "walk_H8.png");
    EXPECT_EQ(NextFile(), "");
    EXPECT_EQ(NextFile(), "");
}

TEST_F(FileDialog, TwoFilesComeInTheDialogsOrderThenTheEmptyString) {
    std::string folder = TestFolder("two");
    MakeFile(folder + "a.png");
    MakeFile(folder + "b.png");
    EXPECT_EQ(Choose(Folder(folder), {"b.png", "a.png"}), folder + "b.png");
    EXPECT_EQ(NextFile(), folder + "a.png");
    EXPECT_EQ(NextFile(), "");
    EXPECT_EQ(NextFile(), "");
}

TEST_F(FileDialog, FilesInADriveRootGetNoDoubledBackslash) {
    for (const char *name : {"C:\\stripsheet-a.png", "C:\\stripsheet-b.png"}) {
        MakeFile(name);
        cleanup.push_back(name);
    }
    EXPECT_EQ(Choose("C:\\", {"stripsheet-a.png", "stripsheet-b.png"}), "C:\\stripsheet-a.png");
    EXPECT_EQ(NextFile(), "C:\\stripsheet-b.png");
    EXPECT_EQ(NextFile(), "");
}

TEST_F(FileDialog, SingleSelectionReturnsTheFullPath) {
    std::string folder = TestFolder("single");
    MakeFile(folder + "hero_V12.bmp");
    EXPECT_EQ(Choose(Folder(folder), {"hero_V12.bmp"}, 0), folder + "hero_V12.bmp");
    EXPECT_EQ(NextFile(), "");
}

TEST_F(FileDialog, CancelGivesTheEmptyStringInBothModes) {
    for (int32_t flags : {1, 0}) {
        std::string result = Drive(
            [&](WindowRobot &robot, HWND dialog) {
                RobotPress(robot, dialog, IDCANCEL);
                RobotWaitClosed(robot, dialog);
            },
            [&] { return OpenFile(Title, "", Pattern, 0, flags); });
        EXPECT_EQ(result, "") << "flags " << flags;
        EXPECT_EQ(NextFile(), "") << "flags " << flags;
    }
}

TEST_F(FileDialog, AbsentTextsStillShowTheDialog) {
    dialogTitle = "Open";
    std::string result = Drive(
        [&](WindowRobot &robot, HWND dialog) {
            RobotPress(robot, dialog, IDCANCEL);
            RobotWaitClosed(robot, dialog);
        },
        [&] { return OpenFile(nullptr, nullptr, nullptr, 0, 1); });
    EXPECT_EQ(result, "");
}

TEST_F(FileDialog, DefaultFileGivesTheInitialFolderAndAnAcceptableName) {
    std::string folder = TestFolder("default");
    Proposal full = Propose((folder + "sheet.png").c_str());
    EXPECT_EQ(full.folder, Folder(folder));
    EXPECT_EQ(full.name, "sheet.png");
    EXPECT_EQ(full.result, "");

    Proposal folderOnly = Propose(folder.c_str());
    EXPECT_EQ(folderOnly.folder, Folder(folder));
    EXPECT_EQ(folderOnly.name, "");

    Proposal nameOnly = Propose("sheet.png");
    EXPECT_EQ(nameOnly.name, "sheet.png");

    EXPECT_EQ(Propose("\\x.png").name, "") << "a leading backslash makes the whole text the name";

    // A name the single-selection buffer cannot hold is dropped, not written past its end.
    Proposal tooLong = Propose((folder + std::string(300, 'n') + ".png").c_str());
    EXPECT_EQ(tooLong.name, "");
    EXPECT_EQ(tooLong.folder, Folder(folder));

    for (const char *bad : {"a*b.png", "a?.png", "a\"b.png", "a<b.png", "a|b.png", "a\tb.png"}) {
        Proposal unacceptable = Propose((folder + bad).c_str());
        EXPECT_EQ(unacceptable.name, "") << bad;
        EXPECT_EQ(unacceptable.folder, Folder(folder)) << bad;
    }
}

TEST_F(FileDialog, PatternPositionPicksTheFirstFilterShown) {
    for (int32_t position : {2, 3}) {
        std::string filter;
        Drive(
            [&](WindowRobot &robot, HWND dialog) {
                filter = RobotSelectedFilter(robot, dialog);
                RobotPress(robot, dialog, IDCANCEL);
                RobotWaitClosed(robot, dialog);
            },
            [&] { return OpenFile(Title, "", Pattern, position, 1); });
        EXPECT_EQ(filter, position == 2 ? "JPG Image (*.jpg)" : "All Files (*.*)");
    }
}

TEST_F(FileDialog, ANewDialogDropsPendingNames) {
    std::string folder = TestFolder("pending");
    for (const char *name : {"a.png", "b.png", "c.png", "d.png"})
        MakeFile(folder + name);
    EXPECT_EQ(Choose(Folder(folder), {"a.png", "b.png", "c.png"}), folder + "a.png");
    EXPECT_EQ(Choose(Folder(folder), {"d.png"}), folder + "d.png");
    EXPECT_EQ(NextFile(), "") << "b.png and c.png belonged to the earlier selection";

    EXPECT_EQ(Choose(Folder(folder), {"a.png", "b.png"}), folder + "a.png");
    EXPECT_EQ(Choose(Folder(folder), {"c.png", "d.png"}), folder + "c.png");
    EXPECT_EQ(NextFile(), folder + "d.png");
    EXPECT_EQ(NextFile(), "");
}

TEST_F(FileDialog, PathsLongerThanTheUsualReserveAreDeliveredWhole) {
    std::string folder = TestFolder("long");
    std::string directory = folder + std::string(120, 'd');
    std::vector<std::string> names = {std::string(100, 'a') + ".png",
                                      std::string(110, 'b') + ".png"};
    ASSERT_GT(directory.size() + 1 + names[0].size(), 260u);
    // The full paths pass the length the narrow calls take: work from inside the folder.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    auto inside = [&](bool create) {
        if (create) CreateDirectoryA(directory.c_str(), nullptr);
        if (!SetCurrentDirectoryA(directory.c_str())) return false;
        for (const std::string &name : names) {
            if (create)
                WriteWholeFile(name, "x", 1);
            else
                DeleteFileA(name.c_str());
        }
        SetCurrentDirectoryA(previous);
        return create || RemoveDirectoryA(directory.c_str());
    };
    ASSERT_TRUE(inside(true)) << directory;

    EXPECT_EQ(Choose(directory, names), directory + "\\" + names[0]);
    EXPECT_EQ(NextFile(), directory + "\\" + names[1]);
    EXPECT_EQ(NextFile(), "");
    EXPECT_TRUE(inside(false)) << "cannot remove " << directory;
}

TEST_F(FileDialog, ResultsFollowWhatTheAreaAlreadyHolds) {
    std::string folder = TestFolder("area");
    MakeFile(folder + "a.png");
    MakeFile(folder + "b.png");
    int32_t start = TempString.end;
    StringConcat("first: ");
    int32_t position = TempString.end;
    EXPECT_EQ(Choose(Folder(folder), {"a.png", "b.png"}), folder + "a.png");
    DialogNextFile(TempString.end);
    EXPECT_EQ(std::string(TempAddress(start)), "first: " + folder + "b.png");
    EXPECT_EQ(TempString.end, position + static_cast<int32_t>(folder.size() + 5));
    TempString.end = start;
}

} // namespace
