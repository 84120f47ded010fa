// Saving against real POSIX file systems: what a replaced file keeps, and how a save that fails
// on a FIFO, a full disk, a size limit, a permission or any failing system call leaves
// everything as it was. Rows that need root are skipped, one by one, where the tests run as an
// ordinary user.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "sprite/command.h"
#include "sprite/file.h"
#include "sprite/scripted_ui.h"
#include "sprite/temporary_name.h"
#include "support/folder_state.h"
#include "support/posix_faults.h"
#include "support/sprite_file.h"
#include "support/temp_dir.h"

namespace kavoni {
namespace {

namespace fs = std::filesystem;
using testing::ClearSprite;
using testing::FolderState;
using testing::ReadBytes;
using testing::ScriptedSpriteUi;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteSprite;
namespace faults = testing::faults;

// Debian's "nobody" and "nogroup".
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
// Someone else on the machine, who needs no account for the kernel to honour their files.
constexpr uid_t kStranger = 4242;
constexpr gid_t kStrangersGroup = 4243;
constexpr auto kSaveTimeout = std::chrono::seconds(10);

bool IsRoot() {
  return geteuid() == 0;
}

struct stat Stat(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path << ": " << std::strerror(errno);
  return info;
}

struct ChildOptions {
  // Runs as "nobody" when the tests run as root, since root may write any file.
  bool unprivileged = false;
  // A file size limit that the kernel enforces, in bytes.
  std::optional<rlim_t> file_size_limit;
  // Run by the test process, as itself, while the save waits between opening its output and
  // closing it: someone else changing the folder under the save.
  std::function<void()> meanwhile;
  // The sprite's name, which sets the file's length (the name's + 146 bytes).
  std::string name = "ball";
  // The umask that the saving program runs under.
  std::optional<mode_t> umask;
  // Failures that the save's system calls meet, and where the calls it made are written.
  std::vector<faults::Fault> faults;
  std::optional<fs::path> record_calls_to;
  // Simulates a file system that takes names of at most this many bytes.
  std::size_t name_limit = 0;
  // Run by the saving process between any two of the save's system calls; true while what it
  // checks holds.
  std::function<bool()> between_calls;
};

ChildOptions AsOrdinaryUser() {
  ChildOptions options;
  options.unprivileged = true;
  return options;
}

ChildOptions WithFileSizeLimit(rlim_t bytes) {
  ChildOptions options;
  options.file_size_limit = bytes;
  return options;
}

enum class Outcome {
  kFailureShown,
  kSavedSilently,
  kSomethingElse,
  kSetUpFailed,
  kHung,
  kWatchFailed
};

const char* Describe(Outcome outcome) {
  switch (outcome) {
    case Outcome::kFailureShown:
      return "the failure box, once";
    case Outcome::kSavedSilently:
      return "a silent save";
    case Outcome::kSomethingElse:
      return "some other boxes";
    case Outcome::kSetUpFailed:
      return "a child that could not set itself up";
    case Outcome::kHung:
      return "a save that hung";
    case Outcome::kWatchFailed:
      return "a save that, between two of its calls, broke what the test watched";
  }
  return "?";
}

// The scripted window, whose own file calls (it looks at the folder when the name is read) are
// kept apart from the save's.
class UnwatchedUi : public ScriptedSpriteUi {
 public:
  std::string NameText() override {
    const faults::Unwatched quiet;
    return ScriptedSpriteUi::NameText();
  }
  void ShowMessageBox(const MessageBoxRequest& box) override {
    const faults::Unwatched quiet;
    ScriptedSpriteUi::ShowMessageBox(box);
  }
};

// Presses "Make Sprite" for the name "ball" and the file `stem`.txt in a child process, so a
// save may meet limits and identities that the test process keeps out of, and so a hang ends
// in a failed test rather than a stalled run.
Outcome SaveInChild(const fs::path& stem, const ChildOptions& options) {
  int to_test[2];
  int to_save[2];
  if (pipe(to_test) != 0 || pipe(to_save) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return Outcome::kSetUpFailed;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return Outcome::kSetUpFailed;
  }
  if (pid == 0) {
    if (options.file_size_limit) {
      // SIGXFSZ keeps its default action, which kills the process: the save must not let it.
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        _exit(static_cast<int>(Outcome::kSetUpFailed));
      }
    }
    if (options.unprivileged && IsRoot() &&
        (setgroups(0, nullptr) != 0 || setgid(kNogroup) != 0 || setuid(kNobody) != 0)) {
      _exit(static_cast<int>(Outcome::kSetUpFailed));
    }
    if (options.umask) {
      ::umask(*options.umask);
    }
    UnwatchedUi ui;
    ui.file_name = stem;
    ui.name = options.name;
    if (options.meanwhile) {
      ui.on_name_read = [&] {
        char go = 0;
        if (write(to_test[1], "w", 1) != 1 || read(to_save[0], &go, 1) != 1) {
          _exit(static_cast<int>(Outcome::kSetUpFailed));
        }
      };
    }
    bool watch_held = true;
    if (options.between_calls) {
      faults::WatchBetweenCalls([&] { watch_held = options.between_calls() && watch_held; });
    }
    faults::LimitNames(options.name_limit);
    faults::Arm(options.faults);
    MakeSprite(ui);
    faults::Disarm();
    if (options.record_calls_to) {
      std::string calls;
      for (const std::string& call : faults::Calls()) {
        calls += call + "\n";
      }
      WriteBytes(*options.record_calls_to, calls);
    }
    // The first fault must have been met; a second one may be, or may show that the save
    // stopped before it.
    if (!options.faults.empty() && faults::FaultsGiven() == 0) {
      _exit(static_cast<int>(Outcome::kSetUpFailed));
    }
    _exit(static_cast<int>(!watch_held                 ? Outcome::kWatchFailed
                           : ui.ShowedTheFailureOnce() ? Outcome::kFailureShown
                           : ui.shown.empty()          ? Outcome::kSavedSilently
                                                       : Outcome::kSomethingElse));
  }
  close(to_test[1]);
  close(to_save[0]);
  char waiting = 0;
  if (options.meanwhile && read(to_test[0], &waiting, 1) == 1) {
    options.meanwhile();
    EXPECT_EQ(write(to_save[1], "g", 1), 1);
  }
  close(to_test[0]);
  close(to_save[1]);
  const auto deadline = std::chrono::steady_clock::now() + kSaveTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? static_cast<Outcome>(WEXITSTATUS(status))
                               : Outcome::kSomethingElse;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return Outcome::kHung;
}

// The save must show the one failure message and leave the folder exactly as it was: the
// target's bytes and mode, and no temporary file beside it.
void ExpectSaveFailsAndChangesNothing(const fs::path& stem, const ChildOptions& options = {}) {
  const FolderState before = FolderState::Of(stem.parent_path());
  const Outcome outcome = SaveInChild(stem, options);
  EXPECT_EQ(outcome, Outcome::kFailureShown) << "got " << Describe(outcome);
  EXPECT_EQ(FolderState::Of(stem.parent_path()), before);
}

void MakeSocket(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.native().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

// A file that is there but may not be written, in a folder where anyone may create files:
// a rename would get round the file's own permission, so none may happen.
void MakeReadOnlySprite(const fs::path& dir) {
  fs::permissions(dir, fs::perms::all);
  WriteBytes(dir / "sprite.txt", ClearSprite());
  fs::permissions(dir / "sprite.txt", fs::perms(0444));
  if (IsRoot()) {
    ASSERT_EQ(chown((dir / "sprite.txt").c_str(), kNobody, kNogroup), 0);
  }
}

// Another user's link in a shared sticky folder, as /tmp is, pointing at `target`.
void PlantStrangersLink(const fs::path& dir, const char* target) {
  fs::permissions(dir, fs::perms(01777));
  WriteBytes(dir / "precious.txt", "the saver's own");
  ASSERT_EQ(chown((dir / "precious.txt").c_str(), kNobody, kNogroup), 0);
  fs::create_symlink(target, dir / "sprite.txt");
  ASSERT_EQ(lchown((dir / "sprite.txt").c_str(), kStranger, kStrangersGroup), 0);
}

// A test's name made from a row's description: its words, each capitalised, letters and
// digits only.
std::string RowName(const char* what) {
  std::string name;
  bool new_word = true;
  for (const char* at = what; *at != '\0'; ++at) {
    const char c = *at;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      name += new_word && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
      new_word = false;
    } else {
      new_word = true;
    }
  }
  return name;
}

template <typename Row>
std::string NameOfRow(const ::testing::TestParamInfo<Row>& info) {
  return RowName(info.param.what);
}

ChildOptions InPlaceWithFileSizeLimit(rlim_t bytes) {
  ChildOptions options = WithFileSizeLimit(bytes);
  options.unprivileged = true;
  return options;
}

// A saved sprite with a second name, so that it is written in place.
void MakeHardLinkedSprite(const fs::path& dir) {
  WriteBytes(dir / "sprite.txt", "saved earlier");
  fs::create_hard_link(dir / "sprite.txt", dir / "also.txt");
}

struct FailedSaveRow {
  const char* what;
  std::function<void(const fs::path& dir)> arrange;
  ChildOptions options;
  bool needs_root = false;  // to make files of other users
};

void PrintTo(const FailedSaveRow& row, std::ostream* out) {
  *out << row.what;
}

class FailedSave : public ::testing::TestWithParam<FailedSaveRow> {};

TEST_P(FailedSave, ChangesNothingAndShowsTheOneMessage) {
  const FailedSaveRow& row = GetParam();
  if (row.needs_root && !IsRoot()) {
    GTEST_SKIP() << "needs files of other users, so root";
  }
  TempDir dir;
  row.arrange(dir.path());
  ExpectSaveFailsAndChangesNothing(dir / "sprite", row.options);
  fs::permissions(dir.path(), fs::perms::owner_all);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailedSave,
    ::testing::Values(
        FailedSaveRow{
            "a FIFO, which would block the open",
            [](const fs::path& dir) { ASSERT_EQ(mkfifo((dir / "sprite.txt").c_str(), 0644), 0); },
            {}},
        FailedSaveRow{"a link to a FIFO",
                      [](const fs::path& dir) {
                        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
                        fs::create_symlink("fifo", dir / "sprite.txt");
                      },
                      {}},
        FailedSaveRow{"a socket", [](const fs::path& dir) { MakeSocket(dir / "sprite.txt"); }, {}},
        FailedSaveRow{
            "a link to a device that takes nothing",
            [](const fs::path& dir) { fs::create_symlink("/dev/full", dir / "sprite.txt"); },
            {}},
        FailedSaveRow{
            "a link to a device that takes everything",
            [](const fs::path& dir) { fs::create_symlink("/dev/null", dir / "sprite.txt"); },
            {}},
        FailedSaveRow{"a read-only file, as an ordinary user", MakeReadOnlySprite,
                      AsOrdinaryUser()},
        FailedSaveRow{"a new file in a read-only folder, as an ordinary user",
                      [](const fs::path& dir) { fs::permissions(dir, fs::perms(0555)); },
                      AsOrdinaryUser()},
        FailedSaveRow{"a new file past the size limit", [](const fs::path&) {},
                      WithFileSizeLimit(100)},
        FailedSaveRow{"a saved sprite, with the new one past the size limit",
                      [](const fs::path& dir) { WriteBytes(dir / "sprite.txt", "saved earlier"); },
                      WithFileSizeLimit(100)},
        FailedSaveRow{"a hard-linked sprite, written in place past the size limit",
                      MakeHardLinkedSprite, WithFileSizeLimit(100)},
        // The space is reserved, which clears the set-ID bits as a write does, and the first
        // write fails with nothing written: the bits must come back all the same.
        FailedSaveRow{"a hard-linked set-user-ID sprite, written in place past a limit of 0",
                      [](const fs::path& dir) {
                        MakeHardLinkedSprite(dir);
                        if (IsRoot()) {
                          ASSERT_EQ(chown((dir / "sprite.txt").c_str(), kNobody, kNogroup), 0);
                        }
                        ASSERT_EQ(chmod((dir / "sprite.txt").c_str(), 04755), 0);
                      },
                      InPlaceWithFileSizeLimit(0)},
        FailedSaveRow{"a sprite in a folder that takes no new files, past the size limit",
                      [](const fs::path& dir) {
                        WriteBytes(dir / "sprite.txt", "saved earlier");
                        if (IsRoot()) {
                          ASSERT_EQ(chown((dir / "sprite.txt").c_str(), kNobody, kNogroup), 0);
                        }
                        fs::permissions(dir, fs::perms(0555));
                      },
                      InPlaceWithFileSizeLimit(100)},
        FailedSaveRow{"another user's link in a shared folder, to the saver's own file",
                      [](const fs::path& dir) { PlantStrangersLink(dir, "precious.txt"); },
                      AsOrdinaryUser(), true},
        FailedSaveRow{"another user's link in a shared folder, to nothing yet",
                      [](const fs::path& dir) { PlantStrangersLink(dir, "planted.txt"); },
                      AsOrdinaryUser(), true}),
    NameOfRow<FailedSaveRow>);

// A real full disk: a small tmpfs, mounted for the test, with every block taken.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) {
      GTEST_SKIP() << "mounting a small file system needs root; the full-disk cases did not run";
    }
    fs::create_directory(disk_);
    if (mount("kavoni-test", disk_.c_str(), "tmpfs", 0, "size=64k") != 0) {
      GTEST_SKIP() << "could not mount a tmpfs (" << std::strerror(errno)
                   << "); the full-disk cases did not run";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      umount2(disk_.c_str(), MNT_DETACH);
    }
  }

  void Fill() const {
    const int fd = open((disk_ / "filler").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, "f", 1) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    close(fd);
  }

  TempDir dir_;
  fs::path disk_ = dir_ / "disk";
  bool mounted_ = false;
};

TEST_F(FullDisk, NewSpriteLeavesNoFile) {
  Fill();
  ExpectSaveFailsAndChangesNothing(disk_ / "new");
}

TEST_F(FullDisk, SavedSpriteComesThroughWhole) {
  WriteSprite(disk_ / "keep.txt");
  Fill();
  ExpectSaveFailsAndChangesNothing(disk_ / "keep");
}

// Written in place, a sprite that needs more room than the old file had must find it before
// any old byte is given up.
TEST_F(FullDisk, HardLinkedSpriteComesThroughWhole) {
  WriteBytes(disk_ / "keep.txt", "saved earlier");
  fs::create_hard_link(disk_ / "keep.txt", disk_ / "also.txt");
  Fill();
  ChildOptions options;
  options.name = std::string(8192, 'n');
  ExpectSaveFailsAndChangesNothing(disk_ / "keep", options);
}

// What belongs to a replaced file stays with it. Saved by an ordinary user (the file's owner),
// from whom the kernel takes the set-ID bits away as the file is written.
TEST(Replace, KeepsThePermissionBits) {
  for (const unsigned mode : {0600u, 0640u, 0751u, 04755u, 02775u, 06751u, 01644u}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    WriteBytes(dir / "ball.txt", "saved earlier");
    if (IsRoot()) {
      ASSERT_EQ(chown((dir / "ball.txt").c_str(), kNobody, kNogroup), 0);
    }
    ASSERT_EQ(chmod((dir / "ball.txt").c_str(), mode), 0);
    fs::permissions(dir.path(), fs::perms::all);
    EXPECT_EQ(SaveInChild(dir / "ball", AsOrdinaryUser()), Outcome::kSavedSilently);
    EXPECT_EQ(Stat(dir / "ball.txt").st_mode & 07777, mode);
    EXPECT_EQ(ReadBytes(dir / "ball.txt"), ClearSprite());
    EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"ball.txt"});
    fs::permissions(dir.path(), fs::perms::owner_all);
  }
}

TEST(Replace, NewFileGetsTheModeTheUmaskGives) {
  TempDir dir;
  const mode_t old = umask(027);
  WriteSprite(dir / "ball.txt");
  umask(old);
  EXPECT_EQ(Stat(dir / "ball.txt").st_mode & 07777, 0640u);
}

TEST(Replace, RootsSaveKeepsAnotherUsersOwnerAndGroup) {
  if (!IsRoot()) {
    GTEST_SKIP() << "only root may give a file to another user";
  }
  TempDir dir;
  WriteBytes(dir / "ball.txt", "saved earlier");
  ASSERT_EQ(chown((dir / "ball.txt").c_str(), kNobody, kNogroup), 0);
  WriteSprite(dir / "ball.txt");
  EXPECT_EQ(Stat(dir / "ball.txt").st_uid, kNobody);
  EXPECT_EQ(Stat(dir / "ball.txt").st_gid, kNogroup);
}

TEST(Replace, LinkStaysALinkAndItsTargetIsReplaced) {
  struct Link {
    const char* name;
    const char* points_to;
  };
  const struct {
    const char* what;
    std::vector<Link> links;  // made in this order; the last one is the name saved to
    const char* target;       // the file that must receive the sprite
    bool target_exists;
  } cases[] = {
      {"relative", {{"ball.txt", "art/real.txt"}}, "art/real.txt", true},
      {"into the parent", {{"art/ball.txt", "../real.txt"}}, "real.txt", true},
      {"a chain of two", {{"hop.txt", "real.txt"}, {"ball.txt", "hop.txt"}}, "real.txt", true},
      {"dangling", {{"ball.txt", "art/new.txt"}}, "art/new.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::create_directory(dir / "art");
    if (c.target_exists) {
      WriteBytes(dir / c.target, "saved earlier");
    }
    for (const Link& link : c.links) {
      fs::create_symlink(link.points_to, dir / link.name);
    }
    WriteSprite(dir / c.links.back().name);
    for (const Link& link : c.links) {
      EXPECT_EQ(fs::read_symlink(dir / link.name), link.points_to) << "the link was replaced";
    }
    EXPECT_EQ(ReadBytes(dir / c.target), ClearSprite());
    for (const fs::path& folder : {dir.path(), dir / "art"}) {
      for (const std::string& name : FolderState::Of(folder).Names()) {
        EXPECT_EQ(name.find("kavoni-save"), std::string::npos) << "left behind: " << name;
      }
    }
  }
}

TEST(Replace, AbsoluteLinkIsFollowed) {
  TempDir dir;
  WriteBytes(dir / "real.txt", "saved earlier");
  fs::create_symlink(dir / "real.txt", dir / "ball.txt");
  WriteSprite(dir / "ball.txt");
  EXPECT_TRUE(fs::is_symlink(dir / "ball.txt"));
  EXPECT_EQ(ReadBytes(dir / "real.txt"), ClearSprite());
}

// In a shared sticky folder the links that the saver or the folder's owner made are still
// followed, as the kernel's own rule for such folders allows.
TEST(Replace, LinkOfTheSaverOrTheFoldersOwnerIsFollowedInASharedFolder) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs files of other users, so root";
  }
  for (const uid_t link_owner : {kNobody, uid_t{0}}) {
    SCOPED_TRACE(link_owner);
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(01777));
    WriteBytes(dir / "real.txt", "saved earlier");
    ASSERT_EQ(chown((dir / "real.txt").c_str(), kNobody, kNogroup), 0);
    fs::create_symlink("real.txt", dir / "sprite.txt");
    ASSERT_EQ(lchown((dir / "sprite.txt").c_str(), link_owner, kNogroup), 0);
    EXPECT_EQ(SaveInChild(dir / "sprite", AsOrdinaryUser()), Outcome::kSavedSilently);
    EXPECT_TRUE(fs::is_symlink(dir / "sprite.txt"));
    EXPECT_EQ(ReadBytes(dir / "real.txt"), ClearSprite());
    fs::permissions(dir.path(), fs::perms::owner_all);
  }
}

TEST(Replace, FileWithSeveralNamesIsWrittenInPlaceForAllOfThem) {
  TempDir dir;
  WriteBytes(dir / "ball.txt", "saved earlier");
  fs::create_hard_link(dir / "ball.txt", dir / "also.txt");
  const ino_t inode = Stat(dir / "ball.txt").st_ino;
  WriteSprite(dir / "ball.txt");
  EXPECT_EQ(Stat(dir / "ball.txt").st_ino, inode);
  EXPECT_EQ(ReadBytes(dir / "also.txt"), ClearSprite());
  EXPECT_EQ(FolderState::Of(dir.path()).Names(),
            (std::vector<std::string>{"also.txt", "ball.txt"}));
}

TEST(Replace, NameAtTheFileSystemsLimitStillSaves) {
  TempDir dir;
  const long name_max = pathconf(dir.path().c_str(), _PC_NAME_MAX);
  ASSERT_GT(name_max, 4);
  const std::string name = std::string(static_cast<std::size_t>(name_max) - 4, 'n') + ".txt";
  WriteSprite(dir / name);
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{name});
  // File systems with shorter names, as the save sees them: 14 bytes is the least that POSIX
  // allows (old System V and Minix file systems), 30 Minix's later one.
  for (const std::size_t limit : {std::size_t{14}, std::size_t{30}, std::size_t{49}}) {
    for (const bool saved_earlier : {false, true}) {
      SCOPED_TRACE(std::to_string(limit) + (saved_earlier ? ", over a saved sprite" : ", new"));
      TempDir short_names;
      const std::string stem(limit - 4, 'n');
      if (saved_earlier) {
        WriteBytes(short_names / (stem + ".txt"), "saved earlier");
      }
      ChildOptions options;
      options.name_limit = limit;
      EXPECT_EQ(SaveInChild(short_names / stem, options), Outcome::kSavedSilently);
      EXPECT_EQ(FolderState::Of(short_names.path()).Names(),
                std::vector<std::string>{stem + ".txt"});
      EXPECT_EQ(ReadBytes(short_names / (stem + ".txt")), ClearSprite());
    }
  }
}

// What a command prints, error output included.
std::string Output(const std::string& command) {
  std::string printed;
  if (FILE* out = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, out) != nullptr) {
      printed += buffer;
    }
    pclose(out);
  }
  return printed;
}

// Who may use a file and how it is kept: its owner, group and mode, its access list as getfacl
// prints it, its inode flags as lsattr prints them, and every extended attribute that the test
// (root, in CI) can see, values included.
std::string AccessOf(const fs::path& path) {
  const struct stat info = Stat(path);
  std::string access = std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid) + " " +
                       std::to_string(info.st_mode & 07777) + "\n";
  access += Output("getfacl -n -p --omit-header '" + path.string() + "'");
  const std::string flags = Output("lsattr -d '" + path.string() + "'");
  access += flags.substr(0, flags.find(' ')) + "\n";
  char names[4096] = {};
  const ssize_t size = listxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    char value[256] = {};
    const ssize_t length = getxattr(path.c_str(), names + at, value, sizeof value);
    access += std::string(names + at) + "=" +
              (length >= 0 ? std::string(value, static_cast<std::size_t>(length)) : "?") + "\n";
  }
  return access;
}

bool Shell(const std::string& command) {
  return std::system((command + " 2>/dev/null").c_str()) == 0;
}

struct InPlaceRow {
  const char* what;
  unsigned folder_mode;
  uid_t owner;  // root's files and other users' need root to make
  gid_t group;
  unsigned mode;
  // Anything more that the file carries; false when this system cannot give it that.
  std::function<bool(const fs::path& file)> extra = nullptr;
  // Undoes what `extra` did that would keep the folder from being removed.
  std::function<void(const fs::path& file)> undo = nullptr;
  bool needs_root = false;  // beyond the owner: to mount, or to set a folder's flags
  // Whether the way is plain from the file and its folder alone, so that no temporary file is
  // ever made beside it (in a shared folder, nothing of the saver's appears at all).
  bool decided_ahead = false;
};

void PrintTo(const InPlaceRow& row, std::ostream* out) {
  *out << row.what;
}

class WrittenInPlace : public ::testing::TestWithParam<InPlaceRow> {};

// Where a rename would not keep everything that says who may use the file, or is not allowed,
// the file is written in place, as a plain open for writing would: the save works, and the
// file keeps its inode, owner, group, mode, access list and attributes.
TEST_P(WrittenInPlace, WhereARenameWouldNotDo) {
  const InPlaceRow& row = GetParam();
  TempDir dir;
  const fs::path file = dir / "sprite.txt";
  WriteBytes(file, "saved earlier");
  if (IsRoot()) {
    ASSERT_EQ(chown(file.c_str(), row.owner, row.group), 0);
  } else if (row.owner != kNobody || row.group != kNogroup || row.extra || row.needs_root) {
    GTEST_SKIP() << "needs a file of another user, so root";
  }
  fs::permissions(file, fs::perms(row.mode));
  fs::permissions(dir.path(), fs::perms(row.folder_mode));
  if (row.extra && !row.extra(file)) {
    fs::permissions(dir.path(), fs::perms::owner_all);
    GTEST_SKIP() << "this system cannot give a file that";
  }
  const ino_t inode = Stat(file).st_ino;
  const std::string access = AccessOf(file);

  ChildOptions options = AsOrdinaryUser();
  if (row.decided_ahead) {
    const std::string folder = dir.path().string();
    options.between_calls = [folder] {
      for (const auto& entry : fs::directory_iterator(folder)) {
        if (IsTemporaryName(entry.path().filename())) {
          return false;
        }
      }
      return true;
    };
  }
  EXPECT_EQ(SaveInChild(dir / "sprite", options), Outcome::kSavedSilently);
  EXPECT_EQ(ReadBytes(file), ClearSprite());
  EXPECT_EQ(Stat(file).st_ino, inode);
  EXPECT_EQ(AccessOf(file), access);
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"sprite.txt"});
  if (row.undo) {
    row.undo(file);
  }
  fs::permissions(dir.path(), fs::perms::owner_all);
}

// Another file, mounted over `file` as containers bind single files.
bool BindMountOver(const fs::path& file) {
  const fs::path source =
      fs::temp_directory_path() / ("kavoni-bound-" + file.parent_path().filename().string());
  WriteBytes(source, "saved earlier");
  struct stat target {};
  if (stat(file.c_str(), &target) != 0 ||
      chown(source.c_str(), target.st_uid, target.st_gid) != 0 ||
      chmod(source.c_str(), target.st_mode & 07777) != 0 ||
      mount(source.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    fs::remove(source);
    return false;
  }
  return true;
}

void Unmount(const fs::path& file) {
  EXPECT_EQ(umount2(file.c_str(), MNT_DETACH), 0) << std::strerror(errno);
  fs::remove(fs::temp_directory_path() /
             ("kavoni-bound-" + file.parent_path().filename().string()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WrittenInPlace,
    ::testing::Values(
        InPlaceRow{"a folder that takes no new files", 0555, kNobody, kNogroup, 0666, nullptr},
        InPlaceRow{"a sticky folder, and another user's file", 01777, 0, 0, 0666, nullptr, nullptr,
                   false, true},
        InPlaceRow{"another user's file that an access list lets the saver write", 0777, kStranger,
                   kStrangersGroup, 0660,
                   [](const fs::path& file) {
                     return Shell("setfacl -m u:65534:rw '" + file.string() + "'");
                   }},
        InPlaceRow{"the saver's file, of a group the saver is not in", 0777, kNobody,
                   kStrangersGroup, 0664, nullptr},
        InPlaceRow{"an attribute that only a privileged user may set", 0777, kNobody, kNogroup,
                   0666,
                   [](const fs::path& file) {
                     return setxattr(file.c_str(), "security.kavoni-test", "kept", 4, 0) == 0;
                   }},
        InPlaceRow{"a bind-mounted file", 0777, kNobody, kNogroup, 0644, BindMountOver, Unmount,
                   true, true},
        InPlaceRow{"an append-only folder", 0777, kNobody, kNogroup, 0644,
                   [](const fs::path& file) {
                     return Shell("chattr +a '" + file.parent_path().string() + "'");
                   },
                   [](const fs::path& file) {
                     EXPECT_TRUE(Shell("chattr -a '" + file.parent_path().string() + "'"));
                   },
                   true, true}),
    NameOfRow<InPlaceRow>);

// The file's owner swaps it for a link to one of the saver's own files while the save is under
// way. The save may not replace the owner's file, so it writes it in place; it must write the
// file it checked, not whatever the name leads to by then.
TEST(Replace, InPlaceWriteGoesToTheFileCheckedNotToASwappedInLink) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs a file of another user, so root";
  }
  TempDir dir;
  fs::permissions(dir.path(), fs::perms(01777));
  WriteBytes(dir / "sprite.txt", "saved earlier");
  fs::permissions(dir / "sprite.txt", fs::perms(0666));
  WriteBytes(dir / "precious.txt", "the saver's own");
  ASSERT_EQ(chown((dir / "precious.txt").c_str(), kNobody, kNogroup), 0);

  ChildOptions options = AsOrdinaryUser();
  options.meanwhile = [&] {
    fs::rename(dir / "sprite.txt", dir / "moved.txt");
    fs::create_symlink("precious.txt", dir / "sprite.txt");
  };
  EXPECT_EQ(SaveInChild(dir / "sprite", options), Outcome::kSavedSilently);
  EXPECT_EQ(ReadBytes(dir / "precious.txt"), "the saver's own");
  EXPECT_EQ(ReadBytes(dir / "moved.txt"), ClearSprite());
  fs::permissions(dir.path(), fs::perms::owner_all);
}

// A file appears at the name of a new sprite while it is saved (another window, another
// program). The save must not rename over it blind: it is saved again as over that file, which
// keeps its mode.
TEST(Replace, FileThatAppearsWhileANewOneIsSavedKeepsItsMode) {
  TempDir dir;
  ChildOptions options;
  options.meanwhile = [&] {
    WriteBytes(dir / "sprite.txt", "appeared meanwhile");
    ASSERT_EQ(chmod((dir / "sprite.txt").c_str(), 0640), 0);
  };
  options.umask = 022;
  EXPECT_EQ(SaveInChild(dir / "sprite", options), Outcome::kSavedSilently);
  EXPECT_EQ(ReadBytes(dir / "sprite.txt"), ClearSprite());
  EXPECT_EQ(Stat(dir / "sprite.txt").st_mode & 07777, 0640u);
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"sprite.txt"});
}

// In an append-only folder (chattr +a) no name can be removed or renamed over: a new sprite
// gets its name only when it is whole, and a failed one leaves nothing.
TEST(Replace, NewFileInAnAppendOnlyFolderLeavesNothingElse) {
  if (!IsRoot()) {
    GTEST_SKIP() << "only root may make a folder append-only";
  }
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "past the size limit" : "saved");
    TempDir dir;
    if (!Shell("chattr +a '" + dir.path().string() + "'")) {
      GTEST_SKIP() << "this file system has no append-only folders";
    }
    const Outcome outcome =
        SaveInChild(dir / "sprite", fails ? WithFileSizeLimit(100) : ChildOptions{});
    const std::vector<std::string> names = FolderState::Of(dir.path()).Names();
    EXPECT_TRUE(Shell("chattr -a '" + dir.path().string() + "'"));
    if (fails) {
      EXPECT_EQ(outcome, Outcome::kFailureShown);
      EXPECT_EQ(names, std::vector<std::string>{});
    } else {
      EXPECT_EQ(outcome, Outcome::kSavedSilently);
      EXPECT_EQ(names, std::vector<std::string>{"sprite.txt"});
      EXPECT_EQ(ReadBytes(dir / "sprite.txt"), ClearSprite());
    }
  }
}

// In a folder that everyone shares, another user's leftover under the name that an older
// version used neither stops the save nor is touched by it.
TEST(Replace, AnotherUsersLeftoverNeitherBlocksTheSaveNorIsTouched) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs a file of another user, so root";
  }
  TempDir dir;
  fs::permissions(dir.path(), fs::perms(01777));
  const fs::path leftover = dir / ".sprite.txt.kavoni-save.tmp";
  WriteBytes(leftover, "another user's");
  fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));

  EXPECT_EQ(SaveInChild(dir / "sprite", AsOrdinaryUser()), Outcome::kSavedSilently);
  EXPECT_EQ(ReadBytes(dir / "sprite.txt"), ClearSprite());
  EXPECT_EQ(ReadBytes(leftover), "another user's");
  fs::permissions(dir.path(), fs::perms::owner_all);
}

bool AccessListsWork() {
  TempDir probe;
  return Shell("setfacl -m u:65534:r '" + probe.path().string() + "'");
}

struct MarksRow {
  const char* what;
  // Makes sprite.txt, unless it is new; false where this system cannot give it what the row
  // is about.
  std::function<bool(const fs::path& dir)> arrange;
  const char* new_file_gets = nullptr;  // for a new file, what its list must hold
  bool needs_access_lists = false;
  bool needs_root = false;
};

void PrintTo(const MarksRow& row, std::ostream* out) {
  *out << row.what;
}

class Keeps : public ::testing::TestWithParam<MarksRow> {};

TEST_P(Keeps, TheAccessListAttributesFlagsAndCapabilities) {
  const MarksRow& row = GetParam();
  if (row.needs_root && !IsRoot()) {
    GTEST_SKIP() << "only root may give a file that";
  }
  if (row.needs_access_lists && !AccessListsWork()) {
    GTEST_SKIP() << "setfacl does not work here (is the acl package there?)";
  }
  TempDir dir;
  if (!row.arrange(dir.path())) {
    GTEST_SKIP() << "this file system cannot give a file that";
  }
  const fs::path path = dir / "sprite.txt";
  const std::string before = row.new_file_gets == nullptr ? AccessOf(path) : "";
  WriteSprite(path);
  EXPECT_EQ(ReadBytes(path), ClearSprite());
  if (row.new_file_gets == nullptr) {
    EXPECT_EQ(AccessOf(path), before);
  } else {
    EXPECT_NE(AccessOf(path).find(row.new_file_gets), std::string::npos) << AccessOf(path);
  }
  EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"sprite.txt"});
}

bool SavedEarlier(const fs::path& dir) {
  WriteBytes(dir / "sprite.txt", "saved earlier");
  return true;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Keeps,
    ::testing::Values(
        MarksRow{"a list with an entry for another user, and a narrower owning group",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   fs::permissions(dir / "sprite.txt", fs::perms(0640));
                   return Shell("setfacl -m u:65534:rw,g::r '" + (dir / "sprite.txt").string() +
                                "'");
                 },
                 nullptr, true},
        MarksRow{"no list, in a folder whose default list would add one",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   return Shell("setfacl -d -m u:65534:rwx '" + dir.string() + "'");
                 },
                 nullptr, true},
        MarksRow{"a user's attribute",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   return setxattr((dir / "sprite.txt").c_str(), "user.kavoni-test", "kept", 4,
                                   0) == 0;
                 }},
        MarksRow{"an attribute that only a privileged user may set, saved by one",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   return setxattr((dir / "sprite.txt").c_str(), "trusted.kavoni-test", "kept", 4,
                                   0) == 0;
                 },
                 nullptr, false, true},
        MarksRow{"a new file, in a folder with a default list",
                 [](const fs::path& dir) {
                   return Shell("setfacl -d -m u:65534:rwx '" + dir.string() + "'");
                 },
                 "user:65534:rwx", true},
        MarksRow{"the inode flags that chattr sets",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   return Shell("chattr +AcdsuSt '" + (dir / "sprite.txt").string() + "'");
                 }},
        MarksRow{"none of the inode flags of a folder that gives them to new files",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   return Shell("chattr +Ad '" + dir.string() + "'");
                 }},
        MarksRow{"a file capability, saved by root",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   fs::permissions(dir / "sprite.txt", fs::perms(0755));
                   return Shell("setcap cap_net_raw+ep '" + (dir / "sprite.txt").string() + "'");
                 },
                 nullptr, false, true},
        MarksRow{"a file capability and set-user-ID, saved by root",
                 [](const fs::path& dir) {
                   SavedEarlier(dir);
                   ::chmod((dir / "sprite.txt").c_str(), 04755);
                   return Shell("setcap cap_net_raw+ep '" + (dir / "sprite.txt").string() + "'");
                 },
                 nullptr, false, true}),
    NameOfRow<MarksRow>);

// What the saver's new file shows to everyone else while it is written: between any two of
// the save's calls, no temporary file in the folder lets in anyone whom the file it replaces
// keeps out (by its other bits, or its group bits given to another group), and none belongs to
// a third user.
struct PrivacyRow {
  const char* what;
  unsigned folder_mode;
  gid_t folder_group;
  unsigned file_mode;
  mode_t umask;
  bool needs_root = false;
  // No file there yet: `file_mode` is the mode that it ends up with, and while it is written
  // nobody else may open it at all.
  bool new_file = false;
};

void PrintTo(const PrivacyRow& row, std::ostream* out) {
  *out << row.what;
}

class NewContent : public ::testing::TestWithParam<PrivacyRow> {};

TEST_P(NewContent, IsNeverOpenToOthersWhileItIsWritten) {
  const PrivacyRow& row = GetParam();
  if (row.needs_root && !IsRoot()) {
    GTEST_SKIP() << "needs a group the saver is not in, so root";
  }
  TempDir dir;
  const fs::path file = dir / "sprite.txt";
  if (IsRoot()) {
    ASSERT_EQ(chown(dir.path().c_str(), kNobody, row.folder_group), 0);
  }
  ASSERT_EQ(chmod(dir.path().c_str(), row.folder_mode), 0);
  struct stat target {};
  if (row.new_file) {
    target.st_mode = S_IFREG | 0600;
    target.st_uid = IsRoot() ? kNobody : ::geteuid();
    target.st_gid = Stat(dir.path()).st_gid;
  } else {
    WriteBytes(file, "saved earlier");
    if (IsRoot()) {
      ASSERT_EQ(chown(file.c_str(), kNobody, kNogroup), 0);
    }
    ASSERT_EQ(chmod(file.c_str(), row.file_mode), 0);
    target = Stat(file);
  }

  ChildOptions options = AsOrdinaryUser();
  options.umask = row.umask;
  const std::string folder = dir.path().string();
  options.between_calls = [folder, target] {
    bool private_so_far = true;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!IsTemporaryName(entry.path().filename())) {
        continue;
      }
      struct stat info {};
      if (lstat(entry.path().c_str(), &info) != 0) {
        continue;
      }
      const mode_t others = info.st_mode & 077;
      const bool wider = (others & ~(target.st_mode & 077)) != 0;
      const bool other_group = (info.st_mode & 070) != 0 && info.st_gid != target.st_gid;
      const bool third_user = info.st_uid != ::geteuid() && info.st_uid != target.st_uid;
      private_so_far = private_so_far && !wider && !other_group && !third_user;
    }
    return private_so_far;
  };
  EXPECT_EQ(SaveInChild(dir / "sprite", options), Outcome::kSavedSilently);
  EXPECT_EQ(ReadBytes(file), ClearSprite());
  EXPECT_EQ(Stat(file).st_mode & 07777, row.file_mode);
  fs::permissions(dir.path(), fs::perms::owner_all);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NewContent,
    ::testing::Values(
        PrivacyRow{"a private sprite under the usual umask", 0755, kNogroup, 0600, 022},
        PrivacyRow{"a sprite that only its group may read", 0755, kNogroup, 0640, 022},
        PrivacyRow{"a private sprite in a shared group folder", 02775, kStrangersGroup, 0600, 002,
                   true},
        PrivacyRow{"a group's sprite in another group's shared folder", 02775, kStrangersGroup,
                   0660, 002, true},
        PrivacyRow{"a new sprite under the usual umask", 0755, kNogroup, 0644, 022, false, true},
        PrivacyRow{"a new sprite in a shared group folder", 02775, kStrangersGroup, 0664, 002, true,
                   true}),
    NameOfRow<PrivacyRow>);

// Fault injection: every system call that a save makes fails in turn, with each error that it
// can give, and is interrupted by a signal (EINTR). The answer decides what the save must do.
enum class Result {
  kFails,                // the box, and the folder exactly as it was
  kSaves,                // no box, the new sprite, nothing left beside it
  kFailsAfterReplacing,  // the box, though the new sprite is in place: its record may not last
};

const char* Describe(Result result) {
  switch (result) {
    case Result::kFails:
      return "the box, and the folder as it was";
    case Result::kSaves:
      return "a save";
    case Result::kFailsAfterReplacing:
      return "the box, with the new sprite in place";
  }
  return "?";
}

// One call of the save, by its label (see posix_faults.h); `occurrence` 0 stands for every
// time it is made.
struct CallRow {
  const char* call;
  int occurrence;
  std::vector<int> errors;
  Result result;
};

struct SecondFaultRow {
  faults::Fault first;
  faults::Fault second;
  Result result;
};

struct FaultScenario {
  const char* what;
  // Makes the folder; false where this system cannot.
  std::function<bool(const fs::path& dir)> arrange;
  std::vector<std::string> names_after;
  std::vector<CallRow> calls;
  std::vector<SecondFaultRow> second_faults;
};

void PrintTo(const FaultScenario& scenario, std::ostream* out) {
  *out << scenario.what;
}

class SaveFaults : public ::testing::TestWithParam<FaultScenario> {
 protected:
  // Saves `stem` with `plan` and checks the folder against `result`.
  void Check(const FaultScenario& scenario, const std::vector<faults::Fault>& plan, Result result) {
    TempDir dir;
    ASSERT_TRUE(scenario.arrange(dir.path()));
    const FolderState before = FolderState::Of(dir.path());
    ChildOptions options;
    options.faults = plan;
    const Outcome outcome = SaveInChild(dir / "sprite", options);
    const Outcome wanted =
        result == Result::kSaves ? Outcome::kSavedSilently : Outcome::kFailureShown;
    EXPECT_EQ(outcome, wanted) << "got " << Describe(outcome) << ", wanted " << Describe(result);
    if (result == Result::kFails) {
      EXPECT_EQ(FolderState::Of(dir.path()), before);
    } else {
      EXPECT_EQ(ReadBytes(dir / "sprite.txt"), ClearSprite());
      EXPECT_EQ(FolderState::Of(dir.path()).Names(), scenario.names_after);
    }
  }
};

std::string Label(const faults::Fault& fault) {
  return std::string(fault.call) + " #" + std::to_string(fault.occurrence) + " failing with " +
         std::strerror(fault.error);
}

TEST_P(SaveFaults, EachSystemCallFailingOrInterrupted) {
  const FaultScenario& scenario = GetParam();
  {
    TempDir probe;
    if (!scenario.arrange(probe.path())) {
      GTEST_SKIP() << "this system cannot make the folder for it";
    }
  }
  // The calls of a save that meets no fault.
  TempDir record;
  ChildOptions recording;
  recording.record_calls_to = record / "calls";
  {
    TempDir dir;
    ASSERT_TRUE(scenario.arrange(dir.path()));
    ASSERT_EQ(SaveInChild(dir / "sprite", recording), Outcome::kSavedSilently);
  }
  std::vector<std::string> calls;
  {
    const std::string recorded = ReadBytes(record / "calls");
    for (std::size_t start = 0, end = 0; start < recorded.size(); start = end + 1) {
      end = recorded.find('\n', start);
      calls.push_back(recorded.substr(start, end - start));
    }
  }
  ASSERT_FALSE(calls.empty());
  std::map<std::string, int> seen;
  std::vector<bool> used(scenario.calls.size(), false);
  for (const std::string& call : calls) {
    const int occurrence = ++seen[call];
    bool has_row = false;
    for (std::size_t at = 0; at < scenario.calls.size(); ++at) {
      const CallRow& row = scenario.calls[at];
      if (row.call != call || (row.occurrence != 0 && row.occurrence != occurrence)) {
        continue;
      }
      has_row = true;
      used[at] = true;
      for (const int error : row.errors) {
        const faults::Fault fault{call, occurrence, error};
        SCOPED_TRACE(Label(fault));
        Check(scenario, {fault}, row.result);
      }
    }
    if (!has_row) {
      ADD_FAILURE() << "no row for " << call << " #" << occurrence;
      continue;
    }
    const faults::Fault interrupted{call, occurrence, EINTR};
    SCOPED_TRACE(Label(interrupted));
    Check(scenario, {interrupted}, Result::kSaves);
  }
  // A row whose call the save no longer makes would pass without showing anything.
  for (std::size_t at = 0; at < scenario.calls.size(); ++at) {
    EXPECT_TRUE(used[at]) << "the save makes no " << scenario.calls[at].call << " call";
  }
  for (const SecondFaultRow& row : scenario.second_faults) {
    SCOPED_TRACE(Label(row.first) + ", then " + Label(row.second));
    Check(scenario, {row.first, row.second}, row.result);
  }
}

// The errors that each kind of call can give.
const std::vector<int> kLookUpErrors = {EACCES, EIO, ENOMEM, ELOOP, ENAMETOOLONG, EOVERFLOW};
const std::vector<int> kOpenErrors = {EPERM, EIO, ENOMEM, EMFILE, ENFILE, ELOOP, EROFS};
const std::vector<int> kCreateErrors = {EACCES, EPERM,  EIO,    ENOMEM, EMFILE,
                                        ENFILE, ENOSPC, EDQUOT, EROFS,  ENAMETOOLONG};
const std::vector<int> kWriteErrors = {EIO, ENOSPC, EDQUOT, EFBIG};
const std::vector<int> kSyncErrors = {EIO, ENOSPC, EDQUOT};
const std::vector<int> kAttributeErrors = {EIO, ENOMEM};
const std::vector<int> kSetAttributeErrors = {EIO, ENOMEM, ENOSPC, EDQUOT};
const std::vector<int> kRefusals = {EPERM, EOPNOTSUPP};
const std::vector<int> kLinkErrors = {EACCES, EPERM, EIO,    ENOMEM, ENOSPC,
                                      EDQUOT, EROFS, EMLINK, ENOENT};
const std::vector<int> kRenameErrors = {EACCES, EPERM,  EBUSY, EIO,   ENOMEM,
                                        ENOSPC, EDQUOT, EROFS, EXDEV, EMLINK};

// The calls that walk the path and find the target, which every save makes.
std::vector<CallRow> FindingTheTarget(bool existing) {
  std::vector<CallRow> rows = {
      {"openat(folder)", 0, kOpenErrors, Result::kFails},
      {"fstatat", 0, kLookUpErrors, Result::kFails},
      {"close(folder)", 0, {EIO}, Result::kSaves},
  };
  if (existing) {
    // A file that may not be read is written without its old bytes to hand.
    rows.push_back({"openat(read-write)", 0, kOpenErrors, Result::kFails});
    rows.push_back({"openat(read-write)", 0, {EACCES}, Result::kSaves});
    rows.push_back({"fstat", 0, kLookUpErrors, Result::kFails});
    rows.push_back({"fcntl(get)", 0, {EINVAL}, Result::kFails});
    rows.push_back({"fcntl(set)", 0, {EINVAL}, Result::kFails});
    rows.push_back({"flistxattr", 0, kAttributeErrors, Result::kFails});
    // A file system without attributes or flags has none to keep.
    rows.push_back({"flistxattr", 0, {ENOTSUP}, Result::kSaves});
    rows.push_back({"ioctl(get flags)", 0, kAttributeErrors, Result::kFails});
    rows.push_back({"ioctl(get flags)", 0, {ENOTTY, EOPNOTSUPP}, Result::kSaves});
  }
  return rows;
}

std::vector<CallRow> Concatenated(std::vector<CallRow> rows, const std::vector<CallRow>& more) {
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

// The calls that write the temporary file and rename it over the target (or put a new one in
// place), after any that choose the way and give the new file the old one's marks.
std::vector<CallRow> ByRename(bool existing) {
  std::vector<CallRow> rows = {
      {"statx(folder)", 0, kAttributeErrors, Result::kFails},
      {"pwrite", 0, kWriteErrors, Result::kFails},
      {"fsync", 0, kSyncErrors, Result::kFails},
      // The folder is opened for its sync before the rename; one that may not be read is not
      // synced (a drop box). The second open is the clearing of leftovers, which may fail.
      {"openat(folder for reading)", 1, {EIO, ENOMEM, EMFILE, ENFILE}, Result::kFails},
      {"openat(folder for reading)", 1, {EACCES}, Result::kSaves},
      {"openat(folder for reading)", 2, {EACCES, EIO, ENOMEM, EMFILE}, Result::kSaves},
      {"fsync(folder)", 0, {EIO}, Result::kFailsAfterReplacing},
  };
  const std::vector<CallRow> over_a_file = {
      {"openat(create)", 0, kCreateErrors, Result::kFails},
      // A name that someone else took first: another is tried.
      {"openat(create)", 0, {EEXIST}, Result::kSaves},
      // The temporary file's close, which some file systems use to report a lost write.
      {"close", 1, {EIO, ENOSPC, EDQUOT}, Result::kFails},
      {"statx", 0, kAttributeErrors, Result::kFails},
      // Told that the folder takes no new files, the save writes the file in place.
      {"faccessat", 0, {EIO, ENOMEM}, Result::kFails},
      {"faccessat", 0, {EACCES, EROFS}, Result::kSaves},
      {"fchmod", 0, {EIO, EROFS}, Result::kFails},
      // Bits that the new file may not be given: written in place.
      {"fchmod", 0, {EPERM}, Result::kSaves},
      {"renameat2", 0, kRenameErrors, Result::kFails},
      // The old file's close, once it is replaced.
      {"close", 2, {EIO}, Result::kSaves},
  };
  const std::vector<CallRow> as_a_new_file = {
      {"openat(unnamed)", 0, kCreateErrors, Result::kFails},
      // A file system without unnamed files: the new file gets a temporary name instead.
      {"openat(unnamed)", 0, {EOPNOTSUPP, EISDIR}, Result::kSaves},
      {"linkat", 0, kLinkErrors, Result::kFails},
      // Something appeared at the name: saved over it.
      {"linkat", 0, {EEXIST}, Result::kSaves},
      // The new file's close once it has its name, where a lost write may show at last.
      {"close", 1, {EIO, ENOSPC, EDQUOT}, Result::kFailsAfterReplacing},
  };
  return Concatenated(rows, existing ? over_a_file : as_a_new_file);
}

bool SavedEarlierAsOnlyItsGroupMayRead(const fs::path& dir) {
  WriteBytes(dir / "sprite.txt", "saved earlier");
  return chmod((dir / "sprite.txt").c_str(), 0640) == 0;
}

bool WithAttributeInAFolderWithADefaultList(const fs::path& dir) {
  WriteBytes(dir / "sprite.txt", "saved earlier");
  return Shell("setfacl -d -m u:65534:rw '" + dir.string() + "'") &&
         setxattr((dir / "sprite.txt").c_str(), "user.kavoni-test", "kept", 4, 0) == 0;
}

std::vector<FaultScenario> FaultScenarios() {
  const std::vector<CallRow> attributes = {
      {"fgetxattr", 0, kAttributeErrors, Result::kFails},
      {"fsetxattr", 0, kSetAttributeErrors, Result::kFails},
      {"fsetxattr", 0, kRefusals, Result::kSaves},
      {"fremovexattr", 0, kAttributeErrors, Result::kFails},
      {"fremovexattr", 0, kRefusals, Result::kSaves},
  };
  const std::vector<CallRow> in_place = {
      {"pread", 0, {EIO, ENOMEM}, Result::kFails},
      {"fallocate", 0, {ENOSPC, EDQUOT, EFBIG, EIO}, Result::kFails},
      // A file system that cannot reserve space goes without.
      {"fallocate", 0, {EOPNOTSUPP}, Result::kSaves},
      {"pwrite", 0, kWriteErrors, Result::kFails},
      {"fsync", 0, kSyncErrors, Result::kFails},
      // Once the sync has said that the bytes are on the disk.
      {"close", 0, {EIO}, Result::kSaves},
  };
  return {
      {"a new sprite",
       [](const fs::path&) { return true; },
       {"sprite.txt"},
       Concatenated(FindingTheTarget(false), ByRename(false)),
       {
           // Where the file system has no unnamed files, a temporary name, and where it takes
           // no flags for a rename (NFS), a link that still fails over a file that appeared.
           {{"openat(unnamed)", 1, EOPNOTSUPP}, {"renameat2(no replace)", 1, EIO}, Result::kFails},
           {{"openat(unnamed)", 1, EOPNOTSUPP},
            {"renameat2(no replace)", 1, EINVAL},
            Result::kSaves},
           {{"openat(unnamed)", 1, EOPNOTSUPP},
            {"renameat2(no replace)", 1, EEXIST},
            Result::kSaves},
       }},
      {"a saved sprite, replaced by a rename",
       SavedEarlierAsOnlyItsGroupMayRead,
       {"sprite.txt"},
       Concatenated(FindingTheTarget(true), ByRename(true)),
       {
           // A passing failure ends the save; it never makes a second one write in place.
           {{"fchmod", 1, EIO}, {"pwrite", 1, ENOSPC}, Result::kFails},
           {{"fchmod", 1, ENOMEM}, {"pwrite", 1, EIO}, Result::kFails},
           {{"flistxattr", 1, EIO}, {"pwrite", 1, ENOSPC}, Result::kFails},
           {{"flistxattr", 2, ENOMEM}, {"pwrite", 1, EIO}, Result::kFails},
           {{"openat(create)", 1, EACCES}, {"pwrite", 1, ENOSPC}, Result::kFails},
           {{"openat(create)", 1, EPERM}, {"pwrite", 1, EIO}, Result::kFails},
           {{"renameat2", 1, EPERM}, {"pwrite", 2, EIO}, Result::kFails},
           // The temporary file is removed even when its removal is interrupted.
           {{"fstat", 3, EIO}, {"unlinkat", 1, EINTR}, Result::kFails},
           // Written in place after a refusal, a second fault still keeps the old file.
           {{"fchmod", 1, EPERM}, {"pwrite", 1, ENOSPC}, Result::kFails},
       }},
      {"a saved sprite with a user's attribute, in a folder with a default access list",
       WithAttributeInAFolderWithADefaultList,
       {"sprite.txt"},
       Concatenated(FindingTheTarget(true), Concatenated(ByRename(true), attributes)),
       {
           {{"fsetxattr", 1, ENOSPC}, {"pwrite", 1, ENOSPC}, Result::kFails},
           {{"fsetxattr", 1, EIO}, {"pwrite", 1, EIO}, Result::kFails},
           {{"fgetxattr", 1, ENOMEM}, {"pwrite", 1, ENOSPC}, Result::kFails},
           {{"fremovexattr", 1, EIO}, {"pwrite", 1, EIO}, Result::kFails},
       }},
      {"a hard-linked sprite, written in place",
       [](const fs::path& dir) {
         MakeHardLinkedSprite(dir);
         return true;
       },
       {"also.txt", "sprite.txt"},
       Concatenated(FindingTheTarget(true), in_place),
       {
           // The old bytes go back even when the first try to write them is interrupted, or
           // when syncing them fails as well.
           {{"pwrite", 1, EIO}, {"pwrite", 2, EINTR}, Result::kFails},
           {{"pwrite", 1, ENOSPC}, {"ftruncate", 1, EINTR}, Result::kFails},
           {{"fsync", 1, EIO}, {"fsync", 2, EIO}, Result::kFails},
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(Rows, SaveFaults, ::testing::ValuesIn(FaultScenarios()),
                         NameOfRow<FaultScenario>);

}  // namespace
}  // namespace kavoni
