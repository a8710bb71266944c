#pragma once
// Runs the cross-built Windows installer under Wine as a player would start it: a fresh Wine
// prefix for every test, drive D: mapped to a folder of the test's own, the Wine user's desktop
// a real folder inside the prefix, and no display. Without a display Wine's message boxes
// return at once, as if the player had closed them at once; a test therefore never has to
// press a button, and the installer's text for the player is read from its log instead.
// Every Wine process of the prefix is stopped when the test ends.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/virtual_display_posix.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// The Windows build folder named by FELTO_WIN_BUILD_DIR; empty when the variable is unset.
std::string WindowsBuildDir();

class WinePrefix {
  public:
    // `sample` is a Windows program of the build: its kind (32- or 64-bit) picks the Wine
    // loader. Throws std::runtime_error when Wine cannot run it here.
    explicit WinePrefix(const std::string& sample);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // The folder that drive D: shows.
    std::string DriveD() const { return driveD_; }
    // Drive D: shows `folder` from now on.
    void MapDriveD(const std::string& folder);
    // The folder that drive C: shows.
    std::string DriveC() const { return prefix_ + "/drive_c"; }
    // The Wine user's desktop folder, where the installer puts its shortcut.
    std::string Desktop() const;

    // The command line and environment that run a Windows program in this prefix.
    std::vector<std::string> Command(const std::string& program,
                                     const std::vector<std::string>& args = {}) const;
    ChildOptions Options(int timeoutMs) const;

    // Limits Wine's relay channel (WINEDEBUG=+relay) to the calls named, "dll.Function;...", so
    // that a test can read what a program hands to the system.
    void RelayOnly(const std::string& calls);
    // The Windows version the prefix reports ("winxp", "win7", "win81", "win10": Wine's names),
    // as winecfg sets it. Only before any program of the prefix runs.
    void SetWindowsVersion(const std::string& version);

    // Ends every Wine process of the prefix (wineserver -k) and waits, within a bounded time,
    // until none is left. True when none is left.
    bool StopWine();
    // Processes, of any kind, that run for this prefix.
    std::vector<int> WineProcesses() const;

  private:
    TempDir dir_;
    std::string prefix_;
    std::string loader_;
    std::string wineserver_;
    std::string driveD_;
};

// The installer's windows met as a player meets them: a display of the test's own (Xvfb), a
// locale (LC_ALL, which sets Wine's code page), and the stand-in player (tests/wine/fake_player.c)
// answering every window on that display. `answer` is for the first folder dialog: "ok" on the
// folder it proposes, "cancel", or a Windows path to pick. `progress` (optional) has the player
// watch the progress window: "watch", "cancel@<permille>" or "close@<permille>", and
// `screenshot` names a Windows path where it saves the screen before it acts. When the session
// ends, the player and every Wine process of the prefix are stopped before the display.
class PlayerSession {
  public:
    PlayerSession(WinePrefix& wine, const std::string& player, const std::string& answer,
                  const std::string& locale, const std::string& progress = "",
                  const std::string& screenshot = "");
    ~PlayerSession();
    PlayerSession(const PlayerSession&) = delete;
    PlayerSession& operator=(const PlayerSession&) = delete;

    // For running a program of the prefix on the display, in the locale.
    ChildOptions Options(int timeoutMs) const;
    // One line per window answered so far, in UTF-8: "folder dialog|<caption>|<texts>..." or
    // "message box|<caption>|<texts>...".
    std::vector<std::string> Windows() const;

  private:
    WinePrefix& wine_;
    VirtualDisplay display_;
    TempDir records_;
    std::string locale_;
    std::unique_ptr<RunningChild> player_;
};

// Base of every Wine test: skips when FELTO_WIN_BUILD_DIR is unset, fails when it is set and
// the installer is not in it, and gives each test its own prefix.
class WineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Installer() const { return buildDir_ + "/FeltoInstaller.exe"; }
    // A Windows program built beside the installer for the tests (the game and archiver
    // stand-ins); fails the test when it is missing.
    std::string StandIn(const std::string& name) const;
    WinePrefix& Wine() { return *wine_; }

    std::string buildDir_;
    std::unique_ptr<WinePrefix> wine_;
};

// The bytes of a UTF-8 text in another character set ("UTF-16LE", ...); throws when the text
// has no form there.
std::string FromUtf8(const std::string& utf8, const char* charset);
// The bytes of a UTF-8 text in code page 936, as the Windows program writes its Chinese texts.
std::string ToCp936(const std::string& utf8);
