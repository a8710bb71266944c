#pragma once
// A player's machine with an earlier version of the game installed, a download server on
// 127.0.0.1:80 that misbehaves on demand, and the real installer run against both: the native
// program, or the 32-bit Windows exe under Wine with drive D: showing the test's home folder (so
// D:\Felto is the same install folder), the real Windows 7-Zip (7za.exe) as its archiver and the
// game stand-in of the Windows build.

#include "tests/support/http_test_server.h"
#include "tests/support/installer_fixture.h"
#include "tests/support/wine_prefix_posix.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// How a run ended, as the player and the folder show it.
struct Outcome {
    bool finished = false; // false: it had to be killed at its time limit
    int code = -1;         // the error code reported; 0 when the install went through
    double seconds = 0;
    std::string stdErr;
    std::string log;
    std::string skipReason; // set when the fault cannot be made on this machine
};
std::string Describe(const Outcome& outcome);

// What is promised of the files installed before a failed run.
enum class Intact {
    Exactly,  // every one still has the bytes it had
    OldOrNew, // every one has the bytes it had or those of the new version, never others
};

enum class Program { Native, Wine };
// As the matrix prints it.
const char* ProgramName(Program program);

// The real Windows 7-Zip command line for "ia32" or "x64" systems, from the npm package 7zip-bin:
// in $FELTO_7ZIP_BIN, else where scripts/install-deps.sh puts it.
std::string WindowsArchiver(const std::string& kind);

class FaultFixture : public InstallerFixture {
  protected:
    // Runs the native program unless UseProgram says otherwise first.
    void SetUp() override;
    void TearDown() override;
    void UseProgram(Program program) { program_ = program; }
    Program program() const { return program_; }

    // The two versions of the game: the one on the machine and the one on the server, with the
    // archiver and the game for the program that runs.
    std::vector<GameFile> OldGame() const;
    std::vector<GameFile> NewGame() const;
    // The archiver file for the program that runs, which hands every extraction to `hostScript`
    // (a POSIX shell script that gets 7z's arguments with host paths): for rows that decide
    // when the archiver writes. Natively the script itself; under Wine the 7z stand-in of the
    // Windows build, told by the run's environment where the script is.
    std::string ArchiverRunning(const std::string& hostScript);
    static const GameFile& Find(const std::vector<GameFile>& files, const std::string& relPath);

    // The files as an earlier run leaves them: installed, with the manifest copies.
    void InstallPrevious(const std::vector<GameFile>& files);
    // Publishes a version on the server; it becomes the one a complete install must match.
    void Publish(const std::vector<GameFile>& files);
    // Replaces the manifest the server sends.
    void PublishManifest(const std::string& body);
    const PublishedEntry& Entry(const std::string& relPath) const;
    std::string ObjectUrl(const std::string& relPath) const { return "/" + Entry(relPath).urlPath; }
    void StartServer();

    // A small disk: a tmpfs mounted over the (still empty) install folder. False when mounts
    // are not possible here.
    bool MountSmallDisk();
    // Resizes the small disk so that `bytes` are free beyond what it holds now.
    void LeaveFree(std::int64_t bytes);

    // `wrapper` (a command that runs the program) is for the native program only.
    Outcome RunInstaller(int timeoutMs, const std::vector<std::string>& wrapper = {});
    // A text as the running program logs it: code page 936 bytes from the exe.
    std::string Said(const std::string& utf8) const;
    // A path of the install folder as the running program logs it ("D:\Felto/..." from the
    // exe, which logs its folder with a backslash and what follows with slashes).
    std::string LoggedPath(const std::string& hostPath) const;
    // Environment added to every run of the installer.
    std::map<std::string, std::string> runEnv_;
    // Every file of the published version installed with exactly its bytes, and the game started.
    void ExpectComplete(const Outcome& outcome);
    void ExpectIntact(Intact intact);
    // Nothing appeared outside the install folder but the shortcut.
    void ExpectNothingOutside();

    HttpTestServer server_;
    std::vector<GameFile> previous_;
    std::vector<GameFile> published_;
    std::vector<PublishedEntry> entries_;

  private:
    std::vector<GameFile> Game(unsigned version) const;
    void LoadTree();
    Program program_ = Program::Native;
    TempDir hostScripts_; // beside the player's machine, not on it
    std::unique_ptr<WinePrefix> wine_;
    std::string archiver32_, archiver64_, game_; // the Windows programs' bytes, under Wine
    bool smallDisk_ = false;
    std::set<std::string> Paths() const;
    std::set<std::string> before_;
};

// Whether the program runs in a mount namespace of its own (set once by main).
void SetPrivateMounts(bool available);
