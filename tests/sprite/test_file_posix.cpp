// Saving against real POSIX file systems: what a replaced file keeps, and how a save that fails
// on a FIFO, a full disk, a size limit or a permission leaves everything as it was.
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
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sprite/command.h"
#include "sprite/file.h"
#include "sprite/scripted_ui.h"
#include "support/folder_state.h"
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

enum class Outcome { kFailureShown, kSavedSilently, kSomethingElse, kSetUpFailed, kHung };

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
  }
  return "?";
}

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
      // Without this the kernel kills the process instead of failing the write.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        _exit(static_cast<int>(Outcome::kSetUpFailed));
      }
    }
    if (options.unprivileged && IsRoot() &&
        (setgroups(0, nullptr) != 0 || setgid(kNogroup) != 0 || setuid(kNobody) != 0)) {
      _exit(static_cast<int>(Outcome::kSetUpFailed));
    }
    ScriptedSpriteUi ui;
    ui.file_name = stem;
    ui.name = "ball";
    if (options.meanwhile) {
      ui.on_name_read = [&] {
        char go = 0;
        if (write(to_test[1], "w", 1) != 1 || read(to_save[0], &go, 1) != 1) {
          _exit(static_cast<int>(Outcome::kSetUpFailed));
        }
      };
    }
    MakeSprite(ui);
    _exit(static_cast<int>(ui.ShowedTheFailureOnce() ? Outcome::kFailureShown
                           : ui.shown.empty()        ? Outcome::kSavedSilently
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

TEST(FailedSave, ChangesNothingAndShowsTheOneMessage) {
  const struct {
    const char* what;
    std::function<void(const fs::path& dir)> arrange;
    ChildOptions options;
    bool needs_root = false;  // to make files of other users
  } cases[] = {
      {"a FIFO, which would block the open",
       [](const fs::path& dir) { ASSERT_EQ(mkfifo((dir / "sprite.txt").c_str(), 0644), 0); },
       {}},
      {"a link to a FIFO",
       [](const fs::path& dir) {
         ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
         fs::create_symlink("fifo", dir / "sprite.txt");
       },
       {}},
      {"a socket", [](const fs::path& dir) { MakeSocket(dir / "sprite.txt"); }, {}},
      {"a link to a device that takes nothing",
       [](const fs::path& dir) { fs::create_symlink("/dev/full", dir / "sprite.txt"); },
       {}},
      {"a link to a device that takes everything",
       [](const fs::path& dir) { fs::create_symlink("/dev/null", dir / "sprite.txt"); },
       {}},
      {"a read-only file, as an ordinary user", MakeReadOnlySprite, AsOrdinaryUser()},
      {"a new file in a read-only folder, as an ordinary user",
       [](const fs::path& dir) { fs::permissions(dir, fs::perms(0555)); }, AsOrdinaryUser()},
      {"a new file past the size limit", [](const fs::path&) {}, WithFileSizeLimit(100)},
      {"a saved sprite, with the new one past the size limit",
       [](const fs::path& dir) { WriteBytes(dir / "sprite.txt", "saved earlier"); },
       WithFileSizeLimit(100)},
      {"another user's link in a shared folder, to the saver's own file",
       [](const fs::path& dir) { PlantStrangersLink(dir, "precious.txt"); }, AsOrdinaryUser(),
       true},
      {"another user's link in a shared folder, to nothing yet",
       [](const fs::path& dir) { PlantStrangersLink(dir, "planted.txt"); }, AsOrdinaryUser(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && !IsRoot()) {
      std::printf("[  SKIPPED ] %s: needs files of other users, so root\n", c.what);
      continue;
    }
    TempDir dir;
    c.arrange(dir.path());
    ExpectSaveFailsAndChangesNothing(dir / "sprite", c.options);
    fs::permissions(dir.path(), fs::perms::owner_all);
  }
}

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

// What belongs to a replaced file stays with it.
TEST(Replace, KeepsThePermissionBits) {
  for (const unsigned mode : {0600u, 0640u, 0751u}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    WriteBytes(dir / "ball.txt", "saved earlier");
    fs::permissions(dir / "ball.txt", fs::perms(mode));
    WriteSprite(dir / "ball.txt");
    EXPECT_EQ(Stat(dir / "ball.txt").st_mode & 07777, mode);
    EXPECT_EQ(ReadBytes(dir / "ball.txt"), ClearSprite());
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
}

// Who may use a file: its owner, group and mode, its access list as getfacl prints it, and
// every extended attribute that the test (root, in CI) can see, values included.
std::string AccessOf(const fs::path& path) {
  const struct stat info = Stat(path);
  std::string access = std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid) + " " +
                       std::to_string(info.st_mode & 07777) + "\n";
  const std::string command = "getfacl -n -p --omit-header '" + path.string() + "' 2>&1";
  if (FILE* out = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, out) != nullptr) {
      access += buffer;
    }
    pclose(out);
  }
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

// Where a rename would not keep everything that says who may use the file, or is not allowed,
// the file is written in place, as a plain open for writing would: the save works, and the
// file keeps its inode, owner, group, mode, access list and attributes.
TEST(Replace, WhereARenameWouldNotDoTheFileIsWrittenInPlace) {
  const struct {
    const char* what;
    unsigned folder_mode;
    uid_t owner;  // root's files and other users' need root to make
    gid_t group;
    unsigned mode;
    // Anything more that the file carries; false when this system cannot give it that.
    std::function<bool(const fs::path& file)> extra;
  } cases[] = {
      {"a folder that takes no new files", 0555, kNobody, kNogroup, 0666, nullptr},
      {"a sticky folder, and another user's file", 01777, 0, 0, 0666, nullptr},
      {"another user's file that an access list lets the saver write", 0777, kStranger,
       kStrangersGroup, 0660,
       [](const fs::path& file) { return Shell("setfacl -m u:65534:rw '" + file.string() + "'"); }},
      {"the saver's file, of a group the saver is not in", 0777, kNobody, kStrangersGroup, 0664,
       nullptr},
      {"an attribute that only a privileged user may set", 0777, kNobody, kNogroup, 0666,
       [](const fs::path& file) {
         return setxattr(file.c_str(), "security.kavoni-test", "kept", 4, 0) == 0;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path file = dir / "sprite.txt";
    WriteBytes(file, "saved earlier");
    if (IsRoot()) {
      ASSERT_EQ(chown(file.c_str(), c.owner, c.group), 0);
    } else if (c.owner != kNobody || c.group != kNogroup || c.extra) {
      std::printf("[  SKIPPED ] %s: needs a file of another user, so root\n", c.what);
      continue;
    }
    fs::permissions(file, fs::perms(c.mode));
    if (c.extra && !c.extra(file)) {
      std::printf("[  SKIPPED ] %s: this system cannot give a file that\n", c.what);
      continue;
    }
    fs::permissions(dir.path(), fs::perms(c.folder_mode));
    const ino_t inode = Stat(file).st_ino;
    const std::string access = AccessOf(file);

    EXPECT_EQ(SaveInChild(dir / "sprite", AsOrdinaryUser()), Outcome::kSavedSilently);
    EXPECT_EQ(ReadBytes(file), ClearSprite());
    EXPECT_EQ(Stat(file).st_ino, inode);
    EXPECT_EQ(AccessOf(file), access);
    EXPECT_EQ(FolderState::Of(dir.path()).Names(), std::vector<std::string>{"sprite.txt"});
    fs::permissions(dir.path(), fs::perms::owner_all);
  }
}

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

TEST(Replace, KeepsTheAccessListAndTheUsersAttributes) {
  {
    TempDir probe;
    if (!Shell("setfacl -m u:65534:r '" + probe.path().string() + "'")) {
      GTEST_SKIP() << "setfacl does not work on " << probe.path()
                   << " (is the acl package there?); the access-list cases did not run";
    }
  }
  const struct {
    const char* what;
    std::function<void(const fs::path& dir)> arrange;  // makes sprite.txt, unless it is new
    const char* new_file_gets;                         // for a new file, what its list must hold
  } cases[] = {
      {"a list with an entry for another user, and a narrower owning group",
       [](const fs::path& dir) {
         WriteBytes(dir / "sprite.txt", "saved earlier");
         fs::permissions(dir / "sprite.txt", fs::perms(0640));
         ASSERT_TRUE(Shell("setfacl -m u:65534:rw,g::r '" + (dir / "sprite.txt").string() + "'"));
       },
       nullptr},
      {"no list, in a folder whose default list would add one",
       [](const fs::path& dir) {
         WriteBytes(dir / "sprite.txt", "saved earlier");
         ASSERT_TRUE(Shell("setfacl -d -m u:65534:rwx '" + dir.string() + "'"));
       },
       nullptr},
      {"a user's attribute",
       [](const fs::path& dir) {
         WriteBytes(dir / "sprite.txt", "saved earlier");
         ASSERT_EQ(setxattr((dir / "sprite.txt").c_str(), "user.kavoni-test", "kept", 4, 0), 0)
             << std::strerror(errno);
       },
       nullptr},
      {"an attribute that only a privileged user may set, saved by one",
       [](const fs::path& dir) {
         WriteBytes(dir / "sprite.txt", "saved earlier");
         if (setxattr((dir / "sprite.txt").c_str(), "trusted.kavoni-test", "kept", 4, 0) != 0) {
           std::printf("[  SKIPPED ] a privileged attribute: needs root\n");
         }
       },
       nullptr},
      {"a new file, in a folder with a default list",
       [](const fs::path& dir) {
         ASSERT_TRUE(Shell("setfacl -d -m u:65534:rwx '" + dir.string() + "'"));
       },
       "user:65534:rwx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.arrange(dir.path());
    const fs::path path = dir / "sprite.txt";
    const std::string before = c.new_file_gets == nullptr ? AccessOf(path) : "";
    WriteSprite(path);
    EXPECT_EQ(ReadBytes(path), ClearSprite());
    if (c.new_file_gets == nullptr) {
      EXPECT_EQ(AccessOf(path), before);
    } else {
      EXPECT_NE(AccessOf(path).find(c.new_file_gets), std::string::npos) << AccessOf(path);
    }
  }
}

}  // namespace
}  // namespace kavoni
