// The settings file survives a writer killed at any moment: a child process writes the program's keys
// through write_setting in an endless loop and is killed with SIGKILL at random moments, hundreds of
// times. After every kill the file must hold exactly the content of some completed write, never an
// earlier one than after the previous kill and none before the last write the writer reported finished,
// every key must read back either its old or its new value, and at most the temporary file of the
// writer just killed may be left beside it.

#include "runtime/settings/profile.h"
#include "runtime/settings/settings.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vorsa::runtime {
namespace {

using vorsa::test_files::read_bytes;

using namespace literals;
namespace fs = std::filesystem;

struct Key
{
    const char* section;
    const char* key;
};

// The sections and keys the program keeps in its settings file.
constexpr std::array<Key, 7> keys = {{
    {"pingpai", "onlinepingpai"},
    {"print", "pplist"},
    {"print", "dm"},
    {"print", "yyy"},
    {"print", "xsd"},
    {"dayinji", "dyjm"},
    {"ls", "ls"},
}};
constexpr long key_count = static_cast<long>(keys.size());

// The writes form one sequence: write number `step` gives key step % 7 its value of generation
// step / 7. Values are GBK texts whose length changes from one generation to the next, so a file cut
// short or mixed from two writes cannot pass for a whole one.
Text value_of(long generation, long key)
{
    Text value = "第"_gbk + std::to_string(generation) + "代"_gbk + std::to_string(key) + ",";
    const Text filler = "跑鞋|42|399.00|*|"_gbk;
    for (long i = 0; i < (generation * 3 + key) % 11 * 40; ++i)
        value += filler;
    return value + "#" + std::to_string(generation);
}

// The generation a value read back claims, or -1 when it is no value of that key at all.
long generation_of(const Text& value, long key)
{
    const std::size_t hash = value.rfind('#');
    if (hash == Text::npos || hash + 1 == value.size()) return -1;
    const std::string digits = value.substr(hash + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) return -1;
    const long generation = std::stol(digits);
    return value == value_of(generation, key) ? generation : -1;
}

// The content after writes 0 .. `step` applied in order to `content`, which holds those before `from`.
Text advance(Text content, long from, long step)
{
    for (long s = from; s <= step; ++s)
        content = profile_assign(content, keys[s % key_count].section, keys[s % key_count].key,
                                 value_of(s / key_count, s % key_count));
    return content;
}

std::vector<std::string> temp_files(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".dy.cfg.vorsa-tmp-", 0) == 0) names.push_back(name);
    }
    return names;
}

class SettingsCrashTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "vorsa_settings_crash.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_path = (m_dir / "dy.cfg").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
    std::string m_path;
};

TEST_F(SettingsCrashTest, KilledWritersLeaveAWholeFileAndNoPileOfTemporaryFiles)
{
    // Generation 0 of every key, as writes 0 .. 6 leave it.
    long step = key_count - 1;
    Text expected = advance({}, 0, step);
    const auto first_writes = std::chrono::steady_clock::now();
    for (long k = 0; k < key_count; ++k)
        ASSERT_TRUE(write_setting(m_path, keys[k].section, keys[k].key, value_of(0, k)));
    ASSERT_EQ(read_bytes(m_path), expected);

    // Each writer reports every write it has finished on a pipe. The parent waits for none, one or two
    // reports and then kills after a random pause of up to a few writes on this file system (its sync
    // may take milliseconds): so writers die right after a write they reported, and inside the next.
    const auto write_us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - first_writes)
            .count() /
        key_count;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed) + ", one write " + std::to_string(write_us) + " us");
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay_us(0, std::clamp<long>(write_us * 4, 1000, 40000));
    std::uniform_int_distribution<int> awaited_reports(0, 2);

    // Both sides of the race must be seen: a kill after finished writes (the file advanced) and a kill
    // inside a write (its temporary file left). However slow the machine, the kills go on until both
    // were seen; only a writer that never dies inside a write in thousands of kills fails.
    constexpr int least_kills = 300;
    constexpr int most_kills = 5000;
    int kills = 0;
    int advanced = 0;
    int temp_left = 0;
    const auto started = std::chrono::steady_clock::now();
    for (; kills < least_kills || ((advanced == 0 || temp_left == 0) && kills < most_kills); ++kills) {
        SCOPED_TRACE("kill " + std::to_string(kills));
        int reports[2];
        ASSERT_EQ(::pipe2(reports, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Goes on with the sequence where the last writer stopped, until killed.
            ::close(reports[0]);
            for (long s = step + 1;; ++s) {
                write_setting(m_path, keys[s % key_count].section, keys[s % key_count].key,
                              value_of(s / key_count, s % key_count));
                (void)!::write(reports[1], "w", 1);
            }
        }
        ::close(reports[1]);
        long reported = 0;
        char byte = 0;
        // A writer that ended by itself closes the pipe; the check after the kill reports it.
        for (int wanted = awaited_reports(random); reported < wanted && ::read(reports[0], &byte, 1) == 1;)
            ++reported;
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended by itself";
        // The reports the writer made before it died, up to the end of the pipe.
        char rest[256];
        for (ssize_t got = 0; (got = ::read(reports[0], rest, sizeof rest)) > 0;)
            reported += got;
        ::close(reports[0]);

        // Every key reads back as a value of the sequence; the newest one names the last whole write.
        std::array<long, keys.size()> generations{};
        long last = -1;
        for (long k = 0; k < key_count; ++k) {
            const Text value = read_setting(m_path, keys[k].section, keys[k].key);
            generations[k] = generation_of(value, k);
            ASSERT_GE(generations[k], 0) << keys[k].key << " reads back as " << value.substr(0, 40);
            last = std::max(last, generations[k] * key_count + k);
        }
        // Every write the writer reported is in the file, and at most the one it was killed in besides.
        ASSERT_GE(last, step + reported) << "a finished write was lost";
        ASSERT_LE(last, step + reported + 1);
        // Each key holds its value of that write or its one before: old or new, nothing else.
        for (long k = 0; k < key_count; ++k)
            EXPECT_EQ(generations[k], k <= last % key_count ? last / key_count : last / key_count - 1)
                << keys[k].key;
        // And the whole file is byte for byte what that write produced.
        expected = advance(expected, step + 1, last);
        ASSERT_EQ(read_bytes(m_path), expected);
        advanced += last > step;
        step = last;

        const auto temps = temp_files(m_dir);
        ASSERT_LE(temps.size(), 1u) << "temporary files pile up";
        temp_left += !temps.empty();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d kills in %.1f s (one write %ld us): the file advanced after %d, %ld writes completed in "
                "all, a temporary file was left after %d\n",
                kills, seconds, static_cast<long>(write_us), advanced, step + 1, temp_left);
    EXPECT_GT(advanced, 0) << "no writer finished a write in " << kills << " kills";
    EXPECT_GT(temp_left, 0) << "no kill landed while a temporary file existed in " << kills << " kills";

    // The next write clears what the last killed writer left.
    ASSERT_TRUE(write_setting(m_path, "print", "yyy", "店员甲"_gbk));
    EXPECT_TRUE(temp_files(m_dir).empty());
    EXPECT_EQ(read_setting(m_path, "print", "yyy"), "店员甲"_gbk);
}

// Only files of the writer's own naming that belong to this user and whose lock is free are removed: a
// live writer's file (its lock held), files of other names (a user's backup among them), and a link,
// directory or second name of a file that only looks like a temporary file stay.
TEST_F(SettingsCrashTest, CleaningSparesLiveWritersAndOtherFiles)
{
    const auto make = [&](const std::string& name) {
        std::ofstream(m_dir / name, std::ios::binary) << "x";
        return (m_dir / name).string();
    };
    const std::string live = make(".dy.cfg.vorsa-tmp-Live01");
    const int live_fd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(live_fd, 0);
    ASSERT_EQ(::flock(live_fd, LOCK_EX), 0);

    const std::vector<std::string> spared = {
        ".dy.cfg.vorsa-tmp-Live01",  // locked by a writer at work
        ".dy.cfg.vorsa-tmp-abc",     // too short for the pattern
        ".dy.cfg.vorsa-tmp-abcdefg", // too long
        ".dy.cfg.vorsa-tmp-ab-def",  // not letters and digits
        "dy.cfg.vorsa-tmp-abcdef",   // no leading dot
        ".dy.cfx.vorsa-tmp-abcdef",  // another file's
        ".dy.cfg.backup",            // six letters, but a user's name
        ".dy.cfg.Stale1",            // likewise
        ".other.abcdef",
        "dy.cfg.bak",
        "kept.cfg", // a second name of the next one
    };
    for (const auto& name : spared)
        if (name != ".dy.cfg.vorsa-tmp-Live01") make(name);
    ASSERT_EQ(::link((m_dir / "kept.cfg").c_str(), (m_dir / ".dy.cfg.vorsa-tmp-Hard01").c_str()), 0);
    make("target.cfg");
    ASSERT_EQ(::symlink("target.cfg", (m_dir / ".dy.cfg.vorsa-tmp-Link01").c_str()), 0);
    fs::create_directory(m_dir / ".dy.cfg.vorsa-tmp-Dir001");
    make(".dy.cfg.vorsa-tmp-Stale1");
    make(".dy.cfg.vorsa-tmp-STALE2");

    ASSERT_TRUE(write_setting(m_path, "print", "yyy", "a"));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(m_dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected = spared;
    for (const char* name : {"target.cfg", ".dy.cfg.vorsa-tmp-Link01", ".dy.cfg.vorsa-tmp-Dir001",
                             ".dy.cfg.vorsa-tmp-Hard01", "dy.cfg"})
        expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    ::close(live_fd);

    // Once its writer is gone, the formerly live file goes with the next write.
    ASSERT_TRUE(write_setting(m_path, "print", "yyy", "b"));
    EXPECT_FALSE(fs::exists(live));
    EXPECT_EQ(read_setting(m_path, "print", "yyy"), "b");
}

} // namespace
} // namespace vorsa::runtime
