// StripSheet.exe itself, started as a process of its own and driven only through its windows, as
// a user would: the file dialog, the folder browser and the closing message.
//
// The strips come from e2e_strips.py (run by CTest before this program), which also checks the
// sheets this program leaves behind. STRIPSHEET_E2E_PROGRAM and STRIPSHEET_E2E_STRIPS name the
// program and the strips' folder. The start-up failure needs a Wine DLL override or an ALSA
// configuration from the start of Wine (a Wine process does not hand those on to a child of its
// own): CTest runs it as a test of its own, with STRIPSHEET_SCENARIO naming it.
#include "tests/support/test_support.h"
#include "tests/support/window_robot.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A path from CTest in Wine's form: Unix paths are reached through the Z: drive.
std::string WindowsPath(const char *variable) {
    const char *value = getenv(variable);
    std::string path = value ? value : "";
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    return path;
}

bool InScenario(const char *name) {
    const char *value = getenv("STRIPSHEET_SCENARIO");
    return value && strcmp(value, name) == 0;
}

// The texts of the message box's static controls (its message; an icon has no text).
std::string MessageText(WindowRobot &robot, HWND box) {
    std::string text;
    for (HWND control : RobotControls(box, "Static"))
        text += RobotText(robot, control);
    return text;
}

class Utility : public ::testing::Test {
  protected:
    void SetUp() override {
        program = WindowsPath("STRIPSHEET_E2E_PROGRAM");
        strips = WindowsPath("STRIPSHEET_E2E_STRIPS");
        ASSERT_TRUE(FileExists(program)) << "no program at \"" << program << "\"";
    }

    // Starts the program in the strips' folder with `arguments` after its name. With `capture`
    // its standard output goes into a pipe that Output reads.
    void Start(const std::string &arguments = "", bool capture = false) {
        std::string command = "\"" + program + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        HANDLE write = nullptr;
        if (capture) {
            ASSERT_TRUE(CreatePipe(&output, &write, &inherited, 1 << 20));
            SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = write;
            // libpng's own complaints about damaged files go to the standard error.
            startup.hStdError =
                CreateFileA("NUL", GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
        }
        bool started = CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, capture, 0,
                                      nullptr, strips.c_str(), &startup, &process);
        if (capture) {
            CloseHandle(write);
            CloseHandle(startup.hStdError);
        }
        ASSERT_TRUE(started) << "cannot start " << program;
        robot.processId = process.dwProcessId;
        // The first window waits for Wine to start the program.
        robot.timeoutMs = 15000;
    }

    // What the program wrote to its standard output, once it has ended.
    std::string Output() {
        std::string text;
        char chunk[4096];
        DWORD waiting = 0, n = 0;
        while (PeekNamedPipe(output, nullptr, 0, nullptr, &waiting, nullptr) && waiting &&
               ReadFile(output, chunk, sizeof chunk, &n, nullptr) && n)
            text.append(chunk, n);
        return text;
    }

    // A test that stopped half way must not leave the program's dialogs open.
    void TearDown() override {
        if (output) CloseHandle(output);
        if (!process.hProcess) return;
        CloseDialogsUntilEnd();
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }

    // Cancels every dialog the program shows until it ends (10 s at most); returns their captions.
    std::vector<std::string> CloseDialogsUntilEnd() {
        std::vector<std::string> captions;
        for (DWORD start = GetTickCount();
             WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT &&
             GetTickCount() - start < 10000;) {
            WindowRobot quick = robot;
            quick.timeoutMs = 2000;
            for (const std::string &caption : RobotCloseDialogs(quick))
                captions.push_back(caption);
        }
        return captions;
    }

    // The program ends by itself with exit code 0 after its last expected window, shows no other
    // dialog meanwhile, and the robot met no failure.
    void ExpectCleanEnd() {
        EXPECT_EQ(CloseDialogsUntilEnd(), std::vector<std::string>{})
            << "dialogs where none should be";
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code) && code == 0)
            << "exit code " << code;
        EXPECT_EQ(robot.failure, "");
    }

    HWND FileDialog() { return RobotWaitDialog(robot, "Select File(s)"); }
    HWND FolderBrowser() { return RobotWaitDialogWithLabel(robot, "Select Output Directory"); }

    std::string program, strips;
    PROCESS_INFORMATION process = {};
    HANDLE output = nullptr;
    WindowRobot robot;
};

TEST_F(Utility, ConvertsAMixOfStripsAndReportsTheCounts) {
    // The output folder exists before the browser opens: the browser reads each folder once. It
    // holds a sheet of an earlier run, which the new sheet replaces.
    std::string sheets = TestFolder("convert") + "sheets";
    ASSERT_TRUE(CreateDirectoryA(sheets.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(sheets + "\\hero_B10.png", "an earlier sheet", 16));
    Start();

    // Seven strips (PNG RGB, RGBA and palette, BMP 24- and 8-bit, JPEG, an upper-case BMP), two
    // files that are not strips by name, a strip with more frames than pixels, and two damaged
    // files: a PNG whose header fails its checksum and a "BM" file that is no bitmap.
    const std::vector<std::string> chosen = {"hero_V10.png",  "ghost_H4.png",  "coin_h6.png",
                                             "tree_H3.bmp",   "lamp_V5.bmp",   "fire_H4.jpg",
                                             "Flag_v012.BMP", "notes.txt",     "thin_H40.png",
                                             "sprite.png",    "broken_H2.png", "junk_V3.bmp"};
    HWND files = FileDialog();
    ASSERT_TRUE(files && RobotChooseFiles(robot, files, strips, chosen) &&
                RobotWaitClosed(robot, files))
        << robot.failure;

    HWND browser = FolderBrowser();
    ASSERT_TRUE(browser) << robot.failure;
    EXPECT_TRUE(RobotFolderSelected(robot, browser, "C:\\")) << "the browser opens at C:\\";
    ASSERT_TRUE(RobotSelectFolder(robot, browser, sheets) && RobotPress(robot, browser, IDOK) &&
                RobotWaitClosed(robot, browser))
        << robot.failure;

    HWND summary = RobotWaitDialog(robot, "Conversion Completed");
    ASSERT_TRUE(summary) << robot.failure;
    // Twelve selected; the seven strips converted; notes.txt and sprite.png skipped by name;
    // thin_H40.png loads but cannot be cut into 40 frames: an error; the damaged files cannot be
    // loaded, which counts nowhere.
    EXPECT_EQ(MessageText(robot, summary), "Files Selected: 12\r\n"
                                           "Files Converted: 7\r\n"
                                           "Files Skipped: 2\r\n"
                                           "Files Errors: 1\r\n");
    std::vector<std::string> buttons;
    for (HWND button : RobotControls(summary, "Button"))
        buttons.push_back(RobotText(robot, button));
    EXPECT_EQ(buttons, std::vector<std::string>{"OK"});
    ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;

    ExpectCleanEnd();
    // Exactly the seven sheets, no temporary files; their pixels are checked by e2e_strips.py.
    EXPECT_EQ(
        FilesIn(sheets + "\\"),
        (std::vector<std::string>{"Flag_B12.bmp", "coin_B6.png", "fire_B4.jpg", "ghost_B4.png",
                                  "hero_B10.png", "lamp_B5.bmp", "tree_B3.bmp"}));
}

// The program's memory in use (its commit charge), read from outside.
SIZE_T MemoryInUse(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

// Hundreds of damaged strips of every format in one batch: the program survives them all, shows
// the summary with every file counted as selected, leaves nothing but whole sheets (checked by
// e2e_strips.py) and gives its memory back. Its GDI objects cannot be counted from outside under
// Wine; the library tests count them over the same kinds of damage.
TEST_F(Utility, ADamagedFileStormEndsInTheSummary) {
    std::string storm = WindowsPath("STRIPSHEET_E2E_STORM");
    std::vector<std::string> chosen = FilesIn(storm + "\\");
    ASSERT_GE(chosen.size(), 400u);
    std::string sheets = TestFolder("storm") + "sheets";
    ASSERT_TRUE(CreateDirectoryA(sheets.c_str(), nullptr));
    Start();

    HWND files = FileDialog();
    ASSERT_TRUE(files && RobotChooseFiles(robot, files, storm, chosen) &&
                RobotWaitClosed(robot, files))
        << robot.failure;
    HWND browser = FolderBrowser();
    ASSERT_TRUE(browser) << robot.failure;
    SIZE_T before = MemoryInUse(process.hProcess);
    ASSERT_TRUE(RobotSelectFolder(robot, browser, sheets) && RobotPress(robot, browser, IDOK) &&
                RobotWaitClosed(robot, browser))
        << robot.failure;

    robot.timeoutMs = 120000;
    HWND summary = RobotWaitDialog(robot, "Conversion Completed");
    ASSERT_TRUE(summary) << robot.failure;
    SIZE_T after = MemoryInUse(process.hProcess);
    int selected = -1, converted = -1, skipped = -1, errors = -1;
    std::string text = MessageText(robot, summary);
    // The figures the README quotes.
    printf("storm: %zu files, memory in use %zu KB before, %zu KB after\n%s", chosen.size(),
           size_t(before >> 10), size_t(after >> 10), text.c_str());
    ASSERT_EQ(sscanf(text.c_str(),
                     "Files Selected: %d\r\nFiles Converted: %d\r\nFiles Skipped: %d\r\n"
                     "Files Errors: %d",
                     &selected, &converted, &skipped, &errors),
              4);
    EXPECT_EQ(selected, int(chosen.size()));
    EXPECT_EQ(skipped, 0);
    EXPECT_GT(errors, 0);
    EXPECT_LE(converted + errors, selected);
    EXPECT_EQ(FilesIn(sheets + "\\").size(), size_t(converted)) << "a stray or missing file";
    if (before && after) {
        EXPECT_LT(after, before + (SIZE_T(16) << 20)) << before << " bytes before, " << after;
    }
    ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;
    ExpectCleanEnd();
}

TEST_F(Utility, CancelAtTheFileDialogEndsWithoutAnotherWindow) {
    Start();
    HWND files = FileDialog();
    ASSERT_TRUE(files) << robot.failure;
    ASSERT_TRUE(RobotPress(robot, files, IDCANCEL) && RobotWaitClosed(robot, files))
        << robot.failure;
    ExpectCleanEnd();
}

TEST_F(Utility, CancelAtTheFolderBrowserConvertsNothingAndShowsNoSummary) {
    std::vector<std::string> before = FilesIn(strips + "\\");
    Start();
    HWND files = FileDialog();
    ASSERT_TRUE(files && RobotChooseFiles(robot, files, strips, {"hero_V10.png", "tree_H3.bmp"}) &&
                RobotWaitClosed(robot, files))
        << robot.failure;
    HWND browser = FolderBrowser();
    ASSERT_TRUE(browser) << robot.failure;
    ASSERT_TRUE(RobotPress(robot, browser, IDCANCEL) && RobotWaitClosed(robot, browser))
        << robot.failure;
    ExpectCleanEnd(); // no summary after a cancelled browser
    EXPECT_EQ(FilesIn(strips + "\\"), before);
}

TEST_F(Utility, FilesGivenAsArgumentsGoStraightToTheFolderBrowser) {
    std::string sheets = TestFolder("arguments") + "sheets";
    ASSERT_TRUE(CreateDirectoryA(sheets.c_str(), nullptr));
    Start("\"tree_H3.bmp\" h*_V10.png notes.txt"); // run in the strips' folder
    HWND browser = FolderBrowser();
    ASSERT_TRUE(browser && RobotSelectFolder(robot, browser, sheets) &&
                RobotPress(robot, browser, IDOK) && RobotWaitClosed(robot, browser))
        << robot.failure;
    HWND summary = RobotWaitDialog(robot, "Conversion Completed");
    ASSERT_TRUE(summary) << robot.failure;
    EXPECT_EQ(MessageText(robot, summary), "Files Selected: 3\r\nFiles Converted: 2\r\n"
                                           "Files Skipped: 1\r\nFiles Errors: 0\r\n");
    ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;
    ExpectCleanEnd();
    EXPECT_EQ(FilesIn(sheets + "\\"), (std::vector<std::string>{"hero_B10.png", "tree_B3.bmp"}));
}

// This program, like the one under test, has UTF-8 as its code page (see CMakeLists.txt).
TEST_F(Utility, AStripNamedInJapaneseGetsASheetNamedInJapanese) {
    std::string art = TestFolder("japanese") + u8"\u30b9\u30d7\u30e9\u30a4\u30c8";
    std::string sheets = TestFolder("japanese sheets"), hero = u8"\u52c7\u8005_H4.png";
    // The same strip under a Western name gives the sheet to compare with.
    ASSERT_TRUE(
        CreateDirectoryA(art.c_str(), nullptr) &&
        CopyFileA((strips + "\\ghost_H4.png").c_str(), (art + "\\" + hero).c_str(), 0) &&
        CopyFileA((strips + "\\ghost_H4.png").c_str(), (art + "\\ghost_H4.png").c_str(), 0));
    Start();
    HWND files = FileDialog();
    ASSERT_TRUE(files && RobotChooseFiles(robot, files, art, {hero, "ghost_H4.png"}) &&
                RobotWaitClosed(robot, files))
        << robot.failure;
    HWND browser = FolderBrowser();
    ASSERT_TRUE(browser && RobotSelectFolder(robot, browser, sheets.substr(0, sheets.size() - 1)) &&
                RobotPress(robot, browser, IDOK) && RobotWaitClosed(robot, browser))
        << robot.failure;
    HWND summary = RobotWaitDialog(robot, "Conversion Completed");
    ASSERT_TRUE(summary) << robot.failure;
    EXPECT_EQ(MessageText(robot, summary), "Files Selected: 2\r\nFiles Converted: 2\r\n"
                                           "Files Skipped: 0\r\nFiles Errors: 0\r\n");
    ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;
    ExpectCleanEnd();
    const std::string sheet = u8"\u52c7\u8005_B4.png";
    EXPECT_EQ(FilesIn(sheets), (std::vector<std::string>{"ghost_B4.png", sheet}));
    EXPECT_EQ(ReadWholeFile(sheets + sheet), ReadWholeFile(sheets + "ghost_B4.png"));
}

// With /out: no window at all: the counts and a line for each file not converted on the
// standard output, and the exit code. A refused command line writes nothing.
TEST_F(Utility, RunsWithoutDialogsFromTheCommandLine) {
    const struct {
        const char *name, *arguments; // OUT stands for "/out:" and the row's own folder
        const char *blocker;          // a folder in the way of a sheet, or null
        DWORD exitCode;
        const char *sheets; // the files in the folder afterwards, each followed by a blank
        std::string output;
    } rows[] = {
        {"converts", "OUT hero_V10.png *_h3.bmp notes.txt", nullptr, 0, "hero_B10.png tree_B3.bmp ",
         "Files Selected: 3\r\nFiles Converted: 2\r\nFiles Skipped: 1\r\nFiles Errors: 0\r\n"
         "notes.txt: skipped: not a strip's name\r\n"},
        {"one of each reason",
         "OUT notes.txt broken_H2.png cut_H4.png thin_H40.png wide_H2.png ghost_H4.png",
         "ghost_B4.png", 1, "",
         "Files Selected: 6\r\nFiles Converted: 0\r\nFiles Skipped: 1\r\nFiles Errors: 4\r\n"
         "notes.txt: skipped: not a strip's name\r\nbroken_H2.png: not a picture\r\n"
         "cut_H4.png: damaged\r\nthin_H40.png: more frames than pixels\r\n"
         "wide_H2.png: too large\r\nghost_H4.png: could not be written\r\n"},
        {"unknown option", "/x OUT hero_V10.png", nullptr, 2, "",
         "StripSheet: unknown option /x (StripSheet /? shows the usage)\r\n"},
        {"missing file", "OUT hero_V10.png nothing_H2.png", nullptr, 2, "",
         "StripSheet: no such file: nothing_H2.png\r\n"},
        {"no file matches", "OUT hero_V10.png *_H99.png", nullptr, 2, "",
         "StripSheet: no file matches *_H99.png\r\n"},
        {"no files", "OUT", nullptr, 2, "", "StripSheet: no files given\r\n"},
        {"bad folder", "/out:nowhere hero_V10.png", nullptr, 2, "",
         "StripSheet: no such folder: nowhere\r\n"},
        {"usage", "/? OUT hero_V10.png", nullptr, 0, "",
         "Usage: StripSheet [/out:FOLDER] FILE...\r\n"},
        {"usage H", "OUT /H hero_V10.png", nullptr, 0, "", "Usage: StripSheet"},
        {"usage dash h", "-h", nullptr, 0, "", "Usage: StripSheet"},
        {"usage dash dash help", "--Help OUT", nullptr, 0, "", "Usage: StripSheet"},
        // Sheet options: a bad one stops the run before anything is done.
        {"no columns", "/columns:0 OUT hero_V10.png", nullptr, 2, "",
         "StripSheet: /columns: takes a whole number from 1 to 32767, not 0\r\n"},
        {"too many columns", "OUT hero_V10.png /COLUMNS:32768", nullptr, 2, "",
         "StripSheet: /columns: takes a whole number from 1 to 32767, not 32768\r\n"},
        {"negative spacing", "OUT /spacing:-1 hero_V10.png", nullptr, 2, "",
         "StripSheet: /spacing: takes a whole number from 0 to 32765, not -1\r\n"},
        {"margin not a number", "OUT /margin:2px hero_V10.png", nullptr, 2, "",
         "StripSheet: /margin: takes a whole number from 0 to 16383, not 2px\r\n"},
        {"huge extrusion", "OUT /extrude:99999999999999999999 hero_V10.png", nullptr, 2, "",
         "StripSheet: /extrude: takes a whole number from 0 to 16383, not "
         "99999999999999999999\r\n"},
        {"no value", "OUT /margin hero_V10.png", nullptr, 2, "",
         "StripSheet: /margin: needs a whole number from 0 to 16383\r\n"},
        {"empty value", "OUT /columns: hero_V10.png", nullptr, 2, "",
         "StripSheet: /columns: needs a whole number from 1 to 32767\r\n"},
        {"given twice", "/json OUT hero_V10.png /JSON", nullptr, 2, "",
         "StripSheet: /json is given twice\r\n"},
        {"number given twice", "/spacing:1 /Spacing:1 OUT hero_V10.png", nullptr, 2, "",
         "StripSheet: /spacing is given twice\r\n"},
        {"switch with a value", "/alpha:on OUT hero_V10.png", nullptr, 2, "",
         "StripSheet: /alpha takes no value\r\n"},
        {"misspelt option", "/colums:3 OUT hero_V10.png", nullptr, 2, "",
         "StripSheet: unknown option /colums:3 (StripSheet /? shows the usage)\r\n"},
        // Options that fit on their own but not around this strip's frames; a data file that
        // cannot be written fails its strip, though the sheet is there.
        {"sheet too large", "OUT /margin:16383 hero_V10.png", nullptr, 1, "",
         "Files Selected: 1\r\nFiles Converted: 0\r\nFiles Skipped: 0\r\nFiles Errors: 1\r\n"
         "hero_V10.png: too large\r\n"},
        {"data file blocked", "/json OUT ghost_H4.png hero_V10.png", "ghost_B4.json", 1,
         "ghost_B4.png hero_B10.json hero_B10.png ",
         "Files Selected: 2\r\nFiles Converted: 1\r\nFiles Skipped: 0\r\nFiles Errors: 1\r\n"
         "ghost_H4.png: could not be written\r\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::string folder = TestFolder((std::string("run ") + row.name).c_str());
        if (row.blocker) {
            ASSERT_TRUE(CreateDirectoryA((folder + row.blocker).c_str(), nullptr));
        }
        std::string arguments = row.arguments;
        size_t out = arguments.find("OUT");
        // No backslash before the closing quote: it would escape the quote.
        if (out != std::string::npos)
            arguments.replace(out, 3, "\"/out:" + folder.substr(0, folder.size() - 1) + "\"");
        Start(arguments, true);
        EXPECT_EQ(CloseDialogsUntilEnd(), std::vector<std::string>{}) << "a window was shown";
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code) && code == row.exitCode)
            << "exit code " << code;
        std::string text = Output();
        // The usage is checked by its first line.
        bool usage = row.output.compare(0, 6, "Usage:") == 0;
        EXPECT_EQ(usage ? text.substr(0, row.output.size()) : text, row.output);
        if (usage) {
            for (const char *option :
                 {"/columns:N", "/spacing:N", "/margin:N", "/extrude:N", "/alpha", "/json"})
                EXPECT_NE(text.find(option), std::string::npos) << option << " is not in the usage";
        }
        std::string sheets;
        for (const std::string &name : FilesIn(folder))
            sheets += name + " ";
        EXPECT_EQ(sheets, row.sheets);
        TearDown();
        process = {};
        output = nullptr;
    }
}

// The sheet options, run by run as e2e_strips.py lists them; it checks each run's sheets after.
TEST_F(Utility, SheetOptionsRunByRun) {
    std::string engine = WindowsPath("STRIPSHEET_E2E_ENGINE");
    std::string runs = ReadWholeFile(engine + "\\runs.txt");
    std::string sheets = TestFolder("engine");
    strips = engine; // each run starts in the strips' folder
    int count = 0;
    for (size_t at = 0, end; (end = runs.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = runs.substr(at, end - at);
        size_t tab = line.find('\t');
        std::string folder = sheets + line.substr(0, tab);
        SCOPED_TRACE(line);
        ASSERT_TRUE(tab != std::string::npos && CreateDirectoryA(folder.c_str(), nullptr));
        Start("\"/out:" + folder + "\" " + line.substr(tab + 1), true);
        EXPECT_EQ(CloseDialogsUntilEnd(), std::vector<std::string>{}) << "a window was shown";
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code) && code == 0)
            << "exit code " << code;
        EXPECT_NE(Output().find("Files Errors: 0\r\n"), std::string::npos);
        TearDown();
        process = {};
        output = nullptr;
        count++;
    }
    EXPECT_GE(count, 10) << "too few runs in " << engine;
}

// Options alone still open both dialogs and apply to their sheets.
TEST_F(Utility, OptionsAloneStillOpenBothDialogs) {
    std::string sheets = TestFolder("dialog options") + "sheets";
    ASSERT_TRUE(CreateDirectoryA(sheets.c_str(), nullptr));
    Start("/alpha /json");
    HWND files = FileDialog();
    ASSERT_TRUE(files && RobotChooseFiles(robot, files, strips, {"ghost_H4.png"}) &&
                RobotWaitClosed(robot, files))
        << robot.failure;
    HWND browser = FolderBrowser();
    ASSERT_TRUE(browser && RobotSelectFolder(robot, browser, sheets) &&
                RobotPress(robot, browser, IDOK) && RobotWaitClosed(robot, browser))
        << robot.failure;
    HWND summary = RobotWaitDialog(robot, "Conversion Completed");
    ASSERT_TRUE(summary && RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;
    ExpectCleanEnd();
    EXPECT_EQ(FilesIn(sheets + "\\"), (std::vector<std::string>{"ghost_B4.json", "ghost_B4.png"}));
    std::string png = ReadWholeFile(sheets + "\\ghost_B4.png");
    EXPECT_TRUE(png.size() > 25 && png[25] == 6) << "not an RGBA PNG"; // IHDR's colour type
}

// Run by CTest with DirectSound made impossible (no sound device, or no DSOUND.DLL).
class StartUp : public Utility {
    void SetUp() override {
        if (!InScenario("StartUpFails"))
            GTEST_SKIP() << "needs DirectSound to fail: CTest runs it as a test of its own";
        Utility::SetUp();
    }
};

TEST_F(StartUp, FailureShowsTheErrorAndNoFileDialog) {
    Start();
    HWND error = RobotWaitDialog(robot, "Error");
    ASSERT_TRUE(error) << robot.failure;
    EXPECT_EQ(MessageText(robot, error), "Can't initialize system");
    ASSERT_TRUE(RobotPress(robot, error, IDOK) && RobotWaitClosed(robot, error)) << robot.failure;
    ExpectCleanEnd(); // no file dialog after the error
}

} // namespace
