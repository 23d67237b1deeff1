// The run's image-file store: one read per file, failures not kept, the
// byte budget, the length limit and the run scope.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "update/imagefile.h"

namespace {

namespace fs = std::filesystem;

class ImageFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tf_imagefile_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // A file of size bytes, byte i = seed + i.
    std::string Make(const std::string &name, size_t size, uint8_t seed) {
        std::vector<char> bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(seed + i);
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
        return p.string();
    }
    static bool Holds(std::span<const uint8_t> data, size_t size, uint8_t seed) {
        if (data.size() != size) return false;
        for (size_t i = 0; i < size; ++i)
            if (data[i] != static_cast<uint8_t>(seed + i)) return false;
        return true;
    }
    fs::path dir_;
};

TEST_F(ImageFiles, EachFileIsReadOnceAndShared) {
    const std::string a = Make("a.bin", 5000, 1);
    ImageFileStore store(1 << 20);
    std::span<const uint8_t> first, again;
    ASSERT_EQ(store.Get(a.c_str(), first), ImageFileStatus::Ok);
    EXPECT_TRUE(Holds(first, 5000, 1));
    // Changed on disk after the first read: the run keeps what it read.
    Make("a.bin", 10, 9);
    ASSERT_EQ(store.Get(a.c_str(), again), ImageFileStatus::Ok);
    EXPECT_EQ(again.data(), first.data());
    EXPECT_TRUE(Holds(again, 5000, 1));
    EXPECT_EQ(store.FilesRead(), 1u);
    EXPECT_EQ(store.HeldBytes(), 5000u);
}

TEST_F(ImageFiles, FailuresAreReportedAndNotKept) {
    ImageFileStore store;
    std::span<const uint8_t> data;
    const std::string missing = (dir_ / "missing.bin").string();
    EXPECT_EQ(store.Get(missing.c_str(), data), ImageFileStatus::CannotOpen);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(store.Get(nullptr, data), ImageFileStatus::CannotOpen);
    EXPECT_EQ(store.Get("", data), ImageFileStatus::CannotOpen);
    EXPECT_EQ(store.FilesHeld(), 0u);
    // A file that appears later is read then.
    Make("missing.bin", 64, 3);
    ASSERT_EQ(store.Get(missing.c_str(), data), ImageFileStatus::Ok);
    EXPECT_TRUE(Holds(data, 64, 3));

    // A folder opens but gives no bytes (or no length).
    const ImageFileStatus folder = store.Get(dir_.c_str(), data);
    EXPECT_TRUE(folder == ImageFileStatus::ReadFailed || folder == ImageFileStatus::CannotMeasure)
        << static_cast<int>(folder);
    EXPECT_LE(store.FilesHeld(), 1u);
    ASSERT_EQ(store.Get(missing.c_str(), data), ImageFileStatus::Ok);
    EXPECT_TRUE(Holds(data, 64, 3));

    // An empty file is a file of no bytes, not a failure.
    const std::string empty = Make("empty.bin", 0, 0);
    ASSERT_EQ(store.Get(empty.c_str(), data), ImageFileStatus::Ok);
    EXPECT_TRUE(data.empty());
}

// The budget bounds what is kept: images used longest ago are pushed out
// first, a pushed-out image is read again when asked for, and an image
// larger than the budget is kept alone.
TEST_F(ImageFiles, BudgetPushesOutTheImageUsedLongestAgo) {
    const std::string a = Make("a.bin", 4096, 10);
    const std::string b = Make("b.bin", 4096, 20);
    const std::string c = Make("c.bin", 2048, 30);
    const std::string big = Make("big.bin", 20000, 40);
    struct Step {
        const std::string *path;
        size_t size;
        uint8_t seed;
        size_t readsAfter;
    };
    const struct {
        size_t budget;
        std::vector<Step> steps;
        size_t maxHeld;
    } cases[] = {
        // Room for two: alternating files are read once each.
        {8192, {{&a, 4096, 10, 1}, {&b, 4096, 20, 2}, {&a, 4096, 10, 2}, {&b, 4096, 20, 2}}, 8192},
        // Room for one: each switch reads again (the same-size storage is
        // reused and must hold the new file's bytes).
        {4096, {{&a, 4096, 10, 1}, {&b, 4096, 20, 2}, {&a, 4096, 10, 3}, {&a, 4096, 10, 3}}, 4096},
        // a, b used; a used again; c pushes out b (used longest ago), not
        // a; b comes back and pushes out c.
        {9216,
         {{&a, 4096, 10, 1},
          {&b, 4096, 20, 2},
          {&a, 4096, 10, 2},
          {&c, 2048, 30, 3},
          {&a, 4096, 10, 3},
          {&b, 4096, 20, 4},
          {&a, 4096, 10, 4}},
         9216},
        // Larger than the budget: kept alone, then pushed out by the next.
        {4096, {{&a, 4096, 10, 1}, {&big, 20000, 40, 2}, {&big, 20000, 40, 2}, {&c, 2048, 30, 3}}, 20000},
    };
    for (const auto &tc : cases) {
        ImageFileStore store(tc.budget);
        size_t n = 0;
        for (const Step &s : tc.steps) {
            std::span<const uint8_t> data;
            ASSERT_EQ(store.Get(s.path->c_str(), data), ImageFileStatus::Ok);
            EXPECT_TRUE(Holds(data, s.size, s.seed)) << "budget " << tc.budget << " step " << n;
            EXPECT_EQ(store.FilesRead(), s.readsAfter) << "budget " << tc.budget << " step " << n;
            EXPECT_LE(store.HeldBytes(), tc.maxHeld) << "budget " << tc.budget << " step " << n;
            ++n;
        }
    }
}

// A file longer than the caller takes is measured, not read or kept; one
// already kept is refused the same way.
TEST_F(ImageFiles, LengthLimit) {
    const std::string a = Make("a.bin", 100, 5);
    const std::string b = Make("b.bin", 50, 6);
    ImageFileStore store;
    std::span<const uint8_t> data;
    size_t length = 0;
    ASSERT_EQ(store.Get(b.c_str(), data), ImageFileStatus::Ok);
    EXPECT_EQ(store.Get(a.c_str(), data, 99, &length), ImageFileStatus::TooLarge);
    EXPECT_EQ(length, 100u);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(store.FilesRead(), 1u);
    EXPECT_EQ(store.FilesHeld(), 1u);
    ASSERT_EQ(store.Get(a.c_str(), data, 100, &length), ImageFileStatus::Ok);
    EXPECT_TRUE(Holds(data, 100, 5));
    EXPECT_EQ(store.Get(a.c_str(), data, 10, &length), ImageFileStatus::TooLarge);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(store.FilesRead(), 2u);
}

// Outside a run the caller's own store serves; a run's store serves every
// reader inside it, also inside a nested run.
TEST_F(ImageFiles, RunScope) {
    const std::string a = Make("a.bin", 300, 7);
    ImageFileStore own;
    EXPECT_EQ(&RunImageFiles(own), &own);
    {
        ImageFileRun run;
        ImageFileStore &store = RunImageFiles(own);
        EXPECT_NE(&store, &own);
        std::span<const uint8_t> data;
        ASSERT_EQ(store.Get(a.c_str(), data), ImageFileStatus::Ok);
        {
            ImageFileRun inner;
            EXPECT_EQ(&RunImageFiles(own), &store);
            ASSERT_EQ(RunImageFiles(own).Get(a.c_str(), data), ImageFileStatus::Ok);
            EXPECT_EQ(store.FilesRead(), 1u);
        }
        EXPECT_EQ(&RunImageFiles(own), &store);
    }
    EXPECT_EQ(&RunImageFiles(own), &own);
}

// The reader measures at Open and reads at ReadInto: the bytes are those
// on disk at the read; a file that shrank in between, or a buffer of
// another size, is a failed read and never a partly filled buffer taken
// for whole.
TEST_F(ImageFiles, ReaderReadsIntoTheCallersBuffer) {
    const std::string a = Make("a.bin", 300, 7);
    {
        ImageFileReader file;
        ASSERT_EQ(file.Open(a.c_str()), ImageFileStatus::Ok);
        ASSERT_EQ(file.size(), 300u);
        Make("a.bin", 300, 8);
        std::vector<uint8_t> out(300);
        ASSERT_EQ(file.ReadInto(out), ImageFileStatus::Ok);
        EXPECT_TRUE(Holds(out, 300, 8));
        std::vector<uint8_t> wrong(299);
        EXPECT_EQ(file.ReadInto(wrong), ImageFileStatus::ReadFailed);
    }
    {
        ImageFileReader file;
        ASSERT_EQ(file.Open(a.c_str()), ImageFileStatus::Ok);
        Make("a.bin", 100, 9);
        std::vector<uint8_t> out(300);
        EXPECT_EQ(file.ReadInto(out), ImageFileStatus::ReadFailed);
    }
    const struct {
        std::string path;
        size_t max;
        ImageFileStatus want;
    } opens[] = {
        {(dir_ / "missing.bin").string(), SIZE_MAX, ImageFileStatus::CannotOpen},
        {"", SIZE_MAX, ImageFileStatus::CannotOpen},
        {a, 99, ImageFileStatus::TooLarge},
        {a, 100, ImageFileStatus::Ok},
    };
    for (const auto &o : opens) {
        ImageFileReader file;
        EXPECT_EQ(file.Open(o.path.c_str(), o.max), o.want) << o.path << " " << o.max;
    }
    ImageFileReader never;
    std::vector<uint8_t> none;
    EXPECT_EQ(never.ReadInto(none), ImageFileStatus::ReadFailed);
}

} // namespace
