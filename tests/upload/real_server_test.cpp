// The session against a real FTP server (pyftpdlib on 127.0.0.1), driven the
// way the upload command drives it: close, open with login, "dane", store,
// close.
#include "FtpServer.h"
#include "recorder.h"

#include "platform/environment.h"
#include "upload/IdFTP.h"
#include "upload/remotename.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>

using qvtest::Closing;
using qvtest::Join;

namespace {

const char *const kPassword = "#(test)#";

// The local date and time of a moment, as RemoteFileName takes it.
qv::LocalDateTime LocalTime(std::time_t t)
{
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

class RealFtpServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<qv::test::FtpServer>("qv", kPassword);
        files = std::make_unique<qv::test::ScratchDir>();
    }

    static void TearDownTestSuite()
    {
        server.reset();
        files.reset();
    }

    void SetUp() override
    {
        QV_REQUIRE_FTP_SERVER(*server);
        ftp.Host = "127.0.0.1";
        ftp.Port = server->port();
        ftp.Username = "qv";
        ftp.Password = kPassword;
        ftp.ReadTimeout = 10000;
        ftp.AcceptTimeout = 10000;
        rec.Attach(ftp);
    }

    // One upload, in the order the upload command takes its steps.
    void Upload(const std::string &local, const std::string &remote)
    {
        ftp.CloseSession();
        ftp.OpenSession(true);
        ftp.ChangeFolder("dane");
        ftp.StoreFile(local, remote);
        ftp.CloseSession();
    }

    static std::string Stored(const std::string &remote)
    {
        return server->stored(remote);
    }

    // The notifications of a successful upload of a file of the given size
    // whose blocks reached the running totals given.
    static std::vector<std::string> SuccessfulUpload(std::int64_t size, const std::vector<std::int64_t> &totals)
    {
        std::vector<std::string> out = Join(Closing(), {"hsConnecting Connecting to 127.0.0.1.",
                                                        "hsConnected Connected.", "OnConnected",
                                                        "ftpReady Connection established",
                                                        "ftpTransfer Starting FTP transfer",
                                                        "OnWorkBegin wmWrite " + std::to_string(size)});
        for (auto t : totals)
            out.push_back("OnWork wmWrite " + std::to_string(t));
        return Join(Join(out, {"OnWorkEnd wmWrite", "ftpReady Transfer complete"}), Closing());
    }

    qv::TIdFTP ftp;
    qvtest::Recorder rec;

    static inline std::unique_ptr<qv::test::ScratchDir> files;
    static inline std::unique_ptr<qv::test::FtpServer> server;
};

}  // namespace

TEST_F(RealFtpServer, StoresTheFileByteExactUnderTheUploadName)
{
    const std::string content = qvtest::Pattern(1000, 3);
    const std::string local = qvtest::WriteFile(files->path(), "Arch2026-12-08_1415.cab", content);
    const std::string remote = qv::RemoteFileName(qv::SenderIdentifier(), qv::LocalNow());
    Upload(local, remote);
    EXPECT_EQ(rec.events, SuccessfulUpload(1000, {1000}));
    EXPECT_EQ(Stored(remote), content);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ftp.LastCmdResult().NumericCode, 226);
}

TEST_F(RealFtpServer, SeventyThousandBytesGoInThreeBlocks)
{
    const std::string content = qvtest::Pattern(70000, 4);
    const std::string local = qvtest::WriteFile(files->path(), "seventy.cab", content);
    Upload(local, "seventy~2026-12-08_141502.cab");
    EXPECT_EQ(rec.events, SuccessfulUpload(70000, {32768, 65536, 70000}));
    EXPECT_EQ(Stored("seventy~2026-12-08_141502.cab"), content);
}

TEST_F(RealFtpServer, EmptyFileIsStoredEmpty)
{
    const std::string local = qvtest::WriteFile(files->path(), "empty.cab", "");
    const std::string remote = "empty~2026-12-08_141503.cab";
    Upload(local, remote);
    EXPECT_EQ(rec.events, SuccessfulUpload(0, {}));
    const std::vector<std::string> names = server->storedNames();
    EXPECT_NE(std::find(names.begin(), names.end(), remote), names.end());
    EXPECT_EQ(Stored(remote), "");
}

TEST_F(RealFtpServer, TwoUploadsInARowWithOneSession)
{
    const std::string first = qvtest::Pattern(40000, 5), second = qvtest::Pattern(12345, 6);
    const std::string local1 = qvtest::WriteFile(files->path(), "first.cab", first);
    const std::string local2 = qvtest::WriteFile(files->path(), "second.cab", second);
    const std::time_t now = std::time(nullptr);
    const std::string remote1 = qv::RemoteFileName(qv::SenderIdentifier(), LocalTime(now - 3600));
    const std::string remote2 = qv::RemoteFileName(qv::SenderIdentifier(), LocalTime(now - 3599));

    Upload(local1, remote1);
    EXPECT_EQ(rec.events, SuccessfulUpload(40000, {32768, 40000}));
    rec.events.clear();
    Upload(local2, remote2);
    EXPECT_EQ(rec.events, SuccessfulUpload(12345, {12345}));
    EXPECT_EQ(Stored(remote1), first);
    EXPECT_EQ(Stored(remote2), second);
}

TEST_F(RealFtpServer, RefusalsOfARealServer)
{
    // A missing folder: refused, and the session stays open for the next try.
    ftp.OpenSession(true);
    int code = 0;
    try {
        ftp.ChangeFolder("no-such-folder");
    } catch (const qv::EIdReplyError &e) {
        code = e.ReplyCode();
    }
    EXPECT_EQ(code, 550);
    EXPECT_TRUE(ftp.Connected());
    ftp.ChangeFolder("dane");
    ftp.CloseSession();

    // A wrong password: the opening fails and closes the session.
    rec.events.clear();
    ftp.Password = "wrong";
    code = 0;
    try {
        ftp.OpenSession(true);
    } catch (const qv::EIdReplyError &e) {
        code = e.ReplyCode();
    }
    EXPECT_EQ(code, 530);
    EXPECT_EQ(rec.events, Join({"hsConnecting Connecting to 127.0.0.1.", "hsConnected Connected.", "OnConnected"},
                               Closing()));
    EXPECT_FALSE(ftp.Connected());
}
