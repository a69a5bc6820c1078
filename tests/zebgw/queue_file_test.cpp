// The queue file: records in order across a reopening, never past its bound, the oldest dropped
// first, what was not confirmed read again, and a torn end or a foreign file met soundly.
#include "queue_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zebgw {
namespace {

namespace fs = std::filesystem;

class QueueFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zebgw-queue-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "queue").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string record(int n) {
        return "record " + std::to_string(n) + std::string(40, '.');
    }

    static std::vector<std::string> read_all(QueueFile& q) {
        std::vector<std::string> out;
        std::string r;
        uint64_t at = 0;
        while (q.read(&r, &at)) out.push_back(r);
        return out;
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(QueueFileTest, RecordsComeBackInOrderAfterAReopening) {
    std::string error;
    {
        QueueFile q;
        ASSERT_TRUE(q.open(path_, 1 << 20, &error)) << error;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(q.append(record(i)), 0u);
        EXPECT_EQ(q.unread(), 5u);
    }
    QueueFile q;
    ASSERT_TRUE(q.open(path_, 1 << 20, &error)) << error;
    EXPECT_EQ(q.torn(), 0u);
    EXPECT_EQ(read_all(q),
              (std::vector<std::string>{record(0), record(1), record(2), record(3), record(4)}));
}

TEST_F(QueueFileTest, TheBoundIsKeptByDroppingTheOldestQuarterWhenFull) {
    std::string error;
    QueueFile q;
    ASSERT_TRUE(q.open(path_, QueueFile::kMinBytes, &error)) << error;
    uint64_t dropped = 0;
    const int n = 200;  // about three times what the bound holds
    for (int i = 0; i < n; ++i) {
        dropped += q.append(record(i));
        ASSERT_LE(fs::file_size(path_), QueueFile::kMinBytes) << "after record " << i;
    }
    const std::vector<std::string> left = read_all(q);
    ASSERT_FALSE(left.empty());
    EXPECT_EQ(dropped + left.size(), uint64_t{n});
    // What is left is the newest, in order.
    for (size_t i = 0; i < left.size(); ++i) EXPECT_EQ(left[i], record(int(n - left.size() + i)));
    // A record that could never fit is refused alone.
    EXPECT_EQ(q.append(std::string(QueueFile::kMinBytes, 'x')), 1u);
}

TEST_F(QueueFileTest, WhatWasNotConfirmedIsReadAgainAndWhatWasIsNot) {
    std::string error;
    {
        QueueFile q;
        ASSERT_TRUE(q.open(path_, 1 << 20, &error)) << error;
        for (int i = 0; i < 4; ++i) q.append(record(i));
        std::string r;
        uint64_t at[4] = {};
        for (uint64_t& a : at) ASSERT_TRUE(q.read(&r, &a));
        // 0 was acknowledged; 1 to 3 were in flight when the connection broke.
        q.resume_from(at[1]);
        EXPECT_EQ(q.unread(), 3u);
        EXPECT_EQ(read_all(q), (std::vector<std::string>{record(1), record(2), record(3)}));
        q.delivered_up_to(at[2]);
    }
    // A restart sends what was not confirmed: 2 and 3.
    QueueFile q;
    ASSERT_TRUE(q.open(path_, 1 << 20, &error)) << error;
    const std::vector<std::string> left = read_all(q);
    EXPECT_EQ(left, (std::vector<std::string>{record(2), record(3)}));
    // All delivered: the file holds its head alone.
    q.delivered_up_to(q.read_position());
    EXPECT_EQ(fs::file_size(path_), QueueFile::kHeadSize);
}

TEST_F(QueueFileTest, ATornOrDamagedEndIsDroppedAndCounted) {
    struct Row {
        const char* what;
        int cut;        // bytes cut off the end
        int damage_at;  // from the end, a byte changed; -1 for none
    } rows[] = {
        {"the last record cut short", 5, -1},
        {"the last record's head cut short", 48 + 4, -1},
        {"a byte of the last record changed", 0, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove(path_);
        std::string error;
        {
            QueueFile q;
            ASSERT_TRUE(q.open(path_, 1 << 20, &error)) << error;
            for (int i = 0; i < 3; ++i) q.append(record(i));
        }
        const auto size = fs::file_size(path_);
        if (row.cut) fs::resize_file(path_, size - row.cut);
        if (row.damage_at >= 0) {
            std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(size - 1 - row.damage_at));
            f.put('#');
        }
        QueueFile q;
        ASSERT_TRUE(q.open(path_, 1 << 20, &error)) << error;
        EXPECT_EQ(q.torn(), 1u);
        EXPECT_EQ(read_all(q), (std::vector<std::string>{record(0), record(1)}));
        // Records added after it follow the whole ones.
        q.append(record(9));
        EXPECT_EQ(read_all(q), std::vector<std::string>{record(9)});
    }
}

TEST_F(QueueFileTest, AFileThatIsNoQueueIsRefusedAndLeftAlone) {
    const std::string text = "[gateway]\nname = \"cell\"\n";
    std::ofstream(path_) << text;
    std::string error;
    QueueFile q;
    EXPECT_FALSE(q.open(path_, 1 << 20, &error));
    EXPECT_NE(error.find("is not a zebgw queue file"), std::string::npos) << error;
    EXPECT_EQ(fs::file_size(path_), text.size());
    EXPECT_FALSE(QueueFile::usable((dir_ / "no-such-folder" / "queue").string(), &error));
    EXPECT_NE(error.find("cannot make the queue file"), std::string::npos) << error;
}

}  // namespace
}  // namespace zebgw
