// Special files: the file layer refuses to open anything but a regular file
// and never blocks doing so; the folder search tells regular files apart.
#include "platform/errors.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace qv;

namespace {

struct Dir {
    std::string path;
    Dir()
    {
        std::string t = TempDirectory() + "qvspecial.XXXXXX";
        path = ::mkdtemp(t.data());
    }
    ~Dir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string operator/(const std::string &r) const { return path + "/" + r; }
};

// A bound UNIX socket leaves a socket file behind.
bool makeSocketFile(const std::string &path, int &fd)
{
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof addr.sun_path)
        return false;
    path.copy(addr.sun_path, path.size());
    return ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
}

struct OpenCase {
    const char *name;
    FileAccess access;
    FileDisposition disposition;
};

}  // namespace

TEST(SpecialFiles, AreRefusedAtOnceWhateverTheAccess)
{
    Dir d;
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0666), 0);
    int sock = -1;
    ASSERT_TRUE(makeSocketFile(d / "sock", sock));
    ASSERT_EQ(::symlink((d / "fifo").c_str(), (d / "link-to-fifo").c_str()), 0);
    // A FIFO with nobody at the other end: a blocking open of it never returns.
    const OpenCase cases[] = {
        {"read", FileAccess::Read, FileDisposition::OpenExisting},
        {"write", FileAccess::Write, FileDisposition::OpenExisting},
        {"read-write", FileAccess::ReadWrite, FileDisposition::OpenAlways},
        {"truncate", FileAccess::Write, FileDisposition::CreateAlways},
    };
    for (const char *target : {"fifo", "sock", "link-to-fifo", "/dev/null"}) {
        const std::string path = target[0] == '/' ? std::string(target) : d / target;
        for (const OpenCase &c : cases) {
            SCOPED_TRACE(std::string(target) + " " + c.name);
            if (path == "/dev/null" && c.access != FileAccess::Read)
                continue;  // no test writes to a device
            EXPECT_EQ(FileOpen(path, c.access, FileShare::Read, c.disposition), InvalidFileHandle);
            EXPECT_EQ(LastOSError(), osErrorNotRegularFile);
        }
    }
    ::close(sock);
    struct stat st;
    ASSERT_EQ(::stat((d / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "a refused truncating open leaves the FIFO as it was";

    // A regular file, also through a link, still opens and reads.
    std::ofstream(d / "plain", std::ios::binary) << "abc";
    ASSERT_EQ(::symlink((d / "plain").c_str(), (d / "link-to-plain").c_str()), 0);
    for (const char *name : {"plain", "link-to-plain"}) {
        const FileHandle h = FileOpen(d / name, FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting);
        ASSERT_NE(h, InvalidFileHandle) << name;
        char buf[4] = {};
        EXPECT_EQ(FileRead(h, buf, 3), 3) << "reads block again once the file is known to be regular";
        FileClose(h);
    }
}

TEST(SpecialFiles, FolderSearchTellsRegularFilesFromTheRest)
{
    Dir d;
    std::ofstream(d / "plain", std::ios::binary) << "abc";
    std::ofstream(d / "empty", std::ios::binary);
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0666), 0);
    int sock = -1;
    ASSERT_TRUE(makeSocketFile(d / "sock", sock));
    ASSERT_EQ(::mkdir((d / "sub").c_str(), 0777), 0);
    ASSERT_EQ(::symlink((d / "plain").c_str(), (d / "link-to-plain").c_str()), 0);
    ASSERT_EQ(::symlink((d / "fifo").c_str(), (d / "link-to-fifo").c_str()), 0);

    std::map<std::string, bool> regular;
    FileSearch search;
    SearchEntry e;
    ASSERT_TRUE(search.First(d / "*", e));
    do {
        if (e.name != "." && e.name != "..")
            regular[e.name] = e.regular;
    } while (search.Next(e));
    ::close(sock);
    const std::map<std::string, bool> expected = {{"plain", true},         {"empty", true},  {"fifo", false},
                                                  {"sock", false},         {"sub", false},   {"link-to-plain", true},
                                                  {"link-to-fifo", false}};
    EXPECT_EQ(regular, expected);
}
