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
#include <map>
#include <sstream>
#include <string>
#include <tuple>
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

// Where the options area's values are remembered. Every test starts as a user who never chose any.
constexpr char OptionsKey[] = "Software\\StripSheet";

void ForgetOptions() {
    RegDeleteTreeA(HKEY_CURRENT_USER, OptionsKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, OptionsKey);
}

bool OptionsRemembered() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, OptionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The options area of a run without options, by the labels the user reads.
const std::map<std::string, std::string> PlainOptions = {{"Keep transparency (PNG)", "0"},
                                                         {"Frame data file (.json)", "0"},
                                                         {"Columns:", "8"},
                                                         {"Spacing:", "0"},
                                                         {"Margin:", "0"},
                                                         {"Extrude:", "0"},
                                                         {"One atlas:", ""},
                                                         {"Largest side:", ""},
                                                         {"Power-of-two sides", "0"},
                                                         {"Trim transparent edges", "0"},
                                                         {"Merge identical frames", "0"},
                                                         {"Pivot (x,y):", ""},
                                                         {"Scale:", "1"}};

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
        ForgetOptions();
        ASSERT_TRUE(FileExists(program)) << "no program at \"" << program << "\"";
    }

    // Starts the program in the strips' folder with `arguments` after its name. With `capture`
    // its standard output goes into a pipe that Output reads.
    void Start(const std::string &arguments = "", bool capture = false) {
        Run(program, "\"" + program + "\" " + arguments, capture);
    }

    // Runs the whole command line, of `application` when given (else of the program it names).
    void Run(const std::string &application, std::string command, bool capture) {
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
        bool started = CreateProcessA(application.empty() ? nullptr : application.c_str(),
                                      &command[0], nullptr, nullptr, capture, 0, nullptr,
                                      strips.c_str(), &startup, &process);
        if (capture) {
            CloseHandle(write);
            CloseHandle(startup.hStdError);
        }
        ASSERT_TRUE(started) << "cannot start " << command;
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

    // Closes what is left of one run, for a test that starts the program again.
    void NextRun() {
        TearDown();
        process = {};
        output = nullptr;
    }

    // Chooses `folder` in the folder browser and presses OK on the summary; returns its text, or
    // "" when a step failed (robot.failure says which).
    std::string SheetsInto(const std::string &folder) {
        HWND browser = FolderBrowser(), summary = nullptr;
        if (browser && RobotSelectFolder(robot, browser, folder) &&
            RobotPress(robot, browser, IDOK) && RobotWaitClosed(robot, browser))
            summary = RobotWaitDialog(robot, "Conversion Completed");
        std::string text = summary ? MessageText(robot, summary) : "";
        bool closed =
            summary && RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary);
        return closed ? text : "";
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

    // Eight strips (PNG RGB, RGBA and palette, BMP 24- and 8-bit, the 8-bit one's top-down twin,
    // JPEG, an upper-case BMP), two files that are not strips by name, a strip with more frames
    // than pixels, and two damaged files: a PNG whose header fails its checksum and a "BM" file
    // that is no bitmap.
    const std::vector<std::string> chosen = {
        "hero_V10.png",    "ghost_H4.png",  "coin_h6.png",   "tree_H3.bmp", "lamp_V5.bmp",
        "lamp_top_V5.bmp", "fire_H4.jpg",   "Flag_v012.BMP", "notes.txt",   "thin_H40.png",
        "sprite.png",      "broken_H2.png", "junk_V3.bmp"};
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
    // Thirteen selected; the eight strips converted; notes.txt and sprite.png skipped by name;
    // thin_H40.png loads but cannot be cut into 40 frames: an error; the damaged files cannot be
    // loaded, which counts nowhere.
    EXPECT_EQ(MessageText(robot, summary), "Files Selected: 13\r\n"
                                           "Files Converted: 8\r\n"
                                           "Files Skipped: 2\r\n"
                                           "Files Errors: 1\r\n");
    std::vector<std::string> buttons;
    for (HWND button : RobotControls(summary, "Button"))
        buttons.push_back(RobotText(robot, button));
    EXPECT_EQ(buttons, std::vector<std::string>{"OK"});
    ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;

    ExpectCleanEnd();
    EXPECT_FALSE(OptionsRemembered()) << "the options area was left as it opened";
    // Exactly the eight sheets, no temporary files; their pixels are checked by e2e_strips.py.
    EXPECT_EQ(FilesIn(sheets + "\\"),
              (std::vector<std::string>{"Flag_B12.bmp", "coin_B6.png", "fire_B4.jpg",
                                        "ghost_B4.png", "hero_B10.png", "lamp_B5.bmp",
                                        "lamp_top_B5.bmp", "tree_B3.bmp"}));
}

// The program's memory in use (its commit charge), read from outside.
SIZE_T MemoryInUse(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

// The four counts at the head of a summary or report; false when the text does not start so.
bool ReadCounts(const std::string &text, int counts[4]) {
    return sscanf(text.c_str(),
                  "Files Selected: %d\r\nFiles Converted: %d\r\nFiles Skipped: %d\r\n"
                  "Files Errors: %d",
                  &counts[0], &counts[1], &counts[2], &counts[3]) == 4;
}

// Hundreds of damaged strips of every format in one batch: the program survives them all, shows
// the summary with every file counted as selected, leaves nothing but whole sheets (checked by
// e2e_strips.py) and gives its memory back. The same files from the command line name each file
// not converted with its reason: the summary's counts are those of the reasons. Its GDI objects
// cannot be counted from outside under Wine; the library tests count them over the same damage.
TEST_F(Utility, ADamagedFileStormEndsInTheSummary) {
    std::string storm = WindowsPath("STRIPSHEET_E2E_STORM");
    std::vector<std::string> chosen = FilesIn(storm + "\\");
    std::vector<std::string> written;
    std::istringstream list(ReadWholeFile(storm + ".txt"));
    for (std::string name; std::getline(list, name);)
        written.push_back(name);
    std::sort(chosen.begin(), chosen.end());
    ASSERT_EQ(chosen, written) << "the storm's folder holds other files than it was given";
    ASSERT_FALSE(chosen.empty());
    // TestFolder empties the folder each time it is asked for: once only.
    std::string folder = TestFolder("storm"), sheets = folder + "sheets", again = folder + "again";
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
    int counts[4] = {};
    std::string text = MessageText(robot, summary);
    // The figures the README quotes.
    printf("storm: %zu files, memory in use %zu KB before, %zu KB after\n%s", chosen.size(),
           size_t(before >> 10), size_t(after >> 10), text.c_str());
    ASSERT_TRUE(ReadCounts(text, counts)) << text;
    ASSERT_TRUE(before && after) << "the program's memory could not be read";
    EXPECT_LT(after, before + (SIZE_T(16) << 20)) << before << " bytes before, " << after;
    ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
        << robot.failure;
    ExpectCleanEnd();
    std::vector<std::string> sheetNames = FilesIn(sheets + "\\");

    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
    ASSERT_TRUE(CreateDirectoryA(again.c_str(), nullptr));
    Start("\"/out:" + again + "\" \"" + storm + "\\*.*\"", true);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    std::string report = Output();
    int reported[4] = {};
    ASSERT_TRUE(ReadCounts(report, reported)) << report;
    // Each file not converted has a line of its own: "name: reason".
    int lines = 0, notPictures = 0;
    std::istringstream reasons(report);
    for (std::string line; std::getline(reasons, line);) {
        if (line.compare(0, storm.size(), storm) != 0) continue;
        lines++;
        notPictures += line.find(": not a picture\r") != std::string::npos;
    }
    const int selected = int(chosen.size());
    EXPECT_EQ(std::vector<int>(counts, counts + 4), std::vector<int>(reported, reported + 4));
    EXPECT_EQ(reported[0], selected);
    EXPECT_EQ(reported[2], 0) << "every name is a strip's";
    EXPECT_EQ(lines, selected - reported[1]) << report;
    EXPECT_EQ(notPictures, selected - reported[1] - reported[3]) << report;
    EXPECT_GT(reported[3], 0) << "the damage leaves pictures that fail part way";
    EXPECT_EQ(exitCode, 1u) << "a failed file makes the exit code 1";
    EXPECT_EQ(sheetNames.size(), size_t(counts[1])) << "a stray or missing file";
    EXPECT_EQ(FilesIn(again + "\\"), sheetNames);
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
    EXPECT_EQ(SheetsInto(sheets), "Files Selected: 3\r\nFiles Converted: 2\r\n"
                                  "Files Skipped: 1\r\nFiles Errors: 0\r\n");
    ExpectCleanEnd();
    EXPECT_EQ(FilesIn(sheets + "\\"), (std::vector<std::string>{"hero_B10.png", "tree_B3.bmp"}));
}

// A long batch shows its progress in a window centred on the screen once it has run for half a
// second; Cancel, Esc and the close box stop it before its next strip, the sheets under way
// finished whole, and the window is gone before the summary. A batch of one strip never shows it.
TEST_F(Utility, ALongBatchShowsItsProgressAndStops) {
    const std::string folder = strips + "-long";
    const struct {
        const char *name, *arguments; // no arguments: all 4000 strips chosen in the file dialog
        UINT message;                 // what stops the batch, posted to the progress window
        WPARAM wParam;
    } rows[] = {{"one strip", "s0000_H16.png", 0, 0},
                {"cancel", "*_H16.png", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)},
                {"escape", nullptr, WM_KEYDOWN, VK_ESCAPE},
                {"close box", "*_H16.png", WM_SYSCOMMAND, SC_CLOSE}};
    std::string whole; // the sheet of the run of one strip
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::string sheets = TestFolder(row.name) + "sheets";
        ASSERT_TRUE(CreateDirectoryA(sheets.c_str(), nullptr));
        Start(row.arguments ? "\"" + folder + "\\" + row.arguments + "\"" : "");
        HWND files = row.arguments ? nullptr : FileDialog();
        ASSERT_TRUE(row.arguments ||
                    (files && RobotChooseFiles(robot, files, folder, FilesIn(folder + "\\"))))
            << robot.failure;
        HWND browser = FolderBrowser();
        ASSERT_TRUE(browser && RobotSelectFolder(robot, browser, sheets) &&
                    RobotPress(robot, browser, IDOK) && RobotWaitClosed(robot, browser))
            << robot.failure;
        HWND progress = row.message ? RobotWaitDialog(robot, "StripSheet") : nullptr;
        int at = 0, total = 0, selected = 1;
        if (row.message) {
            ASSERT_TRUE(progress) << robot.failure;
            std::string line = MessageText(robot, progress);
            EXPECT_EQ(sscanf(line.c_str(), "Converting %d of %d: s", &at, &total), 2) << line;
            EXPECT_EQ(total, 4000);
            RECT window{}, screen{};
            GetWindowRect(progress, &window);
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0);
            EXPECT_NEAR(window.left + window.right, screen.left + screen.right, 2);
            EXPECT_NEAR(window.top + window.bottom, screen.top + screen.bottom, 2);
            EXPECT_FALSE(IsHungAppWindow(progress));
            ASSERT_TRUE(PostMessageA(progress, row.message, row.wParam, 0));
        }
        // For one strip the summary is the first window after the browser.
        HWND summary = RobotWaitDialog(robot, row.message ? "Conversion Completed" : nullptr);
        ASSERT_TRUE(summary && RobotText(robot, summary) == "Conversion Completed")
            << robot.failure;
        EXPECT_FALSE(IsWindow(progress)) << "the progress window outlives the batch";
        std::string text = MessageText(robot, summary);
        if (row.message) sscanf(text.c_str(), "Files Selected: %d", &selected);
        EXPECT_GE(selected, at);
        std::string n = std::to_string(selected);
        EXPECT_EQ(text, "Files Selected: " + n + "\r\nFiles Converted: " + n +
                            "\r\nFiles Skipped: 0\r\nFiles Errors: 0\r\n" +
                            (row.message ? "Stopped before " + std::to_string(4000 - selected) +
                                               " of 4000 files.\r\n"
                                         : ""));
        // Every sheet on disk is whole, and nothing else is there.
        if (whole.empty()) whole = ReadWholeFile(sheets + "\\s0000_B16.png");
        ASSERT_GT(whole.size(), 8u);
        EXPECT_EQ(whole.substr(whole.size() - 8, 4), "IEND") << "a PNG ends in its end chunk";
        std::vector<std::string> written = FilesIn(sheets + "\\");
        EXPECT_EQ(written.size(), size_t(selected));
        for (const std::string &name : written)
            EXPECT_EQ(ReadWholeFile(sheets + "\\" + name), whole) << name;
        ASSERT_TRUE(RobotPress(robot, summary, IDOK) && RobotWaitClosed(robot, summary))
            << robot.failure;
        ExpectCleanEnd();
        NextRun();
    }
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
    EXPECT_EQ(SheetsInto(sheets.substr(0, sheets.size() - 1)),
              "Files Selected: 2\r\nFiles Converted: 2\r\nFiles Skipped: 0\r\nFiles Errors: 0\r\n");
    ExpectCleanEnd();
    const std::string sheet = u8"\u52c7\u8005_B4.png";
    EXPECT_EQ(FilesIn(sheets), (std::vector<std::string>{"ghost_B4.png", sheet}));
    EXPECT_EQ(ReadWholeFile(sheets + sheet), ReadWholeFile(sheets + "ghost_B4.png"));
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    *reinterpret_cast<WORD *>(found) = language;
    return FALSE;
}

// A copy of the program as Windows before 10 1903 runs it: such a system ignores the manifest's
// code page, so the copy's manifest goes without it and the process gets the system's own one.
std::string CopyWithoutUtf8(const std::string &program, const std::string &folder) {
    std::string copy = folder + "StripSheet.exe", manifest;
    WORD language = 0;
    if (!CopyFileA(program.c_str(), copy.c_str(), FALSE)) return "";
    if (HMODULE image = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        EnumResourceLanguagesA(image, RT_MANIFEST, MAKEINTRESOURCEA(1), FirstLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
        HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), RT_MANIFEST);
        if (HGLOBAL data = found ? LoadResource(image, found) : nullptr)
            manifest.assign(static_cast<const char *>(LockResource(data)),
                            SizeofResource(image, found));
        FreeLibrary(image);
    }
    const std::string end = "</activeCodePage>";
    size_t from = manifest.find("<activeCodePage"), to = manifest.find(end);
    if (from == std::string::npos || to == std::string::npos) return "";
    manifest.erase(from, to + end.size() - from);
    HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
    if (!update ||
        !UpdateResourceA(update, RT_MANIFEST, MAKEINTRESOURCEA(1), language, &manifest[0],
                         DWORD(manifest.size())) ||
        !EndUpdateResourceA(update, FALSE))
        return "";
    return copy;
}

void ReplaceAll(std::string &text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// With /out: no window at all: the counts and a line for each file not converted on the
// standard output, and the exit code. A refused command line writes nothing.
TEST_F(Utility, RunsWithoutDialogsFromTheCommandLine) {
    enum class Via {
        Program,
        OlderWindows, // the copy without UTF-8 as its code page
        BatchFile,    // run.bat in the row's folder runs the program, under cmd
    };
    const std::string ghost = "Files Selected: 1\r\nFiles Converted: 1\r\nFiles Skipped: 0\r\n"
                              "Files Errors: 0\r\n";
    const std::string lacking = "StripSheet: the system's code page cannot hold the name IN\\";
    const struct {
        const char *name, *arguments; // OUT stands for "/out:" and the row's own folder
        const char *blocker;          // a folder in the way of a sheet, or null
        DWORD exitCode;
        const char *sheets; // the files in the folder afterwards, each followed by a blank
        std::string output; // IN\ stands for the folder "in" of the row's folder
        Via via = Via::Program;
        const char *in = "";            // the files made in "in", each a copy of ghost_H4.png
        const char *readOnly = nullptr; // an earlier sheet marked read-only, or null
        // Strips this program holds open for reading meanwhile, and what it lets others do.
        std::vector<std::pair<const char *, DWORD>> held = {};
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
        // Another program reading a strip does not keep it from being converted; one that lets
        // nobody else read it does.
        {"held strips and a read-only sheet",
         "OUT hero_V10.png ghost_H4.png tree_H3.bmp",
         nullptr,
         1,
         "hero_B10.png tree_B3.bmp ",
         "Files Selected: 3\r\nFiles Converted: 1\r\nFiles Skipped: 0\r\nFiles Errors: 2\r\n"
         "ghost_H4.png: could not be read\r\ntree_H3.bmp: read-only\r\n",
         Via::Program,
         "",
         "tree_B3.bmp",
         {{"hero_V10.png", FILE_SHARE_READ}, {"ghost_H4.png", 0}}},
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
        // On an older Windows: no "??" taken as a wildcard, no look-alike taken for the name.
        {"a name the code page lacks", u8"OUT IN\\\u52c7\u8005_H4.png", nullptr, 2, "",
         lacking + "<U+52C7><U+8005>_H4.png\r\n", Via::OlderWindows,
         u8"ab_H4.png \u52c7\u8005_H4.png"},
        {"a look-alike", u8"OUT IN\\\uff41\uff42_H4.png", nullptr, 2, "",
         lacking + "<U+FF41><U+FF42>_H4.png\r\n", Via::OlderWindows,
         u8"ab_H4.png \uff41\uff42_H4.png"},
        {"a match the code page lacks", "OUT IN\\*_H4.png", nullptr, 2, "",
         lacking + "<U+52C7><U+8005>_H4.png\r\n", Via::OlderWindows,
         u8"ab_H4.png \u52c7\u8005_H4.png"},
        // walk_H8.pngx has a short name ending in .PNG.
        {"each file once, by its long name", "OUT IN\\b_H2.png IN\\*.png IN\\*.PNG", nullptr, 0,
         "a_B4.png b_B2.png ",
         "Files Selected: 2\r\nFiles Converted: 2\r\nFiles Skipped: 0\r\nFiles Errors: 0\r\n",
         Via::Program, "a_H4.png b_H2.png walk_H8.pngx"},
        // The system's order (aa first) is not the names' order; *.* takes a name without a dot.
        {"matches in the names' order", "OUT IN\\*.*", nullptr, 0, "",
         "Files Selected: 3\r\nFiles Converted: 0\r\nFiles Skipped: 3\r\nFiles Errors: 0\r\n"
         "IN\\a_x.txt: skipped: not a strip's name\r\nIN\\aa.txt: skipped: not a strip's name\r\n"
         "IN\\readme: skipped: not a strip's name\r\n",
         Via::Program, "aa.txt a_x.txt readme"},
        // The current folder is the strips' one, on drive Z.
        {"a drive-relative name", "OUT Z:ghost_H4.png", nullptr, 0, "ghost_B4.png ", ghost},
        {"a folder quoted by a batch file", "/out:\"%~dp0\" ghost_H4.png", nullptr, 0,
         "ghost_B4.png run.bat ", ghost, Via::BatchFile},
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
        // Atlas and packing options: bad values and options that cannot go together.
        {"page too small", "OUT /maxsize:8 hero_V10.png", nullptr, 2, "",
         "StripSheet: /maxsize: takes a whole number from 16 to 32767, not 8\r\n"},
        {"pivot beyond the frame", "OUT /pivot:2,0 hero_V10.png", nullptr, 2, "",
         "StripSheet: /pivot: takes X,Y, two decimals from 0 to 1 (0.5,1), not 2,0\r\n"},
        {"pivot of one number", "OUT /pivot:0.5 hero_V10.png", nullptr, 2, "",
         "StripSheet: /pivot: takes X,Y, two decimals from 0 to 1 (0.5,1), not 0.5\r\n"},
        {"no scale", "OUT /scale:0 hero_V10.png", nullptr, 2, "",
         "StripSheet: /scale: takes a whole number from 1 to 16, not 0\r\n"},
        {"atlas without a name", "OUT /atlas: hero_V10.png", nullptr, 2, "",
         "StripSheet: /atlas: needs a name\r\n"},
        {"atlas in a folder", "OUT /atlas:sub\\hero hero_V10.png", nullptr, 2, "",
         "StripSheet: /atlas: takes a file name without folder or wildcard, not sub\\hero\r\n"},
        {"atlas with a wildcard", "OUT /atlas:hero* hero_V10.png", nullptr, 2, "",
         "StripSheet: /atlas: takes a file name without folder or wildcard, not hero*\r\n"},
        // Names Windows keeps for devices, or will not end a file name with.
        {"atlas named as a device", "OUT /atlas:Com1.sheet hero_V10.png", nullptr, 2, "",
         "StripSheet: /atlas: takes a file name without folder or wildcard, not Com1.sheet\r\n"},
        {"atlas ending in a dot", "OUT /atlas:hero. hero_V10.png", nullptr, 2, "",
         "StripSheet: /atlas: takes a file name without folder or wildcard, not hero.\r\n"},
        {"columns with an atlas", "OUT /columns:4 hero_V10.png /atlas:hero", nullptr, 2, "",
         "StripSheet: /columns cannot go with /atlas\r\n"},
        {"columns with trimming", "/trim OUT /columns:4 hero_V10.png", nullptr, 2, "",
         "StripSheet: /columns cannot go with /trim\r\n"},
        // The atlas's own lines: each page written, or why none was.
        {"atlas", "OUT /atlas:hero ghost_H4.png notes.txt hero_V10.png", nullptr, 0, "hero.png ",
         "Files Selected: 3\r\nFiles Converted: 2\r\nFiles Skipped: 1\r\nFiles Errors: 0\r\n"
         "notes.txt: skipped: not a strip's name\r\nwritten: OUT\\hero.png\r\n"},
        {"a prefix twice in an atlas", "OUT /atlas:hero /json ghost_H4.png IN\\ghost_H4.png",
         nullptr, 1, "hero.json hero.png ",
         "Files Selected: 2\r\nFiles Converted: 1\r\nFiles Skipped: 0\r\nFiles Errors: 1\r\n"
         "IN\\ghost_H4.png: same name\r\nwritten: OUT\\hero.png\r\n",
         Via::Program, "ghost_H4.png"},
        {"nothing for the atlas", "OUT /atlas:hero thin_H40.png /maxsize:16 ghost_H4.png", nullptr,
         1, "",
         "Files Selected: 2\r\nFiles Converted: 0\r\nFiles Skipped: 0\r\nFiles Errors: 2\r\n"
         "thin_H40.png: more frames than pixels\r\nghost_H4.png: too large\r\n"
         "no atlas written: no strip was converted\r\n"},
        {"atlas blocked", "OUT /atlas:hero ghost_H4.png hero_V10.png", "hero.png", 1, "",
         "Files Selected: 2\r\nFiles Converted: 0\r\nFiles Skipped: 0\r\nFiles Errors: 2\r\n"
         "ghost_H4.png: could not be written\r\nhero_V10.png: could not be written\r\n"},
        {"atlas read-only", "OUT /atlas:hero ghost_H4.png hero_V10.png", nullptr, 1, "hero.png ",
         "Files Selected: 2\r\nFiles Converted: 0\r\nFiles Skipped: 0\r\nFiles Errors: 2\r\n"
         "ghost_H4.png: read-only\r\nhero_V10.png: read-only\r\n",
         Via::Program, "", "hero.png"},
        // One data file a name: a second strip that would write it again is refused, whatever its
        // sheet's format. Without data files the later sheet of one name stays, as always.
        {"one data file a name", "/json OUT ghost_H4.png IN\\ghost_H4.bmp", nullptr, 1,
         "ghost_B4.json ghost_B4.png ",
         "Files Selected: 2\r\nFiles Converted: 1\r\nFiles Skipped: 0\r\nFiles Errors: 1\r\n"
         "IN\\ghost_H4.bmp: same name\r\n",
         Via::Program, "ghost_H4.bmp"},
    };
    std::string olderWindows = CopyWithoutUtf8(program, TestFolder("older windows"));
    ASSERT_NE(olderWindows, "");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::string folder = TestFolder((std::string("run ") + row.name).c_str());
        if (row.blocker) {
            ASSERT_TRUE(CreateDirectoryA((folder + row.blocker).c_str(), nullptr));
        }
        std::string in = folder + "in\\", made, arguments = row.arguments, expected = row.output;
        ASSERT_TRUE(CreateDirectoryA(in.c_str(), nullptr));
        for (std::istringstream names(row.in); names >> made;) {
            ASSERT_TRUE(CopyFileA((strips + "\\ghost_H4.png").c_str(), (in + made).c_str(), TRUE));
        }
        // A name in "in" is quoted: the row's folder holds blanks.
        for (size_t at = 0; (at = arguments.find("IN\\", at)) != std::string::npos;) {
            size_t end = std::min(arguments.find(' ', at), arguments.size());
            arguments.insert(end, "\"");
            arguments.replace(at, 3, "\"" + in);
            at = end + in.size();
        }
        ReplaceAll(expected, "IN\\", in);
        ReplaceAll(expected, "OUT\\", folder);
        std::string readOnly = row.readOnly ? folder + row.readOnly : "";
        if (row.readOnly) {
            ASSERT_TRUE(WriteWholeFile(readOnly, "an earlier sheet", 16) &&
                        SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        std::vector<HANDLE> holders;
        for (auto &held : row.held) {
            holders.push_back(CreateFileA((strips + "\\" + held.first).c_str(), GENERIC_READ,
                                          held.second, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_NE(holders.back(), INVALID_HANDLE_VALUE);
        }
        size_t out = arguments.find("OUT");
        // No backslash before the closing quote: it would escape the quote.
        if (out != std::string::npos)
            arguments.replace(out, 3, "\"/out:" + folder.substr(0, folder.size() - 1) + "\"");
        if (row.via == Via::BatchFile) {
            std::string batch = "@\"" + program + "\" " + arguments + "\r\n";
            ASSERT_TRUE(WriteWholeFile(folder + "run.bat", batch.data(), batch.size()));
            Run("", "cmd /c \"" + folder + "run.bat\"", true);
        } else {
            const std::string &exe = row.via == Via::OlderWindows ? olderWindows : program;
            Run(exe, "\"" + exe + "\" " + arguments, true);
        }
        EXPECT_EQ(CloseDialogsUntilEnd(), std::vector<std::string>{}) << "a window was shown";
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code) && code == row.exitCode)
            << "exit code " << code;
        for (HANDLE holder : holders)
            CloseHandle(holder);
        if (row.readOnly) {
            SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
            EXPECT_EQ(ReadWholeFile(readOnly), "an earlier sheet");
        }
        std::string text = Output();
        // The usage is checked by its first line.
        bool usage = expected.compare(0, 6, "Usage:") == 0;
        EXPECT_EQ(usage ? text.substr(0, expected.size()) : text, expected);
        if (usage) {
            for (const char *option : {"/columns:N", "/spacing:N", "/margin:N", "/extrude:N",
                                       "/alpha", "/json", "/atlas:NAME", "/maxsize:N", "/pot",
                                       "/trim", "/dedupe", "/pivot:X,Y", "/scale:N", "3 when"})
                EXPECT_NE(text.find(option), std::string::npos) << option << " is not in the usage";
        }
        std::string sheets;
        for (const std::string &name : FilesIn(folder))
            sheets += name + " ";
        EXPECT_EQ(sheets, row.sheets);
        NextRun();
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
        NextRun();
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
    EXPECT_NE(SheetsInto(sheets), "") << robot.failure;
    ExpectCleanEnd();
    EXPECT_EQ(FilesIn(sheets + "\\"), (std::vector<std::string>{"ghost_B4.json", "ghost_B4.png"}));
    std::string png = ReadWholeFile(sheets + "\\ghost_B4.png");
    EXPECT_TRUE(png.size() > 25 && png[25] == 6) << "not an RGBA PNG"; // IHDR's colour type
}

// The options area of "Select File(s)", run by run: what the user sets there makes that run's
// sheets (e2e_strips.py dialog-check checks them) and is remembered, for the next run's area and
// for strips dropped onto the program; a remembered value of another type or out of range is
// ignored and the others stand; an option the command line gives shows greyed and marked as
// given, over its remembered value. Every access key of the dialog reaches one control.
TEST_F(Utility, TheOptionsAreaRunByRun) {
    strips = WindowsPath("STRIPSHEET_E2E_ENGINE");
    std::vector<std::string> chosen;
    std::string names;
    std::istringstream list(ReadWholeFile(strips + "\\dialog.txt"));
    for (std::string name; list >> name; names += " \"" + name + "\"")
        chosen.push_back(name);
    ASSERT_FALSE(chosen.empty());
    const std::string folder = TestFolder("options area"), count = std::to_string(chosen.size());
    auto dword = [](DWORD n) { return std::string(reinterpret_cast<const char *>(&n), 4); };
    using Options = std::map<std::string, std::string>;
    const Options set = {
        {"Keep transparency (PNG)", "1"}, {"Frame data file (.json)", "1"}, {"Columns:", "4"}};
    const struct {
        const char *name, *arguments; // null: the strips, as if dropped onto the program
        std::vector<std::tuple<const char *, DWORD, std::string>> remembered; // kept, when none
        Options shown, chosen; // the controls that differ from PlainOptions; what the robot sets
        bool convert;          // to a folder named as the row, else the file dialog is cancelled
    } rows[] = {
        {"chosen", "", {}, {}, set, true},
        {"shown", "", {}, set, {}, false},
        {"dropped", nullptr, {}, {}, {}, true},
        {"damaged",
         "",
         {{"columns", REG_SZ, "4"},
          {"spacing", REG_DWORD, dword(40000)},
          {"margin", REG_BINARY, "\x01"},
          {"alpha", REG_DWORD, dword(2)},
          {"json", REG_SZ, std::string("1\0", 2)},
          {"atlas", REG_SZ, "a/b"},
          {"pivot", REG_SZ, "0.5,1"},
          {"scale", REG_SZ, "2"},
          {"extrude", REG_DWORD, dword(3)}},
         {{"Extrude:", "3"}, {"Pivot (x,y):", "0.5,1"}},
         {},
         false},
        {"not with what is given",
         "/columns:5",
         {{"atlas", REG_SZ, "hero"}, {"spacing", REG_DWORD, dword(2)}},
         {{"Columns: (given)", "greyed 5"}},
         {},
         false},
        {"given",
         "/columns:5 /json",
         {{"columns", REG_DWORD, dword(4)}, {"alpha", REG_DWORD, dword(1)}},
         {{"Columns: (given)", "greyed 5"},
          {"Frame data file (.json) (given)", "greyed 1"},
          {"Keep transparency (PNG)", "1"}},
         {},
         false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        HKEY key = nullptr;
        if (!row.remembered.empty()) {
            ForgetOptions();
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, OptionsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                      nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            for (const auto &[name, type, data] : row.remembered)
                RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                               DWORD(data.size()));
            RegCloseKey(key);
        }
        Start(row.arguments ? row.arguments : names);
        HWND files = row.arguments ? FileDialog() : nullptr;
        if (row.arguments) {
            Options expected = PlainOptions;
            for (const auto &[label, value] : row.shown) {
                expected.erase(label.substr(0, label.find(" (given)")));
                expected[label] = value;
            }
            EXPECT_EQ(RobotOptions(robot, files), expected);
            std::map<char, int> keys;
            for (const char *type : {"Static", "Button"})
                for (HWND control : RobotControls(files, type)) {
                    std::string text = RobotText(robot, control);
                    size_t at = text.find('&');
                    if (at != std::string::npos && at + 1 < text.size()) {
                        EXPECT_EQ(++keys[char(tolower(text[at + 1]))], 1) << text;
                    }
                }
            for (const auto &[label, value] : row.chosen)
                EXPECT_TRUE(RobotSetOption(robot, files, label, value));
            ASSERT_TRUE((row.convert ? RobotChooseFiles(robot, files, strips, chosen)
                                     : RobotPress(robot, files, IDCANCEL)) &&
                        RobotWaitClosed(robot, files))
                << robot.failure;
        }
        std::string sheets = folder + row.name;
        if (row.convert) {
            ASSERT_TRUE(CreateDirectoryA(sheets.c_str(), nullptr));
            EXPECT_EQ(SheetsInto(sheets), "Files Selected: " + count +
                                              "\r\nFiles Converted: " + count +
                                              "\r\nFiles Skipped: 0\r\nFiles Errors: 0\r\n");
        }
        ExpectCleanEnd();
        NextRun();
    }
}

// A box whose text its option does not take keeps the dialog open: a message names the box and
// the values it takes, the focus goes back to the box, and nothing is remembered.
TEST_F(Utility, TheOptionsAreaRefusesABadNumber) {
    const struct {
        const char *box, *text, *takes;
        const char *other = "", *otherText = ""; // a box set first, which this one cannot go with
    } rows[] = {{"Columns:", "0", "1 to 32767"},
                {"Margin:", "", "0 to 16383"},
                {"Spacing:", "2px", "0 to 32765"},
                {"Pivot (x,y):", "1,2", "two decimals from 0 to 1"},
                {"One atlas:", "art\\hero", "file name"},
                {"Columns:", "4", "One atlas", "One atlas:", "hero"}};
    Start();
    HWND files = FileDialog();
    ASSERT_TRUE(files) << robot.failure;
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.box) + " " + row.text);
        std::map<std::string, std::string> before = RobotOptions(robot, files);
        ASSERT_TRUE(!*row.other || RobotSetOption(robot, files, row.other, row.otherText));
        HWND box = RobotSetOption(robot, files, row.box, row.text);
        ASSERT_TRUE(box && RobotChooseFiles(robot, files, strips, {"ghost_H4.png"}))
            << robot.failure;
        HWND message = RobotWaitDialog(robot, "Sheet options");
        ASSERT_TRUE(message) << robot.failure;
        std::string text = MessageText(robot, message), name = row.box;
        EXPECT_NE(text.find(name.substr(0, name.size() - 1)), std::string::npos) << text;
        EXPECT_NE(text.find(row.takes), std::string::npos) << text;
        ASSERT_TRUE(RobotPress(robot, message, IDOK) && RobotWaitClosed(robot, message))
            << robot.failure;
        EXPECT_TRUE(RobotWaitFocus(robot, box)) << robot.failure;
        EXPECT_TRUE(IsWindowVisible(files));
        for (const char *reset : {row.box, row.other})
            ASSERT_TRUE(!*reset || RobotSetOption(robot, files, reset, before[reset]));
    }
    ASSERT_TRUE(RobotPress(robot, files, IDCANCEL) && RobotWaitClosed(robot, files))
        << robot.failure;
    ExpectCleanEnd();
    EXPECT_FALSE(OptionsRemembered());
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
